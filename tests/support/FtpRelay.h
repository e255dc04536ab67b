// A relay for FTP control connections on 127.0.0.1, on a thread of its own:
// what it accepts it passes on byte for byte to an FTP server on 127.0.0.1,
// and it records every byte the client sent (the transcript), so a test can
// see what crossed in the clear. As an OPEN-style proxy it first greets,
// reads "OPEN host:port" and connects to that port; the server's greeting is
// then the answer to OPEN, and from there on the proxy only relays, as a
// proxy that passes TLS through does. Data connections are not relayed: the
// servers announce 127.0.0.1, the relay's address too.
//
//     testsupport::FtpRelay relay(server->Port());          // or (0, true): OPEN proxy
//     ... FTPServer=127.0.0.1:<relay.Port()> ...
//     EXPECT_EQ(relay.Transcript().substr(0, 10), "AUTH TLS\r\n");
#pragma once
#include "net/SocketApi.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

class FtpRelay {
public:
    // To 127.0.0.1:targetPort; with openProxy the port comes from OPEN.
    explicit FtpRelay(uint16_t targetPort, bool openProxy = false);
    ~FtpRelay(); // stops the thread, closes every socket
    FtpRelay(const FtpRelay&) = delete;
    FtpRelay& operator=(const FtpRelay&) = delete;

    uint16_t Port() const { return port_; }
    // Everything the clients sent so far, connection after connection.
    std::string Transcript() const;

private:
    void Run();
    void Relay(sockapi::THandle client);
    sockapi::THandle ConnectTarget(uint16_t port);

    uint16_t targetPort_;
    bool openProxy_;
    sockapi::THandle listenFd_ = sockapi::kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::string transcript_;
    std::thread thread_;
};

} // namespace testsupport
