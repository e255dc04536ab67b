// Upload of a large file to pyftpdlib on 127.0.0.1: TNMFTP against `curl -T`
// to the same server in the same run, and the client's CPU time per GiB.
// Usage: ftp_bench [MiB] [rounds]   (default 1024 MiB, 2 rounds; best round counts)
//
// With --tls: TNMFTP's upload with FTPS (TLS, pinned) against its plain
// upload to the same kind of server (one instance with TLS required, one
// without; as root), in turns, each with the client's CPU time per GiB and
// the server's, and `curl --ssl-reqd` to the TLS instance as a third turn
// (less its log-in): what the server takes over TLS from another client.
// Usage: ftp_bench --tls [MiB] [rounds] [server]   (default 1024 MiB, 3 rounds,
//        proftpd; also vsftpd, pure-ftpd, pyftpdlib without curl)
//        (target: TLS >= 0.7 x plain)
#include "Spread.h"
#include "net/Nmftp.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::Median;
using bench::Range;

double Seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string MakeFile(const testsupport::TempFolder& dir, long mib) {
    std::string file = dir / "big.bin";
    const std::string block = testsupport::RandomBytes(1 << 20, 1);
    {
        std::ofstream out(file, std::ios::binary);
        for (long i = 0; i < mib; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    // On the disk before the first round, so that its writing back does not
    // compete with the first upload.
    const int fd = open(file.c_str(), O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return file;
}

void LogIn(TNMFTP& client, const testsupport::RealFtpServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.UserID = server.User();
    client.Password = server.Password();
    client.Passive = true;
    client.TimeOut = 60000;
    client.Connect();
    client.Mode(3);
}

// One upload: seconds and the process's CPU seconds; false when not all went out.
bool TimedUpload(TNMFTP& client, const testsupport::RealFtpServer& server, const std::string& file,
                 double bytes, double& seconds, double& cpu) {
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const double t0 = Now();
    client.Upload(file, "client.bin");
    seconds = Now() - t0;
    cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    std::remove((server.Root() + "/client.bin").c_str());
    return client.GetBytesSent() == static_cast<int64_t>(bytes);
}

// CPU seconds of a server: every process in its process group or below it
// (vsftpd's sessions start groups of their own), with their reaped children.
double ServerCpuSeconds(pid_t Server) {
    struct Proc {
        pid_t Parent = 0, Group = 0;
        double Cpu = 0;
    };
    std::map<pid_t, Proc> procs;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    DIR* dir = opendir("/proc");
    if (!dir)
        return 0;
    while (const dirent* e = readdir(dir)) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(in, line) || line.rfind(')') == std::string::npos)
            continue;
        // After the name: state ppid pgrp session tty tpgid flags minflt cminflt
        // majflt cmajflt utime stime cutime cstime.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string state;
        long skip = 0, utime = 0, stime = 0, cutime = 0, cstime = 0;
        Proc p;
        fields >> state >> p.Parent >> p.Group;
        for (int i = 0; i < 7; ++i)
            fields >> skip;
        fields >> utime >> stime >> cutime >> cstime;
        p.Cpu = static_cast<double>(utime + stime + cutime + cstime) / tick;
        procs[pid] = p;
    }
    closedir(dir);
    double sum = 0;
    for (const auto& [pid, p] : procs) {
        bool mine = p.Group == Server;
        for (pid_t up = pid; !mine && up > 1 && procs.count(up); up = procs[up].Parent)
            mine = up == Server;
        if (mine)
            sum += p.Cpu;
    }
    return sum;
}

// One upload's wall time, the uploader's CPU time and the server's.
struct Sample {
    double Seconds = 0, Cpu = 0, ServerCpu = 0;
};

// TNMFTP's upload (the CPU of this process); false when not all went out.
bool ClientUpload(TNMFTP& client, const testsupport::RealFtpServer& server, const std::string& file,
                  double bytes, Sample& out) {
    const double server0 = ServerCpuSeconds(server.Pid());
    if (!TimedUpload(client, server, file, bytes, out.Seconds, out.Cpu))
        return false;
    out.ServerCpu = ServerCpuSeconds(server.Pid()) - server0;
    return true;
}

// curl --ssl-reqd uploading the file (curl's CPU); false when curl failed.
// The certificate names localhost, so the URL does too, resolved to 127.0.0.1.
// It includes curl's connection, log-in and handshakes (see CurlTlsTransfer).
// No server CPU: the server's session ends with curl, and vsftpd's helper
// processes are not all reaped inside the server's tree.
bool CurlTlsUpload(const testsupport::RealFtpServer& server, const std::string& file, Sample& out) {
    const std::string port = std::to_string(server.Port());
    const std::string url =
        "ftp://" + server.User() + ":" + server.Password() + "@localhost:" + port + "/curl.bin";
    const std::string resolve = "localhost:" + port + ":127.0.0.1";
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
    const double t0 = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("curl", "curl", "-s", "-S", "--ssl-reqd", "--cacert",
               server.CertificatePath().c_str(), "--resolve", resolve.c_str(), "-T", file.c_str(),
               url.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    out.Seconds = Now() - t0;
    out.Cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    std::remove((server.Root() + "/curl.bin").c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// curl's upload of the file less its upload of an empty file just before:
// the transfer alone, as the client's figures are (its log-in is not timed;
// pure-ftpd takes seconds to check a password).
bool CurlTlsTransfer(const testsupport::RealFtpServer& server, const std::string& file,
                     const std::string& empty, Sample& out) {
    Sample none;
    if (!CurlTlsUpload(server, empty, none) || !CurlTlsUpload(server, file, out))
        return false;
    out.Seconds -= none.Seconds;
    out.Cpu -= none.Cpu;
    return out.Seconds > 0;
}

// Throughput and CPU per GiB of one kind of upload over the rounds.
struct Figures {
    Range Rate, Cpu, ServerCpu;
    std::vector<double> Rates;
    void Add(const Sample& s, double mb, double gib) {
        Rate.Add(mb / s.Seconds);
        Rates.push_back(mb / s.Seconds);
        Cpu.Add(s.Cpu / gib);
        ServerCpu.Add(s.ServerCpu / gib);
    }
    void Print(const char* what, bool server) const {
        std::printf("  %-16s %5.0f-%5.0f MB/s (median %5.0f)   CPU per GiB: uploader %.2f-%.2f s",
                    what, Rate.Low, Rate.High, Median(Rates), Cpu.Low, Cpu.High);
        if (server)
            std::printf(", server %.2f-%.2f s", ServerCpu.Low, ServerCpu.High);
        std::printf("\n");
    }
};

int TlsAgainstPlain(long mib, int rounds, const std::string& name) {
    using testsupport::RealFtpKind;
    using testsupport::RealFtpTls;
    RealFtpKind kind = RealFtpKind::Proftpd;
    bool known = false;
    for (RealFtpKind k :
         {RealFtpKind::Proftpd, RealFtpKind::Vsftpd, RealFtpKind::PureFtpd, RealFtpKind::Pyftpdlib})
        if (name == testsupport::RealFtpKindName(k)) {
            kind = k;
            known = true;
        }
    if (!known) {
        std::fprintf(stderr, "unknown server %s (proftpd, vsftpd, pure-ftpd, pyftpdlib)\n",
                     name.c_str());
        return 2;
    }
    std::string why;
    auto plain = testsupport::RealFtpServer::Start(kind, &why, RealFtpTls::None);
    auto tls =
        plain ? testsupport::RealFtpServer::Start(kind, &why, RealFtpTls::Required) : nullptr;
    if (!tls) {
        std::fprintf(stderr, "%s did not start: %s\n", name.c_str(), why.c_str());
        return 1;
    }
    // pyftpdlib resets a data connection whose handshake comes before the
    // 150 reply, as curl's does.
    const bool withCurl = kind != RealFtpKind::Pyftpdlib;
    testsupport::TempFolder dir;
    const std::string file = MakeFile(dir, mib);
    const std::string empty = dir / "empty.bin";
    std::ofstream(empty, std::ios::binary).close();
    const double bytes = static_cast<double>(mib) * (1 << 20);
    const double mb = bytes / 1e6;
    const double gib = bytes / (1 << 30);

    TNMFTP plainClient, tlsClient;
    LogIn(plainClient, *plain);
    tlsClient.Ftps = true;
    tlsClient.TlsPeer = {"127.0.0.1", ParseCertificatePin(tls->Fingerprint())};
    LogIn(tlsClient, *tls);

    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each round as it ends
    std::printf("%s on 127.0.0.1, %ld MiB per upload; CPU per GiB of the uploader and of the "
                "server\n",
                name.c_str(), mib);
    Figures plainFigures, tlsFigures, curlFigures;
    Range ratio;
    for (int r = 0; r < rounds; ++r) {
        // proftpd's tickets of one control connection last for two data
        // connections; the program logs in anew then, and so does this.
        if (!tlsClient.ConnectedAsAsked()) {
            tlsClient.Disconnect();
            LogIn(tlsClient, *tls);
        }
        // In turns, so that none always meets the warmer cache.
        Sample p, t, c;
        if (!ClientUpload(plainClient, *plain, file, bytes, p) ||
            !ClientUpload(tlsClient, *tls, file, bytes, t)) {
            std::fprintf(stderr, "not every byte was sent\n");
            return 1;
        }
        if (withCurl && !CurlTlsTransfer(*tls, file, empty, c)) {
            std::fprintf(stderr, "curl --ssl-reqd failed\n");
            return 1;
        }
        std::printf("round %d: plain %6.1f MB/s (%.2f s, %.2f s), TLS %6.1f MB/s (%.2f s, %.2f s, "
                    "%s), ratio %.2f",
                    r + 1, mb / p.Seconds, p.Cpu / gib, p.ServerCpu / gib, mb / t.Seconds,
                    t.Cpu / gib, t.ServerCpu / gib, tlsClient.TlsProtocol().c_str(),
                    p.Seconds / t.Seconds);
        if (withCurl)
            std::printf("; curl TLS %6.1f MB/s (%.2f s)", mb / c.Seconds, c.Cpu / gib);
        std::printf("\n");
        plainFigures.Add(p, mb, gib);
        tlsFigures.Add(t, mb, gib);
        if (withCurl)
            curlFigures.Add(c, mb, gib);
        ratio.Add(p.Seconds / t.Seconds);
    }
    std::printf("%s, %d rounds:\n", name.c_str(), rounds);
    plainFigures.Print("plain", true);
    tlsFigures.Print("TLS", true);
    if (withCurl)
        curlFigures.Print("curl --ssl-reqd", false);
    std::printf("  TLS / plain per round %.2f-%.2f, of the medians %.2f (target >= 0.70)\n",
                ratio.Low, ratio.High, Median(tlsFigures.Rates) / Median(plainFigures.Rates));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--tls")
        return TlsAgainstPlain(argc > 2 ? std::atol(argv[2]) : 1024,
                               argc > 3 ? std::atoi(argv[3]) : 3, argc > 4 ? argv[4] : "proftpd");
    long mib = argc > 1 ? std::atol(argv[1]) : 1024;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    std::string why;
    auto server = testsupport::RealFtpServer::Start(testsupport::RealFtpKind::Pyftpdlib, &why);
    if (!server) {
        std::fprintf(stderr, "pyftpdlib did not start: %s\n", why.c_str());
        return 1;
    }
    testsupport::TempFolder dir;
    std::string file = dir / "big.bin";
    {
        const std::string block = testsupport::RandomBytes(1 << 20, 1);
        std::ofstream out(file, std::ios::binary);
        for (long i = 0; i < mib; ++i)
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    const double bytes = static_cast<double>(mib) * (1 << 20);
    const double mb = bytes / 1e6;
    const double gib = bytes / (1 << 30);

    TNMFTP client;
    client.Host = "127.0.0.1";
    client.Port = server->Port();
    client.UserID = server->User();
    client.Password = server->Password();
    client.Passive = true;
    client.Connect();
    client.Mode(3);

    double bestClient = 1e30, bestCurl = 1e30, bestCpu = 1e30;
    for (int r = 0; r < rounds; ++r) {
        // curl first, then the client, so neither always gets the warmer cache.
        std::string url = "ftp://" + server->User() + ":" + server->Password() +
                          "@127.0.0.1:" + std::to_string(server->Port()) + "/curl.bin";
        double t0 = Now();
        pid_t pid = fork();
        if (pid == 0) {
            execlp("curl", "curl", "-s", "-S", "-T", file.c_str(), url.c_str(), (char*)nullptr);
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        double curlTime = Now() - t0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        std::remove((server->Root() + "/curl.bin").c_str());

        double cpu0 = CpuSeconds(RUSAGE_SELF);
        t0 = Now();
        client.Upload(file, "client.bin");
        double clientTime = Now() - t0;
        double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
        if (client.GetBytesSent() != static_cast<int64_t>(bytes)) {
            std::fprintf(stderr, "client sent %lld bytes\n", (long long)client.GetBytesSent());
            return 1;
        }
        std::remove((server->Root() + "/client.bin").c_str());
        std::printf("round %d: client %.1f MB/s (%.2f s, CPU %.2f s), curl %.1f MB/s (%.2f s)\n",
                    r + 1, mb / clientTime, clientTime, cpu, mb / curlTime, curlTime);
        bestClient = std::min(bestClient, clientTime);
        bestCurl = std::min(bestCurl, curlTime);
        bestCpu = std::min(bestCpu, cpu);
    }
    std::printf("best: client %.1f MB/s, curl %.1f MB/s, ratio %.2f; client CPU %.2f s per GiB\n",
                mb / bestClient, mb / bestCurl, bestCurl / bestClient, bestCpu / gib);
    client.Disconnect();
    return 0;
}
