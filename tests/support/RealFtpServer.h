// Starts a real FTP server (pyftpdlib, vsftpd, pure-ftpd or proftpd) on
// 127.0.0.1 for interoperability tests and stops it again by its process id.
//
//     std::string why;
//     auto server = testsupport::RealFtpServer::Start(testsupport::RealFtpKind::Pyftpdlib, &why);
//     if (!server)
//         GTEST_SKIP() << "pyftpdlib not available: " << why;
//     client.Host = "127.0.0.1"; client.Port = server->Port();
//     client.UserID = server->User(); client.Password = server->Password();
//     ... upload "x.bin" ...
//     EXPECT_EQ(ReadBytes(server->Root() + "/x.bin"), source);
//
// The server serves a fresh temporary folder (Root(), removed by the
// destructor) with write access for one user. pyftpdlib runs as the current
// user with a virtual user. vsftpd needs root; it logs in a local system user
// "roderuvftp" (created with useradd when missing, home "/", password set
// with chpasswd)
// whose log-in directory is Root().
// pure-ftpd and proftpd cannot be installed beside vsftpd (the Debian
// packages conflict), so Start fetches their packages with
// "apt-get download" into a cache folder (/var/cache/roderuv-ftpd, or
// $RODERUV_FTPD_CACHE), unpacks them with dpkg-deb -x and runs the binaries
// from there. pure-ftpd runs as root with a virtual user (puredb) whose
// files belong to nobody; proftpd runs as nobody with an AuthUserFile made
// by ftpasswd. Start returns nothing, with the reason in
// *whyNot, when the server cannot be started or does not greet in time.
//
// With TLS (explicit FTPS: AUTH TLS, then PBSZ 0 / PROT P; both the log-in
// and the data must be protected) each server gets a throwaway self-signed
// certificate (RSA, CN=localhost, SAN DNS:localhost; Fingerprint() as
// `openssl x509 -fingerprint -sha256` prints it):
//   vsftpd     ssl_enable, require_ssl_reuse=YES (NO for RequiredNoReuse),
//              strict_ssl_read_eof, force_local_logins_ssl/_data_ssl,
//              ssl_ciphers=HIGH (its default cipher is refused by OpenSSL 3
//              for TLS 1.2), debug_ssl (the log says "reused" or not);
//   proftpd    mod_tls from proftpd-mod-crypto (fetched like proftpd itself),
//              TLSRequired on, TLSv1.2 and 1.3, reuse required by default
//              (TLSOptions NoSessionReuseRequired for RequiredNoReuse);
//   pure-ftpd  -Y 2 -2 cert,key (reuse never required);
//   pyftpdlib  TLS_FTPHandler, tls_control_required and tls_data_required
//              (python3-openssl; reuse never required). It expects the data
//              connection's handshake after the store command's 150 reply
//              (curl, which starts it before, is reset).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace testsupport {

enum class RealFtpKind { Pyftpdlib, Vsftpd, PureFtpd, Proftpd };

// Plain FTP, or explicit TLS required (with or without the data connection
// resuming the control connection's session, where the server can require it).
enum class RealFtpTls { None, Required, RequiredNoReuse };

// "pyftpdlib", "vsftpd", "pure-ftpd", "proftpd".
const char* RealFtpKindName(RealFtpKind kind);

class RealFtpServer {
public:
    static std::unique_ptr<RealFtpServer> Start(RealFtpKind kind, std::string* whyNot = nullptr,
                                                RealFtpTls tls = RealFtpTls::None);
    ~RealFtpServer(); // stops the server (SIGTERM, then SIGKILL) and removes Root()
    RealFtpServer(const RealFtpServer&) = delete;
    RealFtpServer& operator=(const RealFtpServer&) = delete;

    RealFtpKind Kind() const { return kind_; }
    uint16_t Port() const { return port_; }
    const std::string& Root() const { return root_; } // uploads land here
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    pid_t Pid() const { return pid_; }
    RealFtpTls Tls() const { return tls_; }
    // With TLS: the server's certificate (PEM) and its SHA-256 fingerprint.
    const std::string& CertificatePath() const { return certPath_; }
    const std::string& Fingerprint() const { return fingerprint_; }
    // The server's log output so far (for failure messages).
    std::string Log() const;

private:
    RealFtpServer() = default;
    void Stop();

    RealFtpKind kind_ = RealFtpKind::Pyftpdlib;
    RealFtpTls tls_ = RealFtpTls::None;
    std::string certPath_, keyPath_, fingerprint_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
    std::string base_; // temporary folder holding root, config and log
    std::string root_;
    std::string user_;
    std::string password_;
    std::string logPath_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
uint16_t FreeLoopbackPort();

} // namespace testsupport
