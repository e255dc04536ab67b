#include "LoopbackPeer.h"

#include <chrono>
#include <ctime>
#include <stdexcept>

namespace nettest {

namespace {

// One socket's readiness within Ms milliseconds.
bool WaitFor(TPeerSocket Fd, short Events, int Ms) {
    std::vector<sockapi::TPollEntry> entry{{Fd, Events, 0}};
    return sockapi::Poll(entry, Ms) > 0 && entry[0].Ready != 0;
}

TPeerSocket ListenLoopback(int Backlog, int& Port) {
    const TPeerSocket fd = sockapi::OpenStream();
    if (fd == sockapi::kNoSocket)
        throw std::runtime_error("socket failed");
    uint32_t addr = 0;
    uint16_t port = 0;
    if (!sockapi::Bind(fd, sockapi::HostToNet32(sockapi::kLoopback), 0) ||
        !sockapi::Listen(fd, Backlog) || !sockapi::LocalAddress(fd, addr, port)) {
        sockapi::Close(fd);
        throw std::runtime_error("listen failed");
    }
    Port = sockapi::NetToHost16(port);
    return fd;
}

} // namespace

LoopbackPeer::LoopbackPeer(std::function<void(LoopbackPeer& Peer, TPeerSocket Fd)> Script) {
    sockapi::AddUser();
    Listener = ListenLoopback(1, PortNo);
    Worker = std::thread([this, Script] {
        // Wait for the client for at most 10 s, watching the stop flag.
        bool ready = false;
        for (int i = 0; i < 1000 && !Stop && !ready; ++i)
            ready = WaitFor(Listener, sockapi::kReadable, 10);
        if (!Stop && ready) {
            uint32_t addr = 0;
            uint16_t port = 0;
            const TPeerSocket fd = sockapi::Accept(Listener, addr, port);
            if (fd != sockapi::kNoSocket) {
                Accepted = fd;
                Script(*this, fd);
                if (Closed == 0)
                    sockapi::Close(fd);
                Accepted = sockapi::kNoSocket;
            }
        }
        Done = true;
    });
}

LoopbackPeer::~LoopbackPeer() {
    // Every helper of a script waits in short slices and watches this flag.
    Stop = true;
    Worker.join();
    sockapi::Close(Listener);
    sockapi::RemoveUser();
}

bool LoopbackPeer::SendAll(TPeerSocket Fd, const std::string& Bytes) {
    size_t done = 0;
    while (done < Bytes.size() && !Stop) {
        if (!WaitFor(Fd, sockapi::kWritable, 50))
            continue;
        const long n = sockapi::Send(Fd, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && sockapi::LastError() == 10035)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return done == Bytes.size();
}

std::string LoopbackPeer::ReadLine(TPeerSocket Fd, int TimeoutMs) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Stop && std::chrono::steady_clock::now() < end) {
        if (!WaitFor(Fd, sockapi::kReadable, 20))
            continue;
        char c;
        const long n = sockapi::Receive(Fd, &c, 1, false);
        if (n < 0 && sockapi::LastError() == 10035)
            continue;
        if (n != 1)
            return "";
        line += c;
        if (c == '\n')
            return line;
    }
    return "";
}

std::string LoopbackPeer::ReadToEnd(TPeerSocket Fd, int TimeoutMs) {
    std::string data;
    std::vector<char> buf(1 << 16);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Stop && std::chrono::steady_clock::now() < end) {
        if (!WaitFor(Fd, sockapi::kReadable, 20))
            continue;
        const long n = sockapi::Receive(Fd, buf.data(), buf.size(), false);
        if (n < 0 && sockapi::LastError() == 10035)
            continue;
        if (n <= 0)
            break;
        data.append(buf.data(), static_cast<size_t>(n));
    }
    return data;
}

void LoopbackPeer::Discard(TPeerSocket Fd, std::atomic<int64_t>& Bytes) {
    std::vector<char> buf(256 * 1024);
    while (!Stop) {
        if (!WaitFor(Fd, sockapi::kReadable, 50))
            continue;
        const long n = sockapi::Receive(Fd, buf.data(), buf.size(), false);
        if (n < 0 && sockapi::LastError() == 10035)
            continue;
        if (n <= 0)
            break;
        Bytes += n;
    }
}

void LoopbackPeer::SleepMs(int Ms) {
    for (int waited = 0; waited < Ms && !Stop; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void LoopbackPeer::HoldOpen() {
    while (!Stopping())
        SleepMs(10);
}

void HoldOpen(LoopbackPeer& Peer, TPeerSocket) {
    Peer.HoldOpen();
}

void LoopbackPeer::Reset(TPeerSocket Fd) {
    sockapi::SetLinger(Fd, true, 0);
    sockapi::Close(Fd);
    Accepted = sockapi::kNoSocket;
    Closed = 1;
}

int RefusedPort() {
    sockapi::AddUser();
    const TPeerSocket fd = sockapi::OpenStream();
    uint32_t addr = 0;
    uint16_t port = 0;
    sockapi::Bind(fd, sockapi::HostToNet32(sockapi::kLoopback), 0);
    sockapi::LocalAddress(fd, addr, port);
    sockapi::Close(fd); // bound but never listened: the port is free again
    sockapi::RemoveUser();
    return sockapi::NetToHost16(port);
}

SilentHost::SilentHost() {
    sockapi::AddUser();
    Listener = ListenLoopback(0, PortNo);
    const uint16_t port = sockapi::HostToNet16(static_cast<uint16_t>(PortNo));
    // Fill the accept queue until a connect stays unanswered.
    for (int i = 0; i < 16 && !Full; ++i) {
        const TPeerSocket fd = sockapi::OpenStream();
        Fillers.push_back(fd);
        sockapi::Connect(fd, sockapi::HostToNet32(sockapi::kLoopback), port);
        if (!WaitFor(fd, sockapi::kWritable, 200))
            Full = true;
    }
}

SilentHost::~SilentHost() {
    for (TPeerSocket fd : Fillers)
        sockapi::Close(fd);
    sockapi::Close(Listener);
    sockapi::RemoveUser();
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
