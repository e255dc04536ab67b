// What the socket layer does with Winsock: the lines it keeps of the
// start-up, the process-wide count of users that ends Winsock with the last
// instance, sockets no started process inherits, and waits that sleep on the
// sockets and the window messages together.
#include "LoopbackPeer.h"
#include "net/Psock.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <winsock2.h>

namespace {

std::string Version(WORD v) {
    return std::to_string(LOBYTE(v)) + "." + std::to_string(HIBYTE(v));
}

// Whether Winsock is started in this process: a socket can be made.
int SocketCreationError() {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError();
    closesocket(s);
    return 0;
}

} // namespace

TEST(PsockWinsock, InfoLinesAreThoseOfTheStartUp) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    WSACleanup();
    TPowersock s;
    const std::vector<std::string> expected = {"Version= " + Version(data.wVersion),
                                               "High Version= " + Version(data.wHighVersion),
                                               std::string("Description= ") + data.szDescription,
                                               std::string("System= ") + data.szSystemStatus,
                                               "Max Sockets= " + std::to_string(data.iMaxSockets),
                                               "Max Udp pack size= " +
                                                   std::to_string(data.iMaxUdpDg)};
    EXPECT_EQ(s.WinsockInfo, expected);
}

TEST(PsockWinsock, LastInstanceEndsWinsockAndANewOneStartsItAgain) {
    ASSERT_EQ(SocketCreationError(), WSANOTINITIALISED) << "Winsock already in use";
    {
        auto first = std::make_unique<TPowersock>();
        TPowersock second;
        first.reset();
        EXPECT_EQ(SocketCreationError(), 0) << "ended while an instance lives";
    }
    EXPECT_EQ(SocketCreationError(), WSANOTINITIALISED) << "not ended with the last instance";
    TPowersock again;
    nettest::LoopbackPeer peer(nettest::HoldOpen);
    again.Host = "127.0.0.1";
    again.Port = peer.Port();
    again.Connect();
    EXPECT_TRUE(again.Connected);
}

namespace {

bool Inheritable(TSocket s) {
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags) &&
           (flags & HANDLE_FLAG_INHERIT) != 0;
}

} // namespace

// No socket of the layer reaches a process the program starts (gpg.exe): a
// fresh one, a connected one, the one made after a close, an accepted one.
TEST(PsockWinsock, SocketsAreNotInherited) {
    nettest::LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    EXPECT_FALSE(Inheritable(s.GetSocket())) << "fresh";
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    EXPECT_FALSE(Inheritable(s.GetSocket())) << "connected";
    s.RequestCloseSocket();
    EXPECT_FALSE(Inheritable(s.GetSocket())) << "made after the close";

    TPowersock listener;
    ASSERT_EQ(listener.Listen(true), 0);
    const std::string ports = listener.GetPortString();
    const int port = std::stoi(NthWord(ports, ',', 2)) * 256 + std::stoi(NthWord(ports, ',', 3));
    const nettest::TPeerSocket client = nettest::ConnectLoopback(port);
    ASSERT_NE(client, sockapi::kNoSocket);
    const TSocket accepted = listener.Accept();
    EXPECT_FALSE(Inheritable(accepted)) << "accepted";
    listener.SetSocket(accepted);
    sockapi::Close(client);
}

// A window message that comes while a wait sleeps is handled then: the wait
// sleeps on its sockets and the thread's message queue together, and the
// handler can end it (as the window's buttons do).
TEST(PsockWinsock, WindowMessageDuringAWaitIsHandled) {
    constexpr UINT kStop = WM_APP + 7;
    nettest::LoopbackPeer peer(nettest::HoldOpen);
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = peer.Port();
    s.Connect();
    s.TimeOut = 10000;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // makes the thread's queue
    const DWORD self = GetCurrentThreadId();
    int handled = 0;
    int passes = 0;
    SetPumpMessagesHook([&] {
        ++passes;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message == kStop && ++handled)
                s.Cancel();
    });
    std::thread poster([self] {
        nettest::SleepFor(300);
        PostThreadMessageW(self, kStop, 0, 0);
    });
    EXPECT_THROW(s.ReadLn(), EAbortError);
    poster.join();
    SetPumpMessagesHook({});
    EXPECT_EQ(handled, 1);
    EXPECT_FALSE(s.TimedOut) << "the wait ran until its time-out";
    // It slept meanwhile (a pass every 2 ms would make some 150).
    EXPECT_LT(passes, 3 * 300 / kWaitPassMs + 5);
}
