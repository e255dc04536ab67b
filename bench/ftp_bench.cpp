// Upload of a large file to pyftpdlib on 127.0.0.1: TNMFTP against `curl -T`
// to the same server in the same run, and the client's CPU time per GiB.
// Usage: ftp_bench [MiB] [rounds]   (default 1024 MiB, 2 rounds; best round counts)
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

} // namespace

int main(int argc, char** argv) {
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
