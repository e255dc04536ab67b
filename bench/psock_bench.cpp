// Throughput of TPowersock::SendFile over loopback next to a plain blocking
// send loop (the CPU its waits use while nothing happens: wait_bench.cpp).
//
//   psock_bench [size in MiB, default 1024]
//
// The file is written to the temporary folder once and read from the page
// cache by both senders, so the figures compare the socket paths.
#include "net/Psock.h"
#include "tests/net/LoopbackPeer.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// A reader on 127.0.0.1 that discards everything.
class DiscardReader {
public:
    DiscardReader() : Peer([this](nettest::LoopbackPeer& P, int Fd) { P.Discard(Fd, Bytes); }) {}
    int Port() const { return Peer.Port(); }
    std::atomic<int64_t> Bytes{0};

private:
    nettest::LoopbackPeer Peer;
};

int ConnectBlocking(int Port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(Port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

void WaitForBytes(DiscardReader& Reader, int64_t Size) {
    while (Reader.Bytes < Size)
        usleep(200);
}

double PlainSendLoop(const std::string& Path, int64_t Size) {
    DiscardReader reader;
    const int s = ConnectBlocking(reader.Port());
    const int f = open(Path.c_str(), O_RDONLY);
    std::vector<char> buf(65536);
    const auto start = Clock::now();
    for (;;) {
        const ssize_t n = read(f, buf.data(), buf.size());
        if (n <= 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t r = send(s, buf.data() + done, n - done, MSG_NOSIGNAL);
            if (r <= 0)
                return 0;
            done += r;
        }
    }
    WaitForBytes(reader, Size);
    const double secs = Seconds(start);
    close(f);
    close(s);
    return Size / 1048576.0 / secs;
}

double PowersockSendFile(const std::string& Path, int64_t Size) {
    DiscardReader reader;
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = reader.Port();
    s.Connect();
    int64_t packets = 0;
    s.OnPacketSent = [&](TPowersock*) { ++packets; };
    const auto start = Clock::now();
    s.SendFile(Path);
    WaitForBytes(reader, Size);
    const double secs = Seconds(start);
    std::printf("    (%lld send() calls with bytes, %.1f KiB each on average)\n",
                static_cast<long long>(packets), Size / 1024.0 / packets);
    return Size / 1048576.0 / secs;
}

} // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int64_t size = mib * 1048576;
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp ? tmp : "/tmp") + "/psock_bench.bin";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 2654435761u >> 13);
        for (int64_t i = 0; i < mib; ++i)
            std::fwrite(block.data(), 1, block.size(), f);
        std::fclose(f);
    }
    std::printf("SendFile over loopback, %lld MiB file\n", static_cast<long long>(mib));
    PlainSendLoop(path, size); // warms the page cache
    double plainBest = 0, sockBest = 0;
    for (int round = 1; round <= 4; ++round) {
        const double plain = PlainSendLoop(path, size);
        std::printf("  round %d: plain blocking send loop  %8.1f MB/s\n", round, plain);
        const double sock = PowersockSendFile(path, size);
        std::printf("  round %d: TPowersock::SendFile       %8.1f MB/s\n", round, sock);
        plainBest = std::max(plainBest, plain);
        sockBest = std::max(sockBest, sock);
    }
    std::printf("  best: SendFile / plain = %.2f (target >= 0.90)\n", sockBest / plainBest);
    std::remove(path.c_str());
    return 0;
}
