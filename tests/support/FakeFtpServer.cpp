#include "tests/support/FakeFtpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr int kSliceMs = 20;

int ListenLoopback(uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

// Closes with a reset instead of an orderly end, as a crashing server would.
void ResetClose(int fd) {
    linger lg{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(fd);
}

bool Matches(const std::string& expected, const std::string& got) {
    if (expected == "*")
        return true;
    if (!expected.empty() && expected.back() == '*')
        return got.compare(0, expected.size() - 1, expected, 0, expected.size() - 1) == 0;
    return expected == got;
}

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (size_t pos = text.find(what); pos != std::string::npos;
         pos = text.find(what, pos + with.size()))
        text.replace(pos, what.size(), with);
}

} // namespace

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += "\r\n";
        out += lines[i];
    }
    return out;
}

FakeFtpServer::FakeFtpServer(int stepTimeoutMs) : timeoutMs_(stepTimeoutMs) {
    listenFd_ = ListenLoopback(&port_);
    if (listenFd_ < 0)
        throw std::runtime_error("fake FTP server: cannot listen on 127.0.0.1");
    thread_ = std::thread([this] { Run(); });
}

FakeFtpServer::~FakeFtpServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    thread_.join();
    CloseControl();
    if (pasvFd_ >= 0)
        ::close(pasvFd_);
    ::close(listenFd_);
}

FakeFtpServer& FakeFtpServer::Add(Step step) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        steps_.push_back(std::move(step));
    }
    changed_.notify_all();
    return *this;
}

FakeFtpServer& FakeFtpServer::Greeting(const std::string& reply, Pace pace) {
    Step s;
    s.kind = Kind::Greeting;
    s.reply = reply;
    s.pace = pace;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::SilentGreeting(int silenceMs, const std::string& thenReply) {
    Step s;
    s.kind = Kind::Silent;
    s.silenceMs = silenceMs;
    s.reply = thenReply;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::Reply(const std::string& command, const std::string& reply,
                                    Pace pace) {
    Step s;
    s.kind = Kind::Reply;
    s.command = command;
    s.reply = reply;
    s.pace = pace;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::ReplyAndClose(const std::string& command, const std::string& reply) {
    Step s;
    s.kind = Kind::Reply;
    s.command = command;
    s.reply = reply;
    s.closeAfter = true;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::Pasv(const std::string& command, const std::string& replyTemplate,
                                   bool refuseData) {
    Step s;
    s.kind = Kind::Pasv;
    s.command = command;
    s.reply = replyTemplate;
    s.refuse = refuseData;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::PortCommand(const std::string& reply) {
    Step s;
    s.kind = Kind::Port;
    s.command = "PORT *";
    s.reply = reply;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::Store(const std::string& command, StoreOptions options) {
    Step s;
    s.kind = Kind::Store;
    s.command = command;
    s.store = std::move(options);
    return Add(s);
}

FakeFtpServer& FakeFtpServer::Close() {
    Step s;
    s.kind = Kind::Close;
    return Add(s);
}

std::vector<std::string> FakeFtpServer::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<std::string> FakeFtpServer::StoredData() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored_;
}

int FakeFtpServer::Connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::string FakeFtpServer::Verify(int waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                      [this] { return steps_.empty() && running_ == 0; });
    std::string report;
    for (const auto& e : errors_)
        report += e + "\n";
    if (running_ != 0)
        report += "a step is still running\n";
    for (const auto& s : steps_)
        report +=
            "step not reached: " + (s.command.empty() ? std::string("(no command)") : s.command) +
            "\n";
    return report;
}

void FakeFtpServer::Error(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back(text);
}

// Takes the front step when it fits the phase: greeting steps only right
// after a connection was accepted, all others only inside a connection.
bool FakeFtpServer::NextStep(Step& step, bool greetingPhase) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (steps_.empty())
        return false;
    bool isGreeting = steps_.front().kind == Kind::Greeting || steps_.front().kind == Kind::Silent;
    if (isGreeting != greetingPhase)
        return false;
    step = steps_.front();
    steps_.pop_front();
    ++running_;
    return true;
}

void FakeFtpServer::StepDone() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --running_;
    }
    changed_.notify_all();
}

void FakeFtpServer::CloseControl() {
    if (controlFd_ >= 0) {
        ::shutdown(controlFd_, SHUT_RDWR);
        ::close(controlFd_);
    }
    controlFd_ = -1;
    inBuffer_.clear();
}

int FakeFtpServer::AcceptWithin(int fd, int ms) {
    for (int waited = 0; ms < 0 || waited < ms; waited += kSliceMs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return -1;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) > 0)
            return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    return -1;
}

// Reads one line into `line` (CR LF removed). False on a closed connection,
// a time-out or a stop; the caller closes the control connection.
bool FakeFtpServer::ReadCommand(std::string& line) {
    int waited = 0;
    for (;;) {
        size_t lf = inBuffer_.find('\n');
        if (lf != std::string::npos) {
            line = inBuffer_.substr(0, lf);
            inBuffer_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::lock_guard<std::mutex> lock(mutex_);
            commands_.push_back(line);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return false;
        }
        if (waited >= timeoutMs_) {
            Error("timed out waiting for a command");
            return false;
        }
        pollfd p{controlFd_, POLLIN, 0};
        int r = ::poll(&p, 1, kSliceMs);
        waited += kSliceMs;
        if (r <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::recv(controlFd_, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        inBuffer_.append(buf, static_cast<size_t>(n));
    }
}

bool FakeFtpServer::SendReply(const std::string& text, Pace pace) {
    std::string bytes = text;
    if (bytes.empty() || bytes.back() != '\n')
        bytes += "\r\n";
    if (pace.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(pace.delayMs));
    if (controlFd_ < 0)
        return false;
    if (pace.byteGapMs >= 0) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i && pace.byteGapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pace.byteGapMs));
            if (::send(controlFd_, &bytes[i], 1, MSG_NOSIGNAL) != 1)
                return false;
        }
        return true;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(controlFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int FakeFtpServer::ConnectActive() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(activePort_));
    if (fd < 0 || ::inet_pton(AF_INET, activeHost_.c_str(), &addr.sin_addr) != 1 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

void FakeFtpServer::DoStore(const Step& step) {
    const StoreOptions& o = step.store;
    if (!o.preliminary.empty())
        SendReply(o.preliminary, {});
    int data = -1;
    if (activePort_ >= 0) {
        data = ConnectActive();
        activePort_ = -1;
    } else if (pasvFd_ >= 0) {
        data = AcceptWithin(pasvFd_, timeoutMs_);
        ::close(pasvFd_);
        pasvFd_ = -1;
    }
    std::string received;
    if (data < 0) {
        Error("store: no data connection");
    } else {
        bool reset = false;
        int idle = 0;
        for (;;) {
            if (o.dropAfter >= 0 && static_cast<long long>(received.size()) >= o.dropAfter) {
                reset = true;
                break;
            }
            pollfd p{data, POLLIN, 0};
            int r = ::poll(&p, 1, kSliceMs);
            if (r == 0) {
                idle += kSliceMs;
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_ || idle >= timeoutMs_) {
                    if (!stop_)
                        errors_.push_back("store: data connection idle too long");
                    break;
                }
                continue;
            }
            idle = 0;
            char buf[65536];
            size_t want = sizeof buf;
            if (o.dropAfter >= 0)
                want = std::min<size_t>(want, static_cast<size_t>(o.dropAfter) - received.size());
            ssize_t n = ::recv(data, buf, want, 0);
            if (n <= 0)
                break;
            received.append(buf, static_cast<size_t>(n));
        }
        if (reset)
            ResetClose(data);
        else
            ::close(data);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stored_.push_back(received);
    }
    if (o.closeControl)
        CloseControl();
    else if (!o.final.empty())
        SendReply(o.final, o.finalPace);
}

void FakeFtpServer::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return;
        }
        if (controlFd_ < 0) {
            int fd = AcceptWithin(listenFd_, kSliceMs);
            if (fd < 0)
                continue;
            controlFd_ = fd;
            inBuffer_.clear();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++connections_;
            }
            Step g;
            if (!NextStep(g, true)) {
                SendReply("220 Fake FTP server ready.", {});
                continue;
            }
            if (g.kind == Kind::Greeting) {
                SendReply(g.reply, g.pace);
            } else {
                // The silence ends early when the server stops.
                for (int waited = 0; waited < g.silenceMs; waited += kSliceMs) {
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        if (stop_)
                            break;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
                }
                if (g.reply.empty())
                    CloseControl();
                else
                    SendReply(g.reply, {});
            }
            StepDone();
            continue;
        }

        Step s;
        if (!NextStep(s, false)) {
            // Nothing scripted for this connection: wait for more script, a
            // command the script does not expect, or the client's close.
            pollfd p{controlFd_, POLLIN, 0};
            if (inBuffer_.find('\n') == std::string::npos && ::poll(&p, 1, kSliceMs) <= 0)
                continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!steps_.empty() && steps_.front().kind != Kind::Greeting &&
                    steps_.front().kind != Kind::Silent)
                    continue;
            }
            std::string line;
            if (!ReadCommand(line)) {
                CloseControl();
                continue;
            }
            Error("unexpected command: " + line);
            SendReply("502 Command not in the script.", {});
            continue;
        }

        if (s.kind == Kind::Close) {
            CloseControl();
            StepDone();
            continue;
        }
        std::string line;
        if (!ReadCommand(line)) {
            // The client went away: the step waits for the next connection
            // (Verify reports it when none comes).
            CloseControl();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                steps_.push_front(s);
            }
            StepDone();
            continue;
        }
        if (!Matches(s.command, line))
            Error("expected \"" + s.command + "\", got \"" + line + "\"");
        switch (s.kind) {
        case Kind::Reply:
            if (!s.reply.empty())
                SendReply(s.reply, s.pace);
            if (s.closeAfter)
                CloseControl();
            break;
        case Kind::Pasv: {
            if (pasvFd_ >= 0)
                ::close(pasvFd_);
            uint16_t port = 0;
            pasvFd_ = ListenLoopback(&port);
            if (s.refuse && pasvFd_ >= 0) {
                ::close(pasvFd_);
                pasvFd_ = -1;
            }
            std::string text = s.reply;
            ReplaceAll(text, "{hostport}",
                       "127,0,0,1," + std::to_string(port / 256) + "," +
                           std::to_string(port % 256));
            ReplaceAll(text, "{p1p2}",
                       std::to_string(port / 256) + "," + std::to_string(port % 256));
            ReplaceAll(text, "{port}", std::to_string(port));
            SendReply(text, s.pace);
            break;
        }
        case Kind::Port: {
            int h[6];
            if (std::sscanf(line.c_str(), "PORT %d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3],
                            &h[4], &h[5]) == 6) {
                activeHost_ = std::to_string(h[0]) + "." + std::to_string(h[1]) + "." +
                              std::to_string(h[2]) + "." + std::to_string(h[3]);
                activePort_ = h[4] * 256 + h[5];
            } else {
                Error("malformed PORT command: " + line);
            }
            SendReply(s.reply, s.pace);
            break;
        }
        case Kind::Store:
            DoStore(s);
            break;
        default:
            break;
        }
        StepDone();
    }
}

} // namespace testsupport
