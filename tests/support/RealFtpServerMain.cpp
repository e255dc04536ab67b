// real_ftp_server KIND TLS: starts one real FTP server on 127.0.0.1 as the
// tests do (RealFtpServer.h), for test scripts of the Windows build under
// Wine. KIND is pyftpdlib, vsftpd, pure-ftpd or proftpd; TLS is none,
// required or noreuse. Prints "port N", "user U", "password P", "root DIR",
// "fingerprint AB:..." (with TLS) and "ready", one a line, then serves until
// its standard input ends, and stops the server. Exit status 77 (with the
// reason on standard error) when the server cannot be started here.
#include "tests/support/RealFtpServer.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

using testsupport::RealFtpKind;
using testsupport::RealFtpTls;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: real_ftp_server pyftpdlib|vsftpd|pure-ftpd|proftpd "
                             "none|required|noreuse\n");
        return 2;
    }
    RealFtpKind kind = RealFtpKind::Pyftpdlib;
    bool known = false;
    for (RealFtpKind k :
         {RealFtpKind::Pyftpdlib, RealFtpKind::Vsftpd, RealFtpKind::PureFtpd, RealFtpKind::Proftpd})
        if (std::strcmp(argv[1], testsupport::RealFtpKindName(k)) == 0) {
            kind = k;
            known = true;
        }
    const std::string tlsName = argv[2];
    const RealFtpTls tls = tlsName == "required"  ? RealFtpTls::Required
                           : tlsName == "noreuse" ? RealFtpTls::RequiredNoReuse
                                                  : RealFtpTls::None;
    if (!known || (tls == RealFtpTls::None && tlsName != "none")) {
        std::fprintf(stderr, "real_ftp_server: unknown server or TLS\n");
        return 2;
    }
    std::string why;
    auto server = testsupport::RealFtpServer::Start(kind, &why, tls);
    if (!server) {
        std::fprintf(stderr, "%s cannot be started: %s\n", argv[1], why.c_str());
        return 77;
    }
    std::printf("port %u\nuser %s\npassword %s\nroot %s\n", server->Port(), server->User().c_str(),
                server->Password().c_str(), server->Root().c_str());
    if (tls != RealFtpTls::None)
        std::printf("fingerprint %s\n", server->Fingerprint().c_str());
    std::printf("ready\n");
    std::fflush(stdout);
    char buf[256];
    while (::read(0, buf, sizeof buf) > 0) {
    }
    return 0; // the server stops with its object
}
