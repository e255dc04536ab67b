// Upload of a large file to pyftpdlib on 127.0.0.1: TNMFTP against `curl -T`
// to the same server in the same run, and the client's CPU time per GiB.
// Usage: ftp_bench [MiB] [rounds]   (default 1024 MiB, 2 rounds; best round counts)
//
// With --tls: TNMFTP's upload with FTPS (TLS, pinned) against its plain
// upload to the same server (vsftpd, as root; one instance with TLS
// required, one without), in turns, each with the client's CPU time per GiB.
// Usage: ftp_bench --tls [MiB] [rounds]   (target: TLS >= 0.7 x plain)
#include "net/Nmftp.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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
    std::ofstream out(file, std::ios::binary);
    for (long i = 0; i < mib; ++i)
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
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

int TlsAgainstPlain(long mib, int rounds) {
    using testsupport::RealFtpKind;
    using testsupport::RealFtpTls;
    std::string why;
    auto plain = testsupport::RealFtpServer::Start(RealFtpKind::Vsftpd, &why, RealFtpTls::None);
    auto tls =
        plain ? testsupport::RealFtpServer::Start(RealFtpKind::Vsftpd, &why, RealFtpTls::Required)
              : nullptr;
    if (!tls) {
        std::fprintf(stderr, "vsftpd did not start: %s\n", why.c_str());
        return 1;
    }
    testsupport::TempFolder dir;
    const std::string file = MakeFile(dir, mib);
    const double bytes = static_cast<double>(mib) * (1 << 20);
    const double mb = bytes / 1e6;
    const double gib = bytes / (1 << 30);

    TNMFTP plainClient, tlsClient;
    LogIn(plainClient, *plain);
    tlsClient.Ftps = true;
    tlsClient.TlsPeer = {"127.0.0.1", ParseCertificatePin(tls->Fingerprint())};
    LogIn(tlsClient, *tls);

    double bestPlain = 1e30, bestTls = 1e30, cpuPlain = 1e30, cpuTls = 1e30;
    for (int r = 0; r < rounds; ++r) {
        // In turns, so that neither always meets the warmer cache.
        double plainTime = 0, plainCpu = 0, tlsTime = 0, tlsCpu = 0;
        if (!TimedUpload(plainClient, *plain, file, bytes, plainTime, plainCpu) ||
            !TimedUpload(tlsClient, *tls, file, bytes, tlsTime, tlsCpu)) {
            std::fprintf(stderr, "not every byte was sent\n");
            return 1;
        }
        std::printf("round %d: plain %.1f MB/s (%.2f s, CPU %.2f s), TLS %.1f MB/s (%.2f s, "
                    "CPU %.2f s, %s)\n",
                    r + 1, mb / plainTime, plainTime, plainCpu, mb / tlsTime, tlsTime, tlsCpu,
                    tlsClient.TlsProtocol().c_str());
        bestPlain = std::min(bestPlain, plainTime);
        bestTls = std::min(bestTls, tlsTime);
        cpuPlain = std::min(cpuPlain, plainCpu);
        cpuTls = std::min(cpuTls, tlsCpu);
    }
    std::printf("best: plain %.1f MB/s, TLS %.1f MB/s, ratio %.2f (target >= 0.70); client CPU "
                "per GiB: plain %.2f s, TLS %.2f s\n",
                mb / bestPlain, mb / bestTls, bestPlain / bestTls, cpuPlain / gib, cpuTls / gib);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--tls")
        return TlsAgainstPlain(argc > 2 ? std::atol(argv[2]) : 1024,
                               argc > 3 ? std::atoi(argv[3]) : 3);
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
