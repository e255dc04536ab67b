// TLS servers on 127.0.0.1 for the TLS stream tests: tests/net/tls_peer.py
// run by Linux's Python (also from the Windows tests under Wine), with two
// throwaway self-signed certificates (both CN=localhost) it makes itself. It
// ends when this object closes its control connection.
//
//     std::string why;
//     auto peer = nettest::TlsPeer::Start(&why);   // nullptr: why says why
//     const int port = peer->Serve("echo");        // one connection, one behaviour
//     ... connect, handshake, talk ...
//     auto report = peer->Wait();                  // {"bytes": "5", "end": "notify", ...}
#pragma once
#include "net/SocketApi.h"

#include <map>
#include <memory>
#include <string>

namespace nettest {

class TlsPeer {
public:
    static std::unique_ptr<TlsPeer> Start(std::string* whyNot);
    ~TlsPeer();
    TlsPeer(const TlsPeer&) = delete;
    TlsPeer& operator=(const TlsPeer&) = delete;

    struct Certificate {
        std::string fingerprint; // "AB:CD:..."
        std::string pemPath;     // a Linux path
        std::string der;         // its bytes
    };
    // The one the servers use unless told otherwise, and a second one.
    const Certificate& Main() const { return certs_[0]; }
    const Certificate& Other() const { return certs_[1]; }

    // A listener for one connection with this behaviour (see tls_peer.py),
    // TLS version "1.2", "1.3" or "any", with the main or the other
    // certificate; its port, or 0.
    int Serve(const std::string& mode, const std::string& version = "any", bool other = false);
    // What the server saw of the last served connection, once it ended.
    std::map<std::string, std::string> Wait();

private:
    TlsPeer() = default;
    bool SendLine(const std::string& line);
    std::string ReadLine(int timeoutMs);

    sockapi::THandle control_ = sockapi::kNoSocket;
    std::string in_;
    Certificate certs_[2];
};

} // namespace nettest
