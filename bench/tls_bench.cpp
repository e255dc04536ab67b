// Upload throughput through the connection layer's stream over loopback:
// TLS (the seam's OpenSSL client, pinned certificate, TLS 1.3) next to the
// plain stream, to the same kind of local sink in one run, with the client
// thread's CPU time per GiB. The upload ends as an FTPS upload must: the
// client's close_notify and the sink's answer (TLS), the TCP end (plain).
//
//   tls_bench [MiB per upload, default 1024] [rounds, default 3]
//
// The sink is a thread of this process (blocking OpenSSL server, or plain
// recv), reading and dropping everything; the client sends 64 KiB chunks
// from memory as SendFile does, waiting for what the stream wants (each
// wait at most 2 ms, as the connection layer's). Printed per round: the
// client's and the sink's CPU time per GiB, and the client's share of the
// time spent waiting for room (high: the sink is the slower side).
#include "Spread.h"
#include "net/SockError.h"
#include "net/TlsStream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::Median;
using bench::Range;

using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// One connection on 127.0.0.1 read to its end on a thread of its own.
class Sink {
public:
    explicit Sink(SSL_CTX* Tls) : Ctx(Tls) {
        Listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(Listener, 1);
        getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len);
        PortNo = ntohs(a.sin_port);
        Worker = std::thread([this] { Run(); });
    }
    ~Sink() {
        Join();
        close(Listener);
    }
    void Join() {
        if (Worker.joinable())
            Worker.join();
    }
    int Port() const { return PortNo; }
    std::atomic<int64_t> Bytes{0};
    std::atomic<double> Cpu{0}; // the sink thread's, from the accept to its end
    std::string Cipher;         // TLS: as negotiated (read after Join)

private:
    void Run() {
        const int fd = accept(Listener, nullptr, nullptr);
        const double cpu0 = ThreadCpuSeconds();
        std::vector<char> buf(1 << 16);
        if (!Ctx) {
            ssize_t n;
            while ((n = recv(fd, buf.data(), buf.size(), 0)) > 0)
                Bytes += n;
        } else {
            SSL* ssl = SSL_new(Ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                Cipher = SSL_get_cipher_name(ssl);
                int n;
                while ((n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()))) > 0)
                    Bytes += n;
                SSL_shutdown(ssl); // answers the client's close_notify
            }
            SSL_free(ssl);
        }
        Cpu = ThreadCpuSeconds() - cpu0;
        close(fd);
    }

    SSL_CTX* Ctx;
    int Listener = -1;
    int PortNo = 0;
    std::thread Worker;
};

// The client's waits for the stream during one upload.
struct Waits {
    long Count = 0;
    double Seconds = 0;
};

bool Wait(TStream& S, Waits& W) {
    if (S.LastError() != WSAEWOULDBLOCK)
        return false;
    std::vector<sockapi::TPollEntry> e{{S.Socket(), S.Wanted(), 0}};
    const auto t0 = Clock::now();
    sockapi::Poll(e, 2);
    W.Seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    ++W.Count;
    return true;
}

struct Result {
    double mbPerSecond = 0;
    double cpuPerGiB = 0;
    double sinkCpuPerGiB = 0;
    double waitingShare = 0; // of the upload's time, in waits for the stream
    std::string cipher;
};

Result Upload(SSL_CTX* SinkTls, const std::string& Pin, int64_t Size) {
    Sink sink(SinkTls);
    const sockapi::THandle fd = sockapi::OpenStream();
    uint32_t addr = 0;
    sockapi::ParseDotted("127.0.0.1", addr);
    sockapi::Connect(fd, addr, sockapi::HostToNet16(static_cast<uint16_t>(sink.Port())));
    std::vector<sockapi::TPollEntry> w{{fd, sockapi::kWritable, 0}};
    while (sockapi::Poll(w, 2) == 0) {
    }
    const auto start = Clock::now();
    const double cpu0 = ThreadCpuSeconds();
    Waits waits;
    std::unique_ptr<TStream> stream;
    if (SinkTls) {
        auto tls =
            NewTlsStream(fd, NewTlsSession({"localhost", ParseCertificatePin(Pin)}), TTlsUse::Data);
        while (!tls->Handshake())
            if (!Wait(*tls, waits))
                return {};
        stream = std::move(tls);
    } else {
        stream = NewPlainStream(fd);
    }
    std::vector<char> chunk(65536, 'r');
    for (int64_t sent = 0; sent < Size;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(chunk.size(), Size - sent));
        for (size_t done = 0; done < want;) {
            const long n = stream->Send(chunk.data() + done, want - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else if (!Wait(*stream, waits))
                return {};
        }
        sent += static_cast<int64_t>(want);
    }
    while (!stream->ShutdownSend())
        if (!Wait(*stream, waits))
            return {};
    char buf[4096];
    long n;
    while ((n = stream->Receive(buf, sizeof buf, false)) != 0)
        if (n < 0 && !Wait(*stream, waits))
            break;
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    stream.reset();
    sockapi::Close(fd);
    const double gib = Size / 1073741824.0;
    sink.Join();
    const int64_t got = sink.Bytes;
    const double sinkCpu = sink.Cpu;
    if (got != Size)
        std::printf("    the sink read %lld of %lld bytes\n", static_cast<long long>(got),
                    static_cast<long long>(Size));
    return {Size / 1e6 / secs, cpu / gib, sinkCpu / gib, waits.Seconds / secs, sink.Cipher};
}

} // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const int64_t size = mib * 1048576;
    char dir[] = "/tmp/tls_bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string cert = std::string(dir) + "/cert.pem", key = std::string(dir) + "/key.pem";
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                             "-nodes -days 1 -subj /CN=localhost -keyout " +
                             key + " -out " + cert + " >/dev/null 2>&1";
    std::string pin;
    if (std::system(make.c_str()) == 0) {
        FILE* p = popen(("openssl x509 -noout -fingerprint -sha256 -in " + cert).c_str(), "r");
        char line[256] = {};
        if (p && std::fgets(line, sizeof line, p))
            pin = line;
        if (p)
            pclose(p);
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (pin.empty() || SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        std::printf("cannot make the sink's certificate (openssl)\n");
        return 1;
    }
    std::system(("rm -rf " + std::string(dir)).c_str());
    sockapi::AddUser();
    std::printf("Upload through the stream over loopback, %lld MiB each, to a local sink; CPU "
                "per GiB of the client and of the sink, the client's share of time in waits\n",
                static_cast<long long>(mib));
    Range plainRate, tlsRate, ratio, plainCpu, tlsCpu, plainSink, tlsSink;
    std::vector<double> plainRates, tlsRates;
    std::string cipher;
    for (int round = 1; round <= rounds; ++round) {
        const Result plain = Upload(nullptr, "", size);
        const Result tls = Upload(ctx, pin, size);
        std::printf("  round %d: plain %7.1f MB/s (%.2f s, %.2f s, %2.0f %%)   TLS %7.1f MB/s "
                    "(%.2f s, %.2f s, %2.0f %%)   ratio %.2f\n",
                    round, plain.mbPerSecond, plain.cpuPerGiB, plain.sinkCpuPerGiB,
                    100 * plain.waitingShare, tls.mbPerSecond, tls.cpuPerGiB, tls.sinkCpuPerGiB,
                    100 * tls.waitingShare, tls.mbPerSecond / plain.mbPerSecond);
        plainRate.Add(plain.mbPerSecond);
        tlsRate.Add(tls.mbPerSecond);
        plainRates.push_back(plain.mbPerSecond);
        tlsRates.push_back(tls.mbPerSecond);
        ratio.Add(tls.mbPerSecond / plain.mbPerSecond);
        plainCpu.Add(plain.cpuPerGiB);
        tlsCpu.Add(tls.cpuPerGiB);
        plainSink.Add(plain.sinkCpuPerGiB);
        tlsSink.Add(tls.sinkCpuPerGiB);
        cipher = tls.cipher;
    }
    std::printf("  %d rounds, TLS 1.3 with %s:\n", rounds, cipher.c_str());
    std::printf("  plain %.0f-%.0f MB/s (median %.0f), CPU per GiB: client %.2f-%.2f s, sink "
                "%.2f-%.2f s\n",
                plainRate.Low, plainRate.High, Median(plainRates), plainCpu.Low, plainCpu.High,
                plainSink.Low, plainSink.High);
    std::printf("  TLS   %.0f-%.0f MB/s (median %.0f), CPU per GiB: client %.2f-%.2f s, sink "
                "%.2f-%.2f s\n",
                tlsRate.Low, tlsRate.High, Median(tlsRates), tlsCpu.Low, tlsCpu.High, tlsSink.Low,
                tlsSink.High);
    std::printf("  TLS / plain per round %.2f-%.2f, of the medians %.2f (target >= 0.70)\n",
                ratio.Low, ratio.High, Median(tlsRates) / Median(plainRates));
    SSL_CTX_free(ctx);
    return 0;
}
