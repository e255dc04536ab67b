#include "tests/support/RealFtpServer.h"

#include "tests/support/Files.h"
#include "tests/support/Shell.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

namespace {

constexpr const char* kVsftpdUser = "roderuvftp";

std::string MakeBase() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "roderuv-ftpserver-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return "";
    return buf.data();
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& logPath) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Child: own process group, so that Stop reaches the server's session
    // processes too; output into the log file.
    ::setpgid(0, 0);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in >= 0)
        ::dup2(in, 0);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Waits until the server at the port sends a greeting line starting "220".
bool Greets(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        pollfd p{fd, POLLIN, 0};
        char buf[4] = {};
        if (::poll(&p, 1, 2000) > 0 && ::recv(fd, buf, 3, MSG_WAITALL) == 3)
            ok = std::string(buf, 3) == "220";
    }
    ::close(fd);
    return ok;
}

bool EnsureVsftpdUser(const std::string& password, std::string* why) {
    std::string user = kVsftpdUser;
    if (RunShell("id -u " + user + " >/dev/null 2>&1") != 0 &&
        RunShell("useradd -M -d / -s /bin/bash " + user + " 2>&1") != 0) {
        *why = "useradd " + user + " failed";
        return false;
    }
    // vsftpd enters the home folder before local_root: it must exist.
    RunShell("usermod -d / " + user + " 2>&1");
    if (RunShell("echo '" + user + ":" + password + "' | chpasswd 2>&1") != 0) {
        *why = "chpasswd failed";
        return false;
    }
    return true;
}

// Folder of the unpacked pure-ftpd / proftpd packages.
std::string PackageCache() {
    const char* env = std::getenv("RODERUV_FTPD_CACHE");
    if (env != nullptr && *env != '\0')
        return env;
    return ::geteuid() == 0 ? "/var/cache/roderuv-ftpd"
                            : (std::filesystem::temp_directory_path() / "roderuv-ftpd").string();
}

// Fetches and unpacks the packages into cache/root once (under a lock, as
// tests run in parallel); true when `program` (or module) is there afterwards
// and finds all its libraries.
bool Unpacked(const std::string& cache, const std::string& packages, const std::string& program,
              std::string* why) {
    std::error_code ec;
    std::filesystem::create_directories(cache, ec);
    const std::string lib = cache + "/root/usr/lib/x86_64-linux-gnu";
    const std::string script = "cd " + testsupport::ShellQuote(cache) +
                               " && exec 9>.lock && flock -w 120 9 && "
                               "if ! [ -e root" +
                               program +
                               " ]; then "
                               "timeout 120 apt-get download " +
                               packages +
                               " >fetch.log 2>&1 && "
                               "for d in *.deb; do dpkg-deb -x \"$d\" root || exit 1; done; fi && "
                               "[ -e root" +
                               program + " ] && ! LD_LIBRARY_PATH=" + testsupport::ShellQuote(lib) +
                               " ldd root" + program + " | grep -q 'not found'";
    if (RunShell(script + " 2>/dev/null") != 0) {
        std::string log;
        try {
            log = ReadBytes(cache + "/fetch.log");
        } catch (...) {
        }
        *why = "cannot fetch or unpack " + packages + " into " + cache + ": " + log;
        return false;
    }
    return true;
}

// A throwaway self-signed certificate and key in folder, readable by owner
// (a uid, or -1 for the current user); its SHA-256 fingerprint.
bool MakeCertificate(const std::string& folder, int owner, std::string& cert, std::string& key,
                     std::string& fingerprint, std::string* why) {
    cert = folder + "/cert.pem";
    key = folder + "/key.pem";
    std::string out;
    if (RunShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                 "-addext subjectAltName=DNS:localhost -keyout " +
                 ShellQuote(key) + " -out " + ShellQuote(cert) + " >/dev/null 2>&1") != 0 ||
        RunShell("openssl x509 -noout -fingerprint -sha256 -in " + ShellQuote(cert), &out) != 0 ||
        out.find('=') == std::string::npos) {
        *why = "openssl could not make a certificate";
        return false;
    }
    fingerprint = out.substr(out.find('=') + 1);
    while (!fingerprint.empty() && (fingerprint.back() == '\n' || fingerprint.back() == '\r'))
        fingerprint.pop_back();
    if (owner >= 0)
        RunShell("chown " + std::to_string(owner) + " " + ShellQuote(cert) + " " + ShellQuote(key));
    return true;
}

// pyftpdlib with TLS required on both connections.
constexpr const char* kPyftpdlibTls = R"(import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer
port, root, user, password, cert, key = sys.argv[1:]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
handler = TLS_FTPHandler
handler.authorizer = authorizer
handler.certfile, handler.keyfile = cert, key
handler.tls_control_required = True
handler.tls_data_required = True
FTPServer(("127.0.0.1", int(port)), handler).serve_forever()
)";

} // namespace

const char* RealFtpKindName(RealFtpKind kind) {
    switch (kind) {
    case RealFtpKind::Pyftpdlib:
        return "pyftpdlib";
    case RealFtpKind::Vsftpd:
        return "vsftpd";
    case RealFtpKind::PureFtpd:
        return "pure-ftpd";
    case RealFtpKind::Proftpd:
        return "proftpd";
    }
    return "?";
}

uint16_t FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

std::unique_ptr<RealFtpServer> RealFtpServer::Start(RealFtpKind kind, std::string* whyNot,
                                                    RealFtpTls tls) {
    std::string dummy;
    std::string& why = whyNot ? *whyNot : dummy;
    std::unique_ptr<RealFtpServer> s(new RealFtpServer());
    s->kind_ = kind;
    s->tls_ = tls;
    s->base_ = MakeBase();
    if (s->base_.empty()) {
        why = "cannot create a temporary folder";
        return nullptr;
    }
    s->root_ = s->base_ + "/root";
    s->logPath_ = s->base_ + "/server.log";
    std::filesystem::create_directory(s->root_);
    s->port_ = FreeLoopbackPort();
    s->password_ = "Tajne-heslo-7";
    // proftpd runs as nobody and reads its certificate as nobody.
    if (tls != RealFtpTls::None &&
        !MakeCertificate(s->base_, kind == RealFtpKind::Proftpd ? 65534 : -1, s->certPath_,
                         s->keyPath_, s->fingerprint_, &why))
        return nullptr;
    const bool reuse = tls == RealFtpTls::Required;

    std::vector<std::string> argv;
    if (kind == RealFtpKind::Pyftpdlib) {
        if (::access("/usr/bin/python3", X_OK) != 0 ||
            RunShell("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
            why = "python3-pyftpdlib is not installed";
            return nullptr;
        }
        s->user_ = "tester";
        if (tls != RealFtpTls::None) {
            if (RunShell("/usr/bin/python3 -c 'import OpenSSL' 2>/dev/null") != 0) {
                why = "python3-openssl is not installed (pyftpdlib's TLS)";
                return nullptr;
            }
            const std::string script = s->base_ + "/ftps_server.py";
            WriteBytes(script, kPyftpdlibTls);
            argv = {"/usr/bin/python3", script,     std::to_string(s->port_),
                    s->root_,           s->user_,   s->password_,
                    s->certPath_,       s->keyPath_};
        } else {
            argv = {"/usr/bin/python3",
                    "-m",
                    "pyftpdlib",
                    "-i",
                    "127.0.0.1",
                    "-p",
                    std::to_string(s->port_),
                    "-w",
                    "-d",
                    s->root_,
                    "-u",
                    s->user_,
                    "-P",
                    s->password_};
        }
    } else if (kind == RealFtpKind::PureFtpd || kind == RealFtpKind::Proftpd) {
        if (::geteuid() != 0) {
            why = std::string(RealFtpKindName(kind)) + " needs root here (virtual user, nobody)";
            return nullptr;
        }
        const std::string cache = PackageCache();
        const std::string bin = cache + "/root/usr";
        const std::string lib = bin + "/lib/x86_64-linux-gnu";
        s->user_ = "tester";
        // The sessions run as nobody: it must reach and write the root.
        std::filesystem::permissions(s->base_, std::filesystem::perms(0755));
        if (RunShell("chown 65534:65534 " + testsupport::ShellQuote(s->root_)) != 0) {
            why = "chown of the server folder failed";
            return nullptr;
        }
        if (kind == RealFtpKind::PureFtpd) {
            if (!Unpacked(cache, "pure-ftpd", "/usr/sbin/pure-ftpd", &why))
                return nullptr;
            const std::string pw = s->base_ + "/pure.passwd";
            const std::string db = s->base_ + "/pure.pdb";
            if (RunShell("(echo " + testsupport::ShellQuote(s->password_) + "; echo " +
                         testsupport::ShellQuote(s->password_) + ") | " +
                         testsupport::ShellQuote(bin + "/bin/pure-pw") +
                         " useradd tester -u 65534 -g 65534 -d " +
                         testsupport::ShellQuote(s->root_) + " -f " + testsupport::ShellQuote(pw) +
                         " >/dev/null 2>&1 && " + testsupport::ShellQuote(bin + "/bin/pure-pw") +
                         " mkdb " + testsupport::ShellQuote(db) + " -f " +
                         testsupport::ShellQuote(pw) + " >/dev/null 2>&1") != 0) {
                why = "pure-pw could not make the user database";
                return nullptr;
            }
            argv = {bin + "/sbin/pure-ftpd",
                    "-S",
                    "127.0.0.1," + std::to_string(s->port_),
                    "-4",
                    "-l",
                    "puredb:" + db,
                    "-E",
                    "-H", // no name lookups of clients
                    "-P",
                    "127.0.0.1"};
            if (tls != RealFtpTls::None)
                argv.insert(argv.end(), {"-Y", "2", "-2", s->certPath_ + "," + s->keyPath_});
        } else {
            if (!Unpacked(cache,
                          "proftpd-core libhiredis0.14 libmemcached11 libmemcachedutil2 "
                          "libpcre2-posix3 libhashkit2",
                          "/usr/sbin/proftpd", &why))
                return nullptr;
            if (tls != RealFtpTls::None && !Unpacked(cache, "proftpd-mod-crypto libsodium23",
                                                     "/usr/lib/proftpd/mod_tls.so", &why))
                return nullptr;
            const std::string pw = s->base_ + "/ftpd.passwd";
            if (RunShell("echo " + testsupport::ShellQuote(s->password_) + " | perl " +
                         testsupport::ShellQuote(bin + "/sbin/ftpasswd") +
                         " --passwd --file=" + testsupport::ShellQuote(pw) +
                         " --name=tester --uid=65534 --gid=65534 --home=" +
                         testsupport::ShellQuote(s->root_) +
                         " --shell=/bin/false --stdin >/dev/null 2>&1 && chown 65534 " +
                         testsupport::ShellQuote(pw) + " && chmod 600 " +
                         testsupport::ShellQuote(pw)) != 0) {
                why = "ftpasswd could not make the user file";
                return nullptr;
            }
            std::string conf = "ServerType standalone\nDefaultAddress 127.0.0.1\n"
                               "SocketBindTight on\nUseIPv6 off\nPort " +
                               std::to_string(s->port_) +
                               "\nUser nobody\nGroup nogroup\n"
                               "AuthOrder mod_auth_file.c\nAuthUserFile " +
                               pw +
                               "\nRequireValidShell off\nDelayTable none\nWtmpLog off\n"
                               "ControlsEngine off\nTransferLog none\nScoreboardFile " +
                               s->base_ + "/scoreboard\nPidFile " + s->base_ + "/proftpd.pid\n";
            if (tls != RealFtpTls::None)
                conf += "ModulePath " + bin +
                        "/lib/proftpd\nLoadModule mod_tls.c\n"
                        "TLSEngine on\nTLSRequired on\nTLSProtocol TLSv1.2 TLSv1.3\n"
                        "TLSRSACertificateFile " +
                        s->certPath_ + "\nTLSRSACertificateKeyFile " + s->keyPath_ +
                        "\nTLSVerifyClient off\nTLSLog " + s->base_ + "/tls.log\n" +
                        (reuse ? "" : "TLSOptions NoSessionReuseRequired\n");
            WriteBytes(s->base_ + "/proftpd.conf", conf);
            RunShell("chown 65534 " + testsupport::ShellQuote(s->base_));
            argv = {"/usr/bin/setpriv",
                    "--reuid=65534",
                    "--regid=65534",
                    "--clear-groups",
                    "/usr/bin/env",
                    "LD_LIBRARY_PATH=" + lib,
                    bin + "/sbin/proftpd",
                    "-n",
                    "-c",
                    s->base_ + "/proftpd.conf"};
        }
    } else {
        if (::geteuid() != 0) {
            why = "vsftpd needs root to start";
            return nullptr;
        }
        if (::access("/usr/sbin/vsftpd", X_OK) != 0) {
            why = "vsftpd is not installed";
            return nullptr;
        }
        s->user_ = kVsftpdUser;
        if (!EnsureVsftpdUser(s->password_, &why))
            return nullptr;
        // The session runs as the local user: it must reach and write the root.
        std::filesystem::permissions(s->base_, std::filesystem::perms(0755));
        std::filesystem::create_directory(s->base_ + "/empty");
        if (RunShell("chown " + s->user_ + " '" + s->root_ + "'") != 0) {
            why = "chown of the server folder failed";
            return nullptr;
        }
        std::string conf = "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                           "listen_port=" +
                           std::to_string(s->port_) +
                           "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\n"
                           "write_enable=YES\nlocal_umask=022\nlocal_root=" +
                           s->root_ +
                           "\npasv_enable=YES\nport_enable=YES\n"
                           "secure_chroot_dir=" +
                           s->base_ +
                           "/empty\npam_service_name=vsftpd\nseccomp_sandbox=NO\n"
                           "userlist_enable=NO\nlog_ftp_protocol=YES\n"
                           "xferlog_enable=YES\nxferlog_std_format=NO\nvsftpd_log_file=" +
                           s->base_ + "/vsftpd.log\n";
        if (tls != RealFtpTls::None)
            conf += "ssl_enable=YES\nrsa_cert_file=" + s->certPath_ +
                    "\nrsa_private_key_file=" + s->keyPath_ +
                    "\nssl_tlsv1=YES\nssl_sslv2=NO\nssl_sslv3=NO\nrequire_ssl_reuse=" +
                    (reuse ? "YES" : "NO") +
                    "\nstrict_ssl_read_eof=YES\nforce_local_logins_ssl=YES\n"
                    "force_local_data_ssl=YES\npasv_address=127.0.0.1\nssl_ciphers=HIGH\n"
                    "debug_ssl=YES\n";
        WriteBytes(s->base_ + "/vsftpd.conf", conf);
        argv = {"/usr/sbin/vsftpd", s->base_ + "/vsftpd.conf"};
    }

    s->pid_ = Spawn(argv, s->logPath_);
    if (s->pid_ < 0) {
        why = "fork failed";
        return nullptr;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(s->pid_, &status, WNOHANG) == s->pid_) {
            s->pid_ = -1;
            why = "the server ended at once: " + s->Log();
            return nullptr;
        }
        if (Greets(s->port_))
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why = "the server did not greet within 10 s: " + s->Log();
    return nullptr; // the destructor stops it
}

RealFtpServer::~RealFtpServer() {
    Stop();
    std::error_code ec;
    if (!base_.empty())
        std::filesystem::remove_all(base_, ec);
}

void RealFtpServer::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(-pid_, SIGTERM);
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 150; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            ::kill(-pid_, SIGKILL); // session processes left in the group
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string RealFtpServer::Log() const {
    try {
        return ReadBytes(logPath_);
    } catch (...) {
        return "";
    }
}

} // namespace testsupport
