#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

namespace {

int ListenLoopback(int Backlog, int& Port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || listen(fd, Backlog) < 0) {
        close(fd);
        throw std::runtime_error("listen failed");
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    Port = ntohs(a.sin_port);
    return fd;
}

} // namespace

LoopbackPeer::LoopbackPeer(std::function<void(LoopbackPeer& Peer, int Fd)> Script) {
    Listener = ListenLoopback(1, PortNo);
    Worker = std::thread([this, Script] {
        pollfd p{Listener, POLLIN, 0};
        // Wait for the client for at most 10 s, watching the stop flag.
        for (int i = 0; i < 1000 && !Stop; ++i) {
            if (poll(&p, 1, 10) > 0)
                break;
        }
        if (!Stop && (p.revents & POLLIN)) {
            const int fd = accept(Listener, nullptr, nullptr);
            if (fd >= 0) {
                Accepted = fd;
                Script(*this, fd);
                if (Closed == 0)
                    close(fd);
                Accepted = -1;
            }
        }
        Done = true;
    });
}

LoopbackPeer::~LoopbackPeer() {
    Stop = true;
    const int fd = Accepted.load();
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR); // wakes a script blocked in the kernel
    Worker.join();
    close(Listener);
}

bool LoopbackPeer::SendAll(int Fd, const std::string& Bytes) {
    size_t done = 0;
    while (done < Bytes.size() && !Stop) {
        pollfd p{Fd, POLLOUT, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = send(Fd, Bytes.data() + done, Bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return done == Bytes.size();
}

std::string LoopbackPeer::ReadLine(int Fd, int TimeoutMs) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Stop && std::chrono::steady_clock::now() < end) {
        pollfd p{Fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        char c;
        if (recv(Fd, &c, 1, 0) != 1)
            return "";
        line += c;
        if (c == '\n')
            return line;
    }
    return "";
}

std::string LoopbackPeer::ReadToEnd(int Fd, int TimeoutMs) {
    std::string data;
    std::vector<char> buf(1 << 16);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Stop && std::chrono::steady_clock::now() < end) {
        pollfd p{Fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = recv(Fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        data.append(buf.data(), static_cast<size_t>(n));
    }
    return data;
}

void LoopbackPeer::Discard(int Fd, std::atomic<int64_t>& Bytes) {
    std::vector<char> buf(256 * 1024);
    while (!Stop) {
        pollfd p{Fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = recv(Fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        Bytes += n;
    }
}

void LoopbackPeer::SleepMs(int Ms) {
    for (int waited = 0; waited < Ms && !Stop; waited += 5)
        usleep(5000);
}

void LoopbackPeer::HoldOpen() {
    while (!Stopping())
        SleepMs(10);
}

void HoldOpen(LoopbackPeer& Peer, int) {
    Peer.HoldOpen();
}

void LoopbackPeer::Reset(int Fd) {
    linger l{1, 0};
    setsockopt(Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(Fd);
    Accepted = -1;
    Closed = 1;
}

int RefusedPort() {
    int port = 0;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    close(fd); // bound but never listened: the port is free again
    return port;
}

SilentHost::SilentHost() {
    Listener = ListenLoopback(0, PortNo);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(PortNo));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Fill the accept queue until a connect stays unanswered.
    for (int i = 0; i < 16 && !Full; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        Fillers.push_back(fd);
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 200) == 0)
            Full = true;
    }
}

SilentHost::~SilentHost() {
    for (int fd : Fillers)
        close(fd);
    close(Listener);
}

std::string UnresolvableName() {
    return std::string(70, 'x') + ".invalid";
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

} // namespace nettest
