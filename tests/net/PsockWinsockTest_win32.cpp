// Winsock's start-up and clean-up as the socket layer does them: the lines it
// keeps of the start-up, and the process-wide count of users that ends
// Winsock with the last instance.
#include "LoopbackPeer.h"
#include "net/Psock.h"

#include <gtest/gtest.h>
#include <memory>
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
