// The scripted fake FTP server's TLS side (server end of explicit FTPS): a
// throwaway certificate and the handshakes and records of its connections,
// over the non-blocking sockets of net/SocketApi with bounded waits. OpenSSL
// on Linux (FakeFtpTls_posix.cpp); the Windows build has no OpenSSL, so
// there Make() says why not (FakeFtpTls_win32.cpp).
#pragma once
#include "net/SocketApi.h"

#include <functional>
#include <memory>
#include <string>

namespace testsupport {

class FakeTlsConnection;

// A certificate (EC, CN=localhost, SAN DNS:localhost) and the server context
// every connection of one fake server shares, so data connections can
// resume the control connection's session.
class FakeTlsContext {
public:
    static std::unique_ptr<FakeTlsContext> Make(std::string* whyNot);
    ~FakeTlsContext();
    FakeTlsContext(const FakeTlsContext&) = delete;
    FakeTlsContext& operator=(const FakeTlsContext&) = delete;

    // As `openssl x509 -fingerprint -sha256` prints it.
    const std::string& Fingerprint() const { return fingerprint_; }

    // The server's handshake on a connected socket, within timeoutMs (and
    // while !stopping()); nothing, with the reason, when it fails. Without
    // resumable every session the client offers is refused (a full handshake).
    std::unique_ptr<FakeTlsConnection> Accept(sockapi::THandle fd, int timeoutMs,
                                              const std::function<bool()>& stopping,
                                              std::string* whyNot, bool resumable = true);

private:
    FakeTlsContext() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string fingerprint_;
};

class FakeTlsConnection {
public:
    ~FakeTlsConnection();
    FakeTlsConnection(const FakeTlsConnection&) = delete;
    FakeTlsConnection& operator=(const FakeTlsConnection&) = delete;

    // Decrypted bytes within ms: > 0, 0 at the client's end (see End()), -1
    // when nothing came.
    long Read(char* buf, size_t len, int ms);
    // Bytes decrypted but not yet read.
    bool Pending() const;
    bool Write(const std::string& bytes, int timeoutMs);
    // Sends close_notify (best effort).
    void SendCloseNotify(int timeoutMs);
    bool Resumed() const;
    // "close_notify", "eof" (TCP end without it), "reset", or "" while open.
    const std::string& End() const { return end_; }

private:
    friend class FakeTlsContext;
    FakeTlsConnection() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string end_;
};

} // namespace testsupport
