#include "tests/support/FtpRelay.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

using Socket = sockapi::THandle;
constexpr Socket kNoSocket = sockapi::kNoSocket;
constexpr int kWouldBlock = 10035;
constexpr int kSliceMs = 20;

bool WaitFor(Socket fd, short events, int ms) {
    std::vector<sockapi::TPollEntry> entry{{fd, events, 0}};
    return sockapi::Poll(entry, ms) > 0 && entry[0].Ready != 0;
}

bool SendAll(Socket fd, const char* data, size_t length) {
    for (int waited = 0; length > 0 && waited < 5000;) {
        const long n = sockapi::Send(fd, data, length);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
        } else if (n < 0 && sockapi::LastError() == kWouldBlock) {
            WaitFor(fd, sockapi::kWritable, kSliceMs);
            waited += kSliceMs;
        } else {
            return false;
        }
    }
    return length == 0;
}

} // namespace

FtpRelay::FtpRelay(uint16_t targetPort, bool openProxy)
    : targetPort_(targetPort), openProxy_(openProxy) {
    sockapi::AddUser();
    listenFd_ = sockapi::OpenStream();
    uint32_t addr = 0;
    uint16_t netPort = 0;
    if (listenFd_ == kNoSocket ||
        !sockapi::Bind(listenFd_, sockapi::HostToNet32(sockapi::kLoopback), 0) ||
        !sockapi::Listen(listenFd_, 4) || !sockapi::LocalAddress(listenFd_, addr, netPort)) {
        if (listenFd_ != kNoSocket)
            sockapi::Close(listenFd_);
        sockapi::RemoveUser();
        throw std::runtime_error("FTP relay: cannot listen on 127.0.0.1");
    }
    port_ = sockapi::NetToHost16(netPort);
    thread_ = std::thread([this] { Run(); });
}

FtpRelay::~FtpRelay() {
    stop_ = true;
    thread_.join();
    sockapi::Close(listenFd_);
    sockapi::RemoveUser();
}

std::string FtpRelay::Transcript() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_;
}

void FtpRelay::Run() {
    while (!stop_) {
        if (!WaitFor(listenFd_, sockapi::kReadable, kSliceMs))
            continue;
        uint32_t addr = 0;
        uint16_t port = 0;
        const Socket client = sockapi::Accept(listenFd_, addr, port);
        if (client != kNoSocket)
            Relay(client);
    }
}

Socket FtpRelay::ConnectTarget(uint16_t port) {
    const Socket fd = sockapi::OpenStream();
    if (fd == kNoSocket)
        return kNoSocket;
    if (sockapi::Connect(fd, sockapi::HostToNet32(sockapi::kLoopback),
                         sockapi::HostToNet16(port)) != 0 ||
        !WaitFor(fd, sockapi::kWritable, 5000) || sockapi::PendingError(fd) != 0) {
        sockapi::Close(fd);
        return kNoSocket;
    }
    return fd;
}

void FtpRelay::Relay(Socket client) {
    uint16_t port = targetPort_;
    if (openProxy_) {
        // "OPEN host:port" within a few seconds; the rest is relayed.
        const char greeting[] = "220 OPEN proxy ready.\r\n";
        SendAll(client, greeting, sizeof greeting - 1);
        std::string line;
        for (int waited = 0; line.find('\n') == std::string::npos && waited < 5000 && !stop_;
             waited += kSliceMs) {
            if (!WaitFor(client, sockapi::kReadable, kSliceMs))
                continue;
            char c;
            if (sockapi::Receive(client, &c, 1, false) != 1)
                break;
            line += c;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            transcript_ += line;
        }
        const size_t colon = line.rfind(':');
        port = 0;
        if (line.rfind("OPEN ", 0) == 0 && colon != std::string::npos)
            port = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
    }
    const Socket server = port ? ConnectTarget(port) : kNoSocket;
    if (server == kNoSocket) {
        const char refused[] = "421 Cannot reach the server.\r\n";
        SendAll(client, refused, sizeof refused - 1);
        sockapi::Close(client);
        return;
    }
    // Each direction until its end; a failure ends both.
    bool up = true, down = true;
    while (!stop_ && (up || down)) {
        std::vector<sockapi::TPollEntry> entries;
        if (up)
            entries.push_back({client, sockapi::kReadable, 0});
        if (down)
            entries.push_back({server, sockapi::kReadable, 0});
        if (sockapi::Poll(entries, kSliceMs) <= 0)
            continue;
        for (const auto& e : entries) {
            if (e.Ready == 0)
                continue;
            const bool fromClient = e.Socket == client;
            const Socket to = fromClient ? server : client;
            char buf[65536];
            const long n = sockapi::Receive(e.Socket, buf, sizeof buf, false);
            if (n < 0 && sockapi::LastError() == kWouldBlock)
                continue;
            if (n > 0) {
                if (fromClient) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    transcript_.append(buf, static_cast<size_t>(n));
                }
                if (SendAll(to, buf, static_cast<size_t>(n)))
                    continue;
            }
            if (n < 0 || n > 0)
                up = down = false; // a reset, or the other side is gone
            else
                sockapi::ShutdownSend(to);
            (fromClient ? up : down) = false;
        }
    }
    sockapi::Close(server);
    sockapi::Close(client);
}

} // namespace testsupport
