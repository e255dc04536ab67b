// The Winsock numbers TPowersock reports on each path of failure, the same on
// every system: which ones reach OnError and ESockError, which are only kept
// in LastErrorNo, and that would-block (10035) never reaches OnError.
#include "LoopbackPeer.h"
#include "net/Psock.h"

#include <functional>
#include <gtest/gtest.h>

using nettest::LoopbackPeer;
using nettest::TPeerSocket;

namespace {

struct ErrorCase {
    const char* name;
    // Runs the operation on s; returns what it ended with: the exception's
    // class and text, or the result it returned.
    std::function<std::string(TPowersock& s)> act;
    const char* outcome;
    const char* lastError; // SocketErrorStr(LastErrorNo) afterwards
    std::vector<uint16_t> onError;
    bool notifyOk; // false: a notification carried the error
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Outcome(const std::function<std::string()>& operation) {
    try {
        return "returned \"" + operation() + "\"";
    } catch (const EAbortError& e) {
        return std::string("EAbortError ") + e.what();
    } catch (const ESockError& e) {
        return std::string("ESockError ") + e.what();
    }
}

// Cancels the running wait of s after a number of passes of the event loop.
void CancelAfter(TPowersock& s, int passes) {
    SetPumpMessagesHook([&s, passes, n = 0]() mutable {
        if (++n == passes)
            s.Cancel();
    });
}

void ConnectTo(TPowersock& s, const LoopbackPeer& peer) {
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
}

class PsockErrorNumber : public testing::TestWithParam<ErrorCase> {
protected:
    void TearDown() override { SetPumpMessagesHook({}); }
};

} // namespace

TEST_P(PsockErrorNumber, ReachesOnErrorOnlyWhenItRaises) {
    TPowersock s;
    std::vector<uint16_t> reported;
    s.OnError = [&](TPowersock*, uint16_t no, const std::string& text) {
        reported.push_back(no);
        EXPECT_EQ(text, SocketErrorStr(no));
    };
    EXPECT_EQ(GetParam().act(s), GetParam().outcome);
    EXPECT_EQ(SocketErrorStr(s.LastErrorNo), GetParam().lastError);
    EXPECT_EQ(reported, GetParam().onError);
    EXPECT_EQ(s.NotifyOk, GetParam().notifyOk);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PsockErrorNumber,
    testing::Values(
        // The refusal comes with the connect notification: "Connection Failed".
        ErrorCase{"RefusedPort",
                  [](TPowersock& s) {
                      s.Host = "127.0.0.1";
                      s.Port = nettest::RefusedPort();
                      return Outcome([&] {
                          s.Connect();
                          return "";
                      });
                  },
                  "ESockError Connection Failed",
                  "10061:Connection refused",
                  {},
                  false},
        // The non-blocking connect's would-block is the normal start.
        ErrorCase{"PendingConnect",
                  [](TPowersock& s) {
                      nettest::SilentHost silent;
                      EXPECT_TRUE(silent.Ready());
                      s.Host = "127.0.0.1";
                      s.Port = silent.Port();
                      CancelAfter(s, 20);
                      return Outcome([&] {
                          s.Connect();
                          return "";
                      });
                  },
                  "ESockError Connection Canceled",
                  "",
                  {},
                  true},
        ErrorCase{"ReadLnWithoutConnection",
                  [](TPowersock& s) { return Outcome([&] { return s.ReadLn(); }); },
                  "returned \"\"",
                  "10057:Socket is not connected",
                  {},
                  true},
        ErrorCase{"ReadLnWaitingForData",
                  [](TPowersock& s) {
                      LoopbackPeer peer(nettest::HoldOpen);
                      ConnectTo(s, peer);
                      CancelAfter(s, 25);
                      const std::string outcome = Outcome([&] { return s.ReadLn(); });
                      EXPECT_FALSE(s.Canceled); // cleared by the abort
                      return outcome;
                  },
                  "EAbortError Socket readln aborted",
                  "10035:Operation would block",
                  {},
                  true},
        // A reset is never taken for the peer's orderly end.
        ErrorCase{"ResetWhileIdle",
                  [](TPowersock& s) {
                      // The peer resets once the client is connected for sure
                      // (a reset that beats the connect's notification is a
                      // failed connect instead).
                      LoopbackPeer peer([](LoopbackPeer& p, TPeerSocket fd) {
                          p.ReadLine(fd);
                          p.Reset(fd);
                      });
                      ConnectTo(s, peer);
                      s.Writeln("hello");
                      for (int i = 0; i < 300 && s.Connected; ++i) {
                          DispatchSocketEvents();
                          nettest::SleepFor(10);
                      }
                      return Outcome([&] { return s.ReadLn(); });
                  },
                  "returned \"\"",
                  "10057:Socket is not connected",
                  {},
                  false},
        ErrorCase{"SendAfterReset",
                  [](TPowersock& s) {
                      LoopbackPeer peer([](LoopbackPeer& p, TPeerSocket fd) {
                          p.ReadLine(fd);
                          p.Reset(fd);
                      });
                      ConnectTo(s, peer);
                      s.Writeln("hello");
                      for (int i = 0; i < 300 && !peer.Finished(); ++i)
                          nettest::SleepFor(10);
                      return Outcome([&] {
                          for (int i = 0; i < 100; ++i) {
                              s.Writeln("more");
                              nettest::SleepFor(5);
                          }
                          return "";
                      });
                  },
                  "ESockError 10054:Connection reset by peer",
                  "10054:Connection reset by peer",
                  {10054},
                  true}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });
