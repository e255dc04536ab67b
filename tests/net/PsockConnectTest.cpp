// Connecting, closing, time-out and the notifications of TPowersock against
// peers on 127.0.0.1.
#include "LoopbackPeer.h"
#include "net/Psock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

using nettest::LoopbackPeer;

namespace {

class PsockConnect : public ::testing::Test {
protected:
    void TearDown() override { SetPumpMessagesHook({}); }

    std::vector<std::string> Statuses;
    void Record(TPowersock& s) {
        s.ReportLevel = 8;
        s.OnStatus = [this](TPowersock*, const std::string& t) { Statuses.push_back(t); };
    }
    long Count(const std::string& text) const {
        return std::count(Statuses.begin(), Statuses.end(), text);
    }
};

std::string ConnectError(TPowersock& s) {
    try {
        s.Connect();
    } catch (const ESockError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST_F(PsockConnect, NewInstanceDefaults) {
    TPowersock s;
    EXPECT_EQ(s.Host, "");
    EXPECT_EQ(s.Port, 0);
    EXPECT_EQ(s.TimeOut, 0);
    EXPECT_EQ(s.ReportLevel, 0);
    EXPECT_EQ(s.Proxy, "");
    EXPECT_FALSE(s.Connected);
    EXPECT_FALSE(s.Canceled);
    EXPECT_EQ(s.Status, "");
    EXPECT_NE(s.GetSocket(), INVALID_SOCKET);
}

TEST_F(PsockConnect, DottedAddressConnectsWithoutLookup) {
    LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    Record(s);
    int resolved = 0, connected = 0;
    s.OnHostResolved = [&](TPowersock*) { ++resolved; };
    s.OnConnect = [&](TPowersock* sender) {
        EXPECT_EQ(sender, &s);
        ++connected;
    };
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connected, 1);
    // Only the connect wait started the timer; a lookup would have started it too.
    EXPECT_EQ(Count("Resolve Host"), 1);
    EXPECT_EQ(Count("Timer On"), 1);
    EXPECT_EQ(Statuses.front(), "Connecting");
    EXPECT_EQ(s.GetLocalAddress(), "127,0,0,1");
    EXPECT_EQ(ntohs(s.RemoteAddress.Port), peer.Port());
    EXPECT_EQ(ntohl(s.RemoteAddress.Addr), INADDR_LOOPBACK);
}

TEST_F(PsockConnect, NameIsLookedUpAndReported) {
    LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    Record(s);
    int resolved = 0;
    s.OnHostResolved = [&](TPowersock*) {
        EXPECT_EQ(ntohl(s.RemoteAddress.Addr), INADDR_LOOPBACK);
        ++resolved;
    };
    s.Host = "localhost"; // from the hosts file, no name server involved
    s.Port = peer.Port();
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(Count("Timer On"), 2);
}

TEST_F(PsockConnect, AlreadyConnected) {
    LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    EXPECT_EQ(ConnectError(s), "Already connected");
    EXPECT_TRUE(s.Connected);
}

TEST_F(PsockConnect, RefusedPortRaisesConnectionFailedAfterEvent) {
    TPowersock s;
    std::vector<std::string> order;
    int errors = 0;
    s.OnConnectionFailed = [&](TPowersock*) { order.push_back("OnConnectionFailed"); };
    s.OnError = [&](TPowersock*, uint16_t, const std::string&) { ++errors; };
    s.Host = "127.0.0.1";
    s.Port = nettest::RefusedPort();
    try {
        s.Connect();
        FAIL() << "connected to a closed port";
    } catch (const ESockError& e) {
        order.push_back(e.what());
    }
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "OnConnectionFailed");
    EXPECT_EQ(order[1], "Connection Failed");
    EXPECT_FALSE(s.Connected);
    EXPECT_FALSE(s.NotifyOk);
    EXPECT_EQ(s.LastErrorNo, 10061);
    EXPECT_EQ(errors, 0);
}

TEST_F(PsockConnect, SameInstanceConnectsAfterAFailure) {
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = nettest::RefusedPort();
    EXPECT_EQ(ConnectError(s), "Connection Failed");
    LoopbackPeer peer(nettest::HoldOpen);
    s.Port = peer.Port();
    s.Connect();
    EXPECT_TRUE(s.Connected);
}

TEST_F(PsockConnect, UnresolvableNameGivesNullRemoteAddress) {
    TPowersock s;
    int failed = 0;
    s.OnConnectionFailed = [&](TPowersock*) { ++failed; };
    s.Host = nettest::UnresolvableName();
    s.Port = 21;
    EXPECT_EQ(ConnectError(s), "Null Remote Address");
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(failed, 0); // no connection was attempted
}

TEST_F(PsockConnect, InvalidHostHandlerFixesHostAndLookupRunsOnceMore) {
    LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    int calls = 0;
    s.OnInvalidHost = [&](bool& handled) {
        ++calls;
        s.Host = "127.0.0.1";
        handled = true;
    };
    s.Host = nettest::UnresolvableName();
    s.Port = peer.Port();
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(calls, 1);
}

TEST_F(PsockConnect, InvalidHostRetriedExactlyOnce) {
    TPowersock s;
    Record(s);
    int calls = 0;
    s.OnInvalidHost = [&](bool& handled) {
        ++calls;
        handled = true; // claims a fix but the name stays bad
    };
    s.Host = nettest::UnresolvableName();
    s.Port = 21;
    EXPECT_EQ(ConnectError(s), "Null Remote Address");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Count("Resolve Host"), 2);
}

TEST_F(PsockConnect, InvalidHostNotHandled) {
    TPowersock s;
    int calls = 0;
    s.OnInvalidHost = [&](bool&) { ++calls; };
    s.Host = nettest::UnresolvableName();
    EXPECT_EQ(ConnectError(s), "Null Remote Address");
    EXPECT_EQ(calls, 1);
}

TEST_F(PsockConnect, TimeOutAgainstSilentHost) {
    nettest::SilentHost silent;
    ASSERT_TRUE(silent.Ready()) << "could not fill the listen queue";
    TPowersock s;
    int failed = 0;
    s.OnConnectionFailed = [&](TPowersock*) { ++failed; };
    s.Host = "127.0.0.1";
    s.Port = silent.Port();
    s.TimeOut = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectError(s), "Connection Timed out");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 3000);
    EXPECT_TRUE(s.TimedOut);
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(failed, 1);
}

TEST_F(PsockConnect, CancelFromEventHandlerDuringConnect) {
    nettest::SilentHost silent;
    ASSERT_TRUE(silent.Ready());
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = silent.Port();
    int passes = 0;
    SetPumpMessagesHook([&] {
        if (++passes == 20)
            s.Cancel();
    });
    EXPECT_EQ(ConnectError(s), "Connection Canceled");
    EXPECT_TRUE(s.Canceled); // left set, as the wait was ended by it
}

TEST_F(PsockConnect, ProxyIsUsedInsteadOfHost) {
    LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    int resolved = 0;
    s.OnHostResolved = [&](TPowersock*) { ++resolved; };
    s.Host = nettest::UnresolvableName(); // would fail if it were looked up
    s.Port = nettest::RefusedPort();      // would be refused if it were used
    s.Proxy = "127.0.0.1";
    s.ProxyPort = static_cast<uint16_t>(peer.Port());
    s.Connect();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(ntohs(s.RemoteAddress.Port), peer.Port());
}

TEST_F(PsockConnect, DisconnectLeavesAFreshSocket) {
    LoopbackPeer peer([](LoopbackPeer& p, int fd) {
        // The client's close arrives as a reset (linger 0) or an end.
        p.ReadToEnd(fd, 3000);
    });
    TPowersock s;
    Record(s);
    int disconnects = 0;
    s.OnDisconnect = [&](TPowersock*) { ++disconnects; };
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    s.Disconnect();
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(s.GetSocket(), INVALID_SOCKET);
    EXPECT_EQ(Count("Disconnecting"), 1);
    EXPECT_EQ(Count("Request Close Socket"), 1);
}

TEST_F(PsockConnect, IdleConnectionClosedByPeerLeavesConnectedFalse) {
    LoopbackPeer peer([](LoopbackPeer& p, int) { p.SleepMs(50); });
    TPowersock s;
    int disconnects = 0;
    s.OnDisconnect = [&](TPowersock*) { ++disconnects; };
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    EXPECT_TRUE(s.Connected);
    // The program's event loop calls the dispatch while no operation waits.
    for (int i = 0; i < 300 && s.Connected; ++i) {
        DispatchSocketEvents();
        usleep(10000);
    }
    EXPECT_FALSE(s.Connected);
    EXPECT_EQ(disconnects, 1);
    // The instance can connect again.
    LoopbackPeer second(nettest::HoldOpen);
    s.Port = second.Port();
    s.Connect();
    EXPECT_TRUE(s.Connected);
}

TEST_F(PsockConnect, CloseWithUnreadDataIsLeftToTheReader) {
    LoopbackPeer peer([](LoopbackPeer& p, int fd) { p.SendAll(fd, "421 Timeout.\r\n"); });
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    for (int i = 0; i < 100 && !peer.Finished(); ++i)
        usleep(10000);
    for (int i = 0; i < 20; ++i)
        DispatchSocketEvents();
    EXPECT_TRUE(s.Connected);
    EXPECT_EQ(s.ReadLn(), "421 Timeout.\r\n");
    EXPECT_EQ(s.ReadLn(), ""); // the end of the stream
}

TEST_F(PsockConnect, CertifyConnect) {
    TPowersock s;
    int asked = 0;
    s.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    try {
        s.CertifyConnect();
        FAIL();
    } catch (const ESockError&) {
        FAIL() << "wrong exception class";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
    EXPECT_EQ(asked, 1);
}

TEST_F(PsockConnect, TimeOutZeroRunsNoTimer) {
    TPowersock s;
    s.TimeOut = 0;
    s.TimerOn();
    for (int i = 0; i < 10; ++i)
        PumpMessages(2);
    EXPECT_FALSE(s.TimedOut);
    s.TimerOff();
}

TEST_F(PsockConnect, StatusFilteredByReportLevel) {
    TPowersock s;
    std::vector<std::string> seen;
    s.OnStatus = [&](TPowersock*, const std::string& t) { seen.push_back(t); };
    s.StatusMessage(8, "Write");
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(s.Status, "");
    s.ReportLevel = 4;
    s.StatusMessage(8, "Write");
    s.StatusMessage(4, "Sending Buffer");
    s.StatusMessage(1, "220 Hello");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Sending Buffer");
    EXPECT_EQ(s.Status, "220 Hello");
}

TEST_F(PsockConnect, LookupCanceledAndLateResultDropped) {
    {
        TPowersock s;
        int resolved = 0;
        s.OnHostResolved = [&](TPowersock*) { ++resolved; };
        s.Host = "localhost";
        s.Port = 21;
        SetPumpMessagesHook([&] { s.Cancel(); });
        EXPECT_EQ(ConnectError(s), "Host Lookup Canceled");
        SetPumpMessagesHook({});
        EXPECT_EQ(resolved, 0);
    }
    // The helper thread's result may still be on its way to the destroyed
    // instance; it must be dropped.
    for (int i = 0; i < 100; ++i)
        PumpMessages(2);
}

TEST_F(PsockConnect, ReadNotificationOncePerArrival) {
    LoopbackPeer peer([](LoopbackPeer& p, int fd) {
        p.SendAll(fd, "first");
        p.SleepMs(150);
        p.SendAll(fd, "second");
        p.HoldOpen();
    });
    TPowersock s;
    int reads = 0;
    s.ReadHook = [&] {
        ++reads;
        throw std::runtime_error("ignored by the notification");
    };
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    for (int i = 0; i < 10; ++i) {
        DispatchSocketEvents();
        usleep(5000);
    }
    EXPECT_EQ(reads, 1); // unread data is reported once, not on every pass
    EXPECT_EQ(s.Read(0), "first");
    for (int i = 0; i < 60 && reads < 2; ++i) {
        DispatchSocketEvents();
        usleep(5000);
    }
    EXPECT_EQ(reads, 2);
    EXPECT_TRUE(s.Connected);
}
