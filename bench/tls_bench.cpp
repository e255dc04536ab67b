// Upload throughput through the connection layer's stream over loopback:
// TLS (the seam's OpenSSL client, pinned certificate, TLS 1.3) next to the
// plain stream, to the same kind of local sink in one run, with the client
// thread's CPU time per GiB. The upload ends as an FTPS upload must: the
// client's close_notify and the sink's answer (TLS), the TCP end (plain).
//
//   tls_bench [MiB per upload, default 1024]
//
// The sink is a thread of this process (blocking OpenSSL server, or plain
// recv), reading and dropping everything; the client sends 64 KiB chunks
// from memory as SendFile does, waiting for what the stream wants.
#include "net/SockError.h"
#include "net/TlsStream.h"

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
        Worker.join();
        close(Listener);
    }
    int Port() const { return PortNo; }
    std::atomic<int64_t> Bytes{0};

private:
    void Run() {
        const int fd = accept(Listener, nullptr, nullptr);
        std::vector<char> buf(1 << 16);
        if (!Ctx) {
            ssize_t n;
            while ((n = recv(fd, buf.data(), buf.size(), 0)) > 0)
                Bytes += n;
        } else {
            SSL* ssl = SSL_new(Ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                int n;
                while ((n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()))) > 0)
                    Bytes += n;
                SSL_shutdown(ssl); // answers the client's close_notify
            }
            SSL_free(ssl);
        }
        close(fd);
    }

    SSL_CTX* Ctx;
    int Listener = -1;
    int PortNo = 0;
    std::thread Worker;
};

bool Wait(TStream& S) {
    if (S.LastError() != WSAEWOULDBLOCK)
        return false;
    std::vector<sockapi::TPollEntry> e{{S.Socket(), S.Wanted(), 0}};
    sockapi::Poll(e, 2);
    return true;
}

struct Result {
    double mbPerSecond = 0;
    double cpuPerGiB = 0;
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
    std::unique_ptr<TStream> stream;
    if (SinkTls) {
        auto tls =
            NewTlsStream(fd, NewTlsSession({"localhost", ParseCertificatePin(Pin)}), TTlsUse::Data);
        while (!tls->Handshake())
            if (!Wait(*tls))
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
            else if (!Wait(*stream))
                return {};
        }
        sent += static_cast<int64_t>(want);
    }
    while (!stream->ShutdownSend())
        if (!Wait(*stream))
            return {};
    char buf[4096];
    long n;
    while ((n = stream->Receive(buf, sizeof buf, false)) != 0)
        if (n < 0 && !Wait(*stream))
            break;
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    stream.reset();
    sockapi::Close(fd);
    if (sink.Bytes != Size)
        std::printf("    the sink read %lld of %lld bytes\n",
                    static_cast<long long>(sink.Bytes.load()), static_cast<long long>(Size));
    return {Size / 1e6 / secs, cpu / (Size / 1073741824.0)};
}

} // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
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
    std::printf("Upload through the stream over loopback, %lld MiB each, to a local sink\n",
                static_cast<long long>(mib));
    Result plainBest, tlsBest;
    for (int round = 1; round <= 3; ++round) {
        const Result plain = Upload(nullptr, "", size);
        const Result tls = Upload(ctx, pin, size);
        std::printf("  round %d: plain %8.1f MB/s (%.2f s CPU/GiB)   TLS 1.3 %8.1f MB/s (%.2f s "
                    "CPU/GiB)\n",
                    round, plain.mbPerSecond, plain.cpuPerGiB, tls.mbPerSecond, tls.cpuPerGiB);
        if (plain.mbPerSecond > plainBest.mbPerSecond)
            plainBest = plain;
        if (tls.mbPerSecond > tlsBest.mbPerSecond)
            tlsBest = tls;
    }
    std::printf("  best: TLS / plain = %.2f (target >= 0.70); client CPU per GiB: plain %.2f s, "
                "TLS %.2f s\n",
                tlsBest.mbPerSecond / plainBest.mbPerSecond, plainBest.cpuPerGiB,
                tlsBest.cpuPerGiB);
    SSL_CTX_free(ctx);
    return 0;
}
