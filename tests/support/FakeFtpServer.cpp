#include "tests/support/FakeFtpServer.h"

#include "net/SocketApi.h"
#include "tests/support/FakeFtpTls.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace testsupport {

namespace {

using Socket = sockapi::THandle;
constexpr Socket kNoSocket = sockapi::kNoSocket;
constexpr int kSliceMs = 20;

constexpr int kWouldBlock = 10035;

// One socket's readiness within ms milliseconds.
bool WaitFor(Socket fd, short events, int ms) {
    std::vector<sockapi::TPollEntry> entry{{fd, events, 0}};
    return sockapi::Poll(entry, ms) > 0 && entry[0].Ready != 0;
}

Socket ListenLoopback(uint16_t* port) {
    Socket fd = sockapi::OpenStream();
    if (fd == kNoSocket)
        return kNoSocket;
    uint32_t addr = 0;
    uint16_t netPort = 0;
    if (!sockapi::Bind(fd, sockapi::HostToNet32(sockapi::kLoopback), 0) ||
        !sockapi::Listen(fd, 4) || !sockapi::LocalAddress(fd, addr, netPort)) {
        sockapi::Close(fd);
        return kNoSocket;
    }
    *port = sockapi::NetToHost16(netPort);
    return fd;
}

// Closes with a reset instead of an orderly end, as a crashing server would.
void ResetClose(Socket fd) {
    sockapi::SetLinger(fd, true, 0);
    sockapi::Close(fd);
}

// Waits (within the step's time-out) until the client has sent something,
// its hello after AUTH TLS, and takes it.
void TakeHello(Socket fd, int timeoutMs, const std::function<bool()>& stopping) {
    for (int waited = 0; waited < timeoutMs && !stopping(); waited += kSliceMs)
        if (WaitFor(fd, sockapi::kReadable, kSliceMs))
            break;
    char buf[4096];
    (void)sockapi::Receive(fd, buf, sizeof buf, false);
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
    sockapi::AddUser();
    listenFd_ = ListenLoopback(&port_);
    if (listenFd_ == kNoSocket) {
        sockapi::RemoveUser();
        throw std::runtime_error("fake FTP server: cannot listen on 127.0.0.1");
    }
    thread_ = std::thread([this] { Run(); });
}

FakeFtpServer::~FakeFtpServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    thread_.join();
    CloseControl();
    if (pasvFd_ != kNoSocket)
        sockapi::Close(pasvFd_);
    sockapi::Close(listenFd_);
    sockapi::RemoveUser();
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
    if (options.dataTls != DataTls::Off && options.dataTls != DataTls::ResetHandshake)
        EnsureTls();
    Step s;
    s.kind = Kind::Store;
    s.command = command;
    s.store = std::move(options);
    return Add(s);
}

FakeFtpServer& FakeFtpServer::LogIn(const std::string& user, const std::string& password,
                                    Pace pace) {
    return Reply("USER " + user, "331 Password required.", pace)
        .Reply("PASS " + password, "230 Logged in.", pace);
}

FakeFtpServer& FakeFtpServer::Close() {
    Step s;
    s.kind = Kind::Close;
    return Add(s);
}

FakeFtpServer& FakeFtpServer::AuthTls(TlsHandshake how, const std::string& reply) {
    if (how == TlsHandshake::Complete)
        EnsureTls();
    Step s;
    s.kind = Kind::AuthTls;
    s.command = "AUTH TLS";
    s.reply = reply;
    s.handshake = how;
    return Add(s);
}

void FakeFtpServer::EnsureTls() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tls_ || tlsUnavailable_)
        return;
    std::string why;
    tls_ = FakeTlsContext::Make(&why);
    if (!tls_) {
        tlsUnavailable_ = true;
        errors_.push_back("TLS: " + why);
    }
}

std::string FakeFtpServer::CertificateFingerprint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tls_ ? tls_->Fingerprint() : "";
}

std::vector<DataTlsReport> FakeFtpServer::DataTlsReports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tlsReports_;
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

bool FakeFtpServer::Stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
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
    controlTls_.reset();
    if (controlFd_ != kNoSocket) {
        sockapi::ShutdownSend(controlFd_);
        sockapi::Close(controlFd_);
    }
    controlFd_ = kNoSocket;
    inBuffer_.clear();
}

Socket FakeFtpServer::AcceptWithin(Socket fd, int ms) {
    for (int waited = 0; ms < 0 || waited < ms; waited += kSliceMs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return kNoSocket;
        }
        if (WaitFor(fd, sockapi::kReadable, kSliceMs)) {
            uint32_t addr = 0;
            uint16_t port = 0;
            return sockapi::Accept(fd, addr, port);
        }
    }
    return kNoSocket;
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
        char buf[4096];
        const long n = ReceiveControl(buf, sizeof buf, kSliceMs);
        waited += kSliceMs;
        if (n < 0)
            continue;
        if (n == 0)
            return false;
        inBuffer_.append(buf, static_cast<size_t>(n));
    }
}

long FakeFtpServer::ReceiveControl(char* buf, size_t len, int ms) {
    if (controlTls_)
        return controlTls_->Read(buf, len, ms);
    if (!WaitFor(controlFd_, sockapi::kReadable, ms))
        return -1;
    const long n = sockapi::Receive(controlFd_, buf, len, false);
    if (n < 0 && sockapi::LastError() == kWouldBlock)
        return -1;
    return n < 0 ? 0 : n;
}

bool FakeFtpServer::ControlReadable(int ms) {
    return (controlTls_ && controlTls_->Pending()) || WaitFor(controlFd_, sockapi::kReadable, ms);
}

void FakeFtpServer::DoAuthTls(const Step& step) {
    SendReply(step.reply, step.pace);
    if (step.reply.compare(0, 3, "234") != 0 || controlFd_ == kNoSocket)
        return;
    const std::function<bool()> stopping = [this] { return Stopping(); };
    switch (step.handshake) {
    case TlsHandshake::Complete: {
        std::string why = "no TLS";
        if (tls_)
            controlTls_ = tls_->Accept(controlFd_, timeoutMs_, stopping, &why);
        if (!controlTls_) {
            Error("AUTH TLS: " + why);
            CloseControl();
        }
        break;
    }
    case TlsHandshake::Reset:
        TakeHello(controlFd_, timeoutMs_, stopping);
        ResetClose(controlFd_);
        controlFd_ = kNoSocket;
        inBuffer_.clear();
        break;
    case TlsHandshake::Close:
        TakeHello(controlFd_, timeoutMs_, stopping);
        CloseControl();
        break;
    case TlsHandshake::Silent:
        // Until the client gives up (its hello may wait unread), the server
        // stops, or the step's time-out passes.
        for (int waited = 0; waited < timeoutMs_ && !Stopping(); waited += kSliceMs) {
            std::vector<sockapi::TPollEntry> entry{{controlFd_, sockapi::kReadable, 0}};
            if (sockapi::Poll(entry, kSliceMs) <= 0 || entry[0].Ready == 0)
                continue;
            // A reset shows beside the hello that still waits unread.
            if (entry[0].Ready & (sockapi::kFailed | sockapi::kClosed))
                break;
            char probe[4096];
            const long n = sockapi::Receive(controlFd_, probe, sizeof probe, true);
            if (n == 0 || (n < 0 && sockapi::LastError() != kWouldBlock))
                break; // the client closed or reset the connection
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
        }
        CloseControl();
        break;
    }
}

std::string FakeFtpServer::DataTlsRead(Socket data, const StoreOptions& o, std::string& received,
                                       bool& reset) {
    DataTlsReport report;
    const auto record = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        tlsReports_.push_back(report);
    };
    const std::function<bool()> stopping = [this] { return Stopping(); };
    if (o.dataTls == DataTls::ResetHandshake) {
        TakeHello(data, timeoutMs_, stopping);
        reset = true;
        record();
        return "";
    }
    std::string why = "no TLS";
    std::unique_ptr<FakeTlsConnection> conn;
    if (tls_)
        conn =
            tls_->Accept(data, timeoutMs_, stopping, &why, o.dataTls != DataTls::RefuseResumption);
    if (!conn) {
        Error("store: data connection TLS: " + why);
        record();
        return "";
    }
    report.resumed = conn->Resumed();
    if ((o.dataTls == DataTls::RequireReuse || o.dataTls == DataTls::RefuseResumption) &&
        !report.resumed) {
        record();
        return "522 SSL connection failed: session reuse required";
    }
    for (int idle = 0;;) {
        if (o.dropAfter >= 0 && static_cast<long long>(received.size()) >= o.dropAfter) {
            reset = true;
            break;
        }
        char buf[65536];
        size_t want = sizeof buf;
        if (o.dropAfter >= 0)
            want = std::min<size_t>(want, static_cast<size_t>(o.dropAfter) - received.size());
        const long n = conn->Read(buf, want, kSliceMs);
        if (n > 0) {
            received.append(buf, static_cast<size_t>(n));
            idle = 0;
            continue;
        }
        if (n == 0)
            break;
        idle += kSliceMs;
        if (Stopping() || idle >= timeoutMs_) {
            if (!Stopping())
                Error("store: data connection idle too long");
            break;
        }
    }
    report.end = conn->End();
    if (report.end == "close_notify")
        conn->SendCloseNotify(timeoutMs_);
    record();
    return "";
}

bool FakeFtpServer::SendReply(const std::string& text, Pace pace) {
    std::string bytes = text;
    if (bytes.empty() || bytes.back() != '\n')
        bytes += "\r\n";
    if (pace.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(pace.delayMs));
    if (controlFd_ == kNoSocket)
        return false;
    if (pace.byteGapMs >= 0) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i && pace.byteGapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pace.byteGapMs));
            if (!SendAll(bytes.substr(i, 1)))
                return false;
        }
    } else if (!SendAll(bytes)) {
        return false;
    }
    if (pace.dripMs >= 0) {
        Drip(bytes, pace.dripMs);
        return false;
    }
    return true;
}

void FakeFtpServer::Drip(const std::string& bytes, int gapMs) {
    const size_t start = bytes.rfind('\n', bytes.size() - 2);
    const std::string line = start == std::string::npos ? bytes : bytes.substr(start + 1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (std::chrono::steady_clock::now() < until && !Stopping()) {
        if (gapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        if (!SendAll(line))
            break;
    }
    CloseControl();
}

// The sockets do not block: a full send buffer is waited out, within the
// step's time-out.
bool FakeFtpServer::SendAll(const std::string& bytes) {
    if (controlTls_)
        return controlTls_->Write(bytes, timeoutMs_);
    size_t done = 0;
    for (int waited = 0; done < bytes.size() && waited < timeoutMs_;) {
        const long n = sockapi::Send(controlFd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && sockapi::LastError() == kWouldBlock) {
            WaitFor(controlFd_, sockapi::kWritable, kSliceMs);
            waited += kSliceMs;
        } else {
            return false;
        }
    }
    return done == bytes.size();
}

Socket FakeFtpServer::ConnectActive() {
    Socket fd = sockapi::OpenStream();
    uint32_t addr = 0;
    if (fd == kNoSocket || !sockapi::ParseDotted(activeHost_, addr) ||
        sockapi::Connect(fd, addr, sockapi::HostToNet16(static_cast<uint16_t>(activePort_))) != 0 ||
        !WaitFor(fd, sockapi::kWritable, timeoutMs_) || sockapi::PendingError(fd) != 0) {
        if (fd != kNoSocket)
            sockapi::Close(fd);
        return kNoSocket;
    }
    return fd;
}

void FakeFtpServer::DoStore(const Step& step) {
    const StoreOptions& o = step.store;
    if (!o.preliminary.empty())
        SendReply(o.preliminary, {});
    Socket data = kNoSocket;
    if (activePort_ >= 0) {
        data = ConnectActive();
        activePort_ = -1;
    } else if (pasvFd_ != kNoSocket) {
        data = AcceptWithin(pasvFd_, timeoutMs_);
        sockapi::Close(pasvFd_);
        pasvFd_ = kNoSocket;
    }
    std::string received;
    std::string finalReply = o.final;
    bool finalSent = false;
    if (data == kNoSocket) {
        Error("store: no data connection");
    } else {
        bool reset = false;
        int idle = 0;
        if (o.dataTls != DataTls::Off) {
            const std::string instead = DataTlsRead(data, o, received, reset);
            if (!instead.empty())
                finalReply = instead;
        }
        while (o.dataTls == DataTls::Off) {
            if (o.dropAfter >= 0 && static_cast<long long>(received.size()) >= o.dropAfter) {
                reset = true;
                break;
            }
            if (!WaitFor(data, sockapi::kReadable, kSliceMs)) {
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
            const long n = sockapi::Receive(data, buf, want, false);
            if (n < 0 && sockapi::LastError() == kWouldBlock)
                continue;
            if (n <= 0)
                break;
            received.append(buf, static_cast<size_t>(n));
        }
        if (o.finalBeforeDataClose && !o.closeControl && !finalReply.empty())
            finalSent = SendReply(finalReply, o.finalPace);
        if (o.dataCloseDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(o.dataCloseDelayMs));
        if (reset)
            ResetClose(data);
        else
            sockapi::Close(data);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stored_.push_back(received);
    }
    if (o.closeControl)
        CloseControl();
    else if (!finalReply.empty() && !finalSent)
        SendReply(finalReply, o.finalPace);
}

void FakeFtpServer::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return;
        }
        if (controlFd_ == kNoSocket) {
            Socket fd = AcceptWithin(listenFd_, kSliceMs);
            if (fd == kNoSocket)
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
                for (int waited = 0; waited < g.silenceMs && !Stopping(); waited += kSliceMs)
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
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
            if (inBuffer_.find('\n') == std::string::npos && !ControlReadable(kSliceMs))
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
            if (pasvFd_ != kNoSocket)
                sockapi::Close(pasvFd_);
            uint16_t port = 0;
            pasvFd_ = ListenLoopback(&port);
            if (s.refuse && pasvFd_ != kNoSocket) {
                sockapi::Close(pasvFd_);
                pasvFd_ = kNoSocket;
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
        case Kind::AuthTls:
            DoAuthTls(s);
            break;
        default:
            break;
        }
        StepDone();
    }
}

} // namespace testsupport
