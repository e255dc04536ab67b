#include "net/Psock.h"

#include "net/ReplyCode.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Process-wide count of live socket objects (the user-interface thread only).
int WinsockUsers = 0;

// Errors of a non-blocking connect that are its result, not a misuse of the
// socket: they are reported as a failed connect notification.
bool IsConnectResult(int Errno) {
    return Errno == ECONNREFUSED || Errno == ETIMEDOUT || Errno == ENETUNREACH ||
           Errno == EHOSTUNREACH || Errno == ECONNRESET || Errno == ECONNABORTED;
}

// Restores the time-out timer on every exit of a waiting operation.
class TTimerScope {
public:
    explicit TTimerScope(TPowersock& Owner) : Sock(Owner) { Sock.TimerOn(); }
    ~TTimerScope() { Sock.TimerOff(); }
    TTimerScope(const TTimerScope&) = delete;
    TTimerScope& operator=(const TTimerScope&) = delete;

private:
    TPowersock& Sock;
};

} // namespace

// Result area of one name lookup, shared with the helper thread that runs it.
// Owner is touched only on the user-interface thread.
struct TPowersock::TLookup {
    TPowersock* Owner = nullptr;
    int Error = 0;     // Winsock number
    uint32_t Addr = 0; // network order
};

// Watches the object's socket for the delivery and turns poll() results into
// the notifications of Wndproc.
class TPowersock::TNotifier : public sockevents::TWatcher {
public:
    explicit TNotifier(TPowersock& Owner) : Sock(Owner) { sockevents::Register(this); }
    ~TNotifier() override { sockevents::Unregister(this); }

    int WatchedFd() const override { return Sock.ThisSocket; }

    short WatchedEvents() const override {
        if (Sock.ThisSocket == INVALID_SOCKET)
            return 0;
        if (Sock.Listening)
            return Sock.AcceptReported ? 0 : POLLIN;
        if (Sock.ConnectIssued && !Sock.ConnectReported)
            return POLLOUT;
        if (Sock.Connected && Sock.ReadArmed)
            return POLLIN;
        return 0;
    }

    void Notify(short Revents) override {
        if (Sock.Listening) {
            Sock.AcceptReported = true;
            const int error = (Revents & POLLERR) ? Sock.SocketError() : 0;
            Sock.Wndproc(Sock.ListenOnAsync ? PSOCK_ASYNC_MESSAGE : PSOCK_SOCKET_MESSAGE,
                         NOTIFY_ACCEPT, error);
            return;
        }
        if (Sock.ConnectIssued && !Sock.ConnectReported) {
            Sock.ConnectReported = true;
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CONNECT, Sock.SocketError());
            return;
        }
        // Readable, closed or failed: like Winsock, one read notification
        // until the data is received; the close shows as an empty peek.
        Sock.ReadArmed = false;
        char probe;
        const ssize_t n = recv(Sock.ThisSocket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_READ, 0);
        } else if (n == 0) {
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CLOSE, 0);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            Sock.ReadArmed = true;
        } else {
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CLOSE, WinsockErrorFromErrno(errno));
        }
    }

private:
    TPowersock& Sock;
};

// ---------------------------------------------------------------------------
// Construction, start-up, destruction

TPowersock::TPowersock() {
    StatusMessage(8, "Create");
    Buffer[0] = 0;
    Notifier = std::make_unique<TNotifier>(*this);
    Proxy.clear();
    Timer = std::make_unique<TThreadTimer>();
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](TThreadTimer*) { TimerFired(); });
    TimeOut = 0;
    Canceled = false;
    Destroying = false;
    Connected = false;
    InitWinsock();
}

void TPowersock::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    try {
        if (++WinsockUsers == 1) {
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            WinsockInfo.push_back("Version= 1.1");
            WinsockInfo.push_back("High Version= 2.2");
            WinsockInfo.push_back("Description= POSIX sockets");
            WinsockInfo.push_back("System= Running");
            WinsockInfo.push_back("Max Sockets= " + std::to_string(limit.rlim_cur));
            WinsockInfo.push_back("Max Udp pack size= 65507");
        }
        try {
            ThisSocket = MakeSocket(true);
            if (ThisSocket == INVALID_SOCKET)
                ErrorManager(WSAEWOULDBLOCK);
            if (ThisSocket == INVALID_SOCKET)
                throw ESockError("no socket");
        } catch (...) {
            --WinsockUsers;
            throw;
        }
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

TPowersock::~TPowersock() {
    try {
        StatusMessage(8, "Destroy");
        TPowersock::Abort();
        Cancel();
    } catch (...) {
    }
    if (Lookup)
        Lookup->Owner = nullptr; // a late lookup result finds nobody
    Timer.reset();
    Destroying = true;
    try {
        RequestCloseSocket();
    } catch (...) {
        // A failed close cannot be reported from a destructor.
    }
    Notifier.reset();
    --WinsockUsers;
}

TSocket TPowersock::MakeSocket(bool LingerZero) {
    Listening = false;
    AcceptReported = false;
    ConnectIssued = false;
    ConnectReported = false;
    ReadArmed = true;
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        CaptureError();
        return INVALID_SOCKET;
    }
    if (LingerZero) {
        linger l{1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    return s;
}

int TPowersock::CaptureError() {
    // An interrupted call is simply made again, like a would-block.
    PendingError = errno == EINTR ? WSAEWOULDBLOCK : WinsockErrorFromErrno(errno);
    return PendingError;
}

int TPowersock::SocketError() {
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(ThisSocket, SOL_SOCKET, SO_ERROR, &error, &len) < 0)
        error = errno;
    return WinsockErrorFromErrno(error);
}

// ---------------------------------------------------------------------------
// Notifications

void TPowersock::Wndproc(int Message, int Event, int Error) {
    NotifyOk = Error == 0;
    if (Error != 0)
        LastErrorNo = Error;
    try {
        if (Message == PSOCK_SOCKET_MESSAGE) {
            switch (Event) {
            case NOTIFY_READ:
                if (ReadHook) {
                    try {
                        ReadHook();
                    } catch (...) {
                    }
                }
                break;
            case NOTIFY_ACCEPT:
                Connected = true;
                // Accept() waits for this flag whichever number the listening
                // socket reports on, so it cannot wait for ever.
                AsyncDone = true;
                if (AcceptHook)
                    AcceptHook();
                break;
            case NOTIFY_CONNECT:
                if (NotifyOk) {
                    Connected = true;
                    ReadArmed = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case NOTIFY_CLOSE:
                // While data still waits, the reader meets the end itself.
                if (!DataAvailable())
                    RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (Message == PSOCK_ASYNC_MESSAGE) {
            AsyncDone = true;
            if (Event == NOTIFY_ACCEPT) {
                Connected = true;
                if (!Destroying && OnDisconnect)
                    OnDisconnect(this);
            }
        }
    } catch (...) {
        // Notifications never carry exceptions into the delivery.
    }
}

void TPowersock::WaitStep(int Fd, short Events) {
    sockevents::RunPumpHook();
    sockevents::Deliver(2, Fd, Events);
}

// ---------------------------------------------------------------------------
// Status and errors

void TPowersock::StatusMessage(uint8_t Level, const std::string& Text) {
    if (Level > ReportLevel)
        return;
    Status = Text;
    if (!Destroying && OnStatus) {
        try {
            OnStatus(this, Text);
        } catch (...) {
        }
    }
}

std::string TPowersock::ErrorManager(uint16_t Ignore) {
    LastErrorNo = PendingError;
    if (LastErrorNo != Ignore && LastErrorNo > 10000) {
        const std::string text = SocketErrorStr(static_cast<uint16_t>(LastErrorNo));
        if (OnError)
            OnError(this, static_cast<uint16_t>(LastErrorNo), text);
        throw ESockError(text);
    }
    return "";
}

std::string TPowersock::SocketErrorStr(uint16_t Code) {
    StatusMessage(8, "Looking Up Error Message");
    return ::SocketErrorStr(Code);
}

// ---------------------------------------------------------------------------
// Time-out

void TPowersock::TimerOn() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    Timer->SetInterval(static_cast<unsigned>(std::max(TimeOut, 0)));
    Timer->SetEnabled(true);
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    if (Timer)
        Timer->SetEnabled(false);
}

void TPowersock::TimerRestart() {
    if (TimeOut > 0 && Timer && Timer->GetEnabled()) {
        Timer->SetEnabled(false);
        Timer->SetEnabled(true);
    }
}

void TPowersock::RaiseWaitEnded(const char* TimeOutText, const char* AbortText) {
    Canceled = false;
    if (TimedOut)
        throw ETimeOutError(TimeOutText);
    throw EAbortError(AbortText);
}

void TPowersock::TimerFired() {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

// ---------------------------------------------------------------------------
// Connecting and closing

void TPowersock::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string name = Proxy.empty() ? Host : Proxy;
    in_addr dotted{};
    if (inet_pton(AF_INET, name.c_str(), &dotted) == 1) {
        RemoteAddress.Addr = dotted.s_addr;
        return;
    }
    RemoteAddress.Addr = 0;
    TTimerScope timer(*this);
    AsyncDone = false;

    if (Lookup)
        Lookup->Owner = nullptr; // an earlier, abandoned lookup
    auto lookup = std::make_shared<TLookup>();
    lookup->Owner = this;
    Lookup = lookup;
    // getaddrinfo() blocks, so it runs on a helper thread; the result comes
    // back to this thread through the delivery.
    std::thread([lookup, name] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
        int error = WinsockErrorFromLookup(rc, errno);
        uint32_t addr = 0;
        if (rc == 0) {
            if (list && list->ai_addr && list->ai_family == AF_INET)
                addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
            else
                error = 11004;
        }
        if (list)
            freeaddrinfo(list);
        sockevents::Post([lookup, error, addr] {
            lookup->Error = error;
            lookup->Addr = addr;
            if (lookup->Owner)
                lookup->Owner->Wndproc(PSOCK_ASYNC_MESSAGE, NOTIFY_LOOKUP, error);
        });
    }).detach();

    while (!AsyncDone && !TimedOut && !Canceled)
        WaitStep();
    lookup->Owner = nullptr;
    if (TimedOut)
        throw ESockError("Host Lookup Timed Out");
    if (Canceled)
        throw ESockError("Host Lookup Canceled");
    if (!NotifyOk)
        throw ESockError("Host Lookup Failed");
    RemoteAddress.Addr = lookup->Addr;
    if (OnHostResolved)
        OnHostResolved(this);
}

// Name lookup for Connect, with the one retry that OnInvalidHost may ask
// for; raises "Null Remote Address" when no address comes of it.
void TPowersock::ResolveForConnect() {
    for (int retry = 0;; ++retry) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& e) {
            const std::string msg = e.what();
            if (msg == "Host Lookup Timed Out" || msg == "Host Lookup Canceled")
                throw;
            RemoteAddress.Addr = 0; // a failed lookup
        }
        if (RemoteAddress.Addr != 0)
            break;
        if (retry > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError("Null Remote Address");
    }
}

void TPowersock::Connect() {
    StatusMessage(8, "Connecting");
    Canceled = false;
    if (Connected)
        throw ESockError("Already connected");
    ResolveForConnect();

    RemoteAddress.Family = AF_INET;
    RemoteAddress.Port = htons(static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort));
    AsyncDone = false;
    NotifyOk = true;

    // A socket keeps the outcome of an earlier attempt; connect from a new one.
    if (ConnectIssued || ThisSocket == INVALID_SOCKET)
        ReplaceSocket();

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = RemoteAddress.Port;
    to.sin_addr.s_addr = RemoteAddress.Addr;
    ConnectIssued = true;
    ConnectReported = false;
    if (connect(ThisSocket, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0 &&
        errno != EINPROGRESS) {
        const int error = errno;
        if (IsConnectResult(error)) {
            // Winsock reports these through the connect notification.
            ConnectReported = true;
            Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CONNECT, WinsockErrorFromErrno(error));
        } else {
            CaptureError();
            ErrorManager(WSAEWOULDBLOCK);
        }
    }

    {
        TTimerScope timer(*this);
        while (!Connected && !TimedOut && !Canceled && NotifyOk)
            WaitStep();
    }
    if (!TimedOut && !Canceled && NotifyOk)
        return;

    // Drop the unfinished attempt, so that a late answer cannot mark this
    // instance connected after the failure was reported.
    Connected = false;
    ReplaceSocket();
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ESockError("Connection Timed out");
    if (Canceled)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TPowersock::ReplaceSocket() {
    int lingerZero = 0;
    if (ThisSocket != INVALID_SOCKET) {
        linger l{};
        socklen_t len = sizeof l;
        if (getsockopt(ThisSocket, SOL_SOCKET, SO_LINGER, &l, &len) == 0)
            lingerZero = l.l_onoff && l.l_linger == 0;
        close(ThisSocket);
        ThisSocket = INVALID_SOCKET;
    }
    ThisSocket = MakeSocket(lingerZero != 0);
    if (ThisSocket == INVALID_SOCKET)
        ErrorManager(WSAEWOULDBLOCK);
}

void TPowersock::Disconnect() {
    StatusMessage(8, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::CertifyConnect() {
    StatusMessage(8, "Checking Connection");
    if (Connected)
        return;
    if (OnConnectionRequired) {
        bool handled = false;
        OnConnectionRequired(handled);
        if (handled && Connected)
            return;
    }
    throw Exception("Not Connected");
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
    Canceled = true;
}

void TPowersock::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

bool TPowersock::DataAvailable() {
    StatusMessage(8, "Data Available");
    char probe;
    ReadArmed = true;
    return recv(ThisSocket, &probe, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void TPowersock::ClearInput() {
    StatusMessage(8, "Clearing Input");
    ReadArmed = true;
    const ssize_t n = recv(ThisSocket, Buffer, PSOCK_BUFFER_SIZE, MSG_DONTWAIT);
    (void)n;
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (ThisSocket == INVALID_SOCKET)
        return;
    const int s = ThisSocket;
    ThisSocket = INVALID_SOCKET;
    if (close(s) < 0 && errno != EINTR) {
        CaptureError();
        ErrorManager(WSAEWOULDBLOCK);
        return;
    }
    // The fresh socket exists before OnDisconnect, so a handler may connect again.
    if (!Destroying) {
        ThisSocket = MakeSocket(false);
        if (ThisSocket == INVALID_SOCKET)
            ErrorManager(WSAEWOULDBLOCK);
    }
    if (!Destroying && OnDisconnect)
        OnDisconnect(this);
}

void TPowersock::SetSocket(TSocket NewSocket) {
    if (ThisSocket != INVALID_SOCKET && ThisSocket != NewSocket)
        close(ThisSocket);
    ThisSocket = NewSocket;
    Listening = false;
    AcceptReported = false;
    ConnectIssued = false;
    ConnectReported = false;
    ReadArmed = true;
    Connected = NewSocket != INVALID_SOCKET;
}

void TPowersock::SetLinger(bool On, int Seconds) {
    linger l{On ? 1 : 0, Seconds};
    if (setsockopt(ThisSocket, SOL_SOCKET, SO_LINGER, &l, sizeof l) < 0) {
        CaptureError();
        ErrorManager(WSAEWOULDBLOCK);
    }
}

void TPowersock::ShutdownSend() {
    // A connection the peer has already ended cannot be shut down; what it
    // did shows in the notifications that follow, so the result is not needed.
    if (ThisSocket != INVALID_SOCKET)
        (void)shutdown(ThisSocket, SHUT_WR);
}

// ---------------------------------------------------------------------------
// Output

void TPowersock::Writeln(const std::string& Value) {
    StatusMessage(8, "Writeln");
    Write(Value + "\r\n");
}

void TPowersock::Write(const std::string& Value) {
    StatusMessage(8, "Write");
    const size_t len = std::min<size_t>(Value.size(), PSOCK_BUFFER_SIZE);
    std::memcpy(Buffer, Value.data(), len);
    Buffer[len] = 0;
    SendBuffer(Buffer, 0);
}

void TPowersock::SendBuffer(const char* Value, uint16_t BufLen) {
    StatusMessage(4, "Sending Buffer");
    {
        TTimerScope timer(*this);
        if (!Canceled) {
            const size_t len = BufLen == 0 ? std::strlen(Value) : BufLen;
            size_t done = 0;
            while (done < len && !Canceled && !TimedOut) {
                const ssize_t n = send(ThisSocket, Value + done, len - done, MSG_NOSIGNAL);
                if (n == 0)
                    break;
                if (n < 0) {
                    CaptureError();
                    ErrorManager(WSAEWOULDBLOCK);
                    WaitStep(ThisSocket, POLLOUT); // would-block: wait for room
                    continue;
                }
                done += static_cast<size_t>(n);
                TimerRestart();
            }
        }
    }
    if (Canceled || TimedOut)
        RaiseWaitEnded(kTimedOutSending, "Socket send aborted");
}

// ---------------------------------------------------------------------------
// Input

std::string TPowersock::ReadLn() {
    StatusMessage(8, "ReadLn");
    TTimerScope timer(*this);
    size_t got = 0;
    do {
        if (got >= PSOCK_BUFFER_SIZE)
            throw ESockError("Reply line longer than 65536 bytes");
        ReadArmed = true;
        const ssize_t n =
            recv(ThisSocket, Buffer + got, PSOCK_BUFFER_SIZE - got, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            return "";
        if (n < 0) {
            LastErrorNo = CaptureError();
            if (LastErrorNo == WSAENOTCONN)
                return "";
            ErrorManager(WSAEWOULDBLOCK);
            WaitStep(ThisSocket, POLLIN); // nothing yet: wait for data
            continue;
        }
        const char* lf = static_cast<const char*>(std::memchr(Buffer + got, '\n', n));
        const size_t take = lf ? static_cast<size_t>(lf - (Buffer + got)) + 1 : n;
        // Take exactly what belongs to the line; the data is already there.
        size_t taken = 0;
        while (taken < take) {
            const ssize_t r = recv(ThisSocket, Buffer + got + taken, take - taken, MSG_DONTWAIT);
            if (r <= 0) {
                CaptureError();
                ErrorManager(WSAEWOULDBLOCK);
                return "";
            }
            taken += static_cast<size_t>(r);
        }
        got += take;
        if (lf)
            return std::string(Buffer, got);
        PumpMessages(0);
    } while (!Canceled && !TimedOut);
    RaiseWaitEnded(kTimedOutReply, "Socket readln aborted");
}

std::string TPowersock::Read(uint16_t Count) {
    StatusMessage(8, "Read( " + std::to_string(Count) + " )");
    ReadArmed = true;
    if (Count == 0) {
        const ssize_t n = recv(ThisSocket, Buffer, PSOCK_BUFFER_SIZE, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0) {
            CaptureError();
            ErrorManager(WSAEWOULDBLOCK);
            return "";
        }
        const ssize_t r = recv(ThisSocket, Buffer, n, MSG_DONTWAIT);
        return std::string(Buffer, r > 0 ? r : 0);
    }
    TTimerScope timer(*this);
    while (!Canceled && !TimedOut) {
        ReadArmed = true;
        const ssize_t n = recv(ThisSocket, Buffer, PSOCK_BUFFER_SIZE, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0)
            return "";
        if (n < 0) {
            CaptureError();
            ErrorManager(WSAEWOULDBLOCK);
            WaitStep(ThisSocket, POLLIN);
            continue;
        }
        if (n >= Count) {
            const ssize_t r = recv(ThisSocket, Buffer, Count, MSG_DONTWAIT);
            return std::string(Buffer, r > 0 ? r : 0);
        }
        // Part of it waits; the socket stays readable, so pause instead of polling it.
        PumpMessages(0);
        usleep(1000);
    }
    RaiseWaitEnded(kTimedOutReply, "Socket send aborted");
}

std::string TPowersock::Transaction(const std::string& Command) {
    StatusMessage(8, "Transaction");
    ReplyNumber = 0;
    Writeln(Command);
    TransactionReply = ReadLn();
    if (!TransactionReply.empty()) {
        StatusMessage(1, TransactionReply);
        ReplyNumber = ParseReplyNumber(TransactionReply);
    }
    return TransactionReply;
}

// ---------------------------------------------------------------------------
// Sending files and streams

bool TPowersock::SendChunk(size_t Length, bool StopOnZero) {
    size_t done = 0;
    while (done < Length && !Canceled && !TimedOut) {
        const ssize_t n = send(ThisSocket, Buffer + done, Length - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            BytesSent += n;
            TimerRestart(); // the time-out bounds a stall, not the whole file
            if (OnPacketSent)
                OnPacketSent(this);
            PumpMessages(0);
        } else if (n == 0) {
            if (StopOnZero)
                return false;
            break;
        } else {
            CaptureError();
            ErrorManager(WSAEWOULDBLOCK);
            WaitStep(ThisSocket, POLLOUT); // the peer is slow: wait for room
        }
    }
    return true;
}

void TPowersock::SendFile(const std::string& FileName) {
    StatusMessage(8, "SendFile");
    {
        TTimerScope timer(*this);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(FileName.c_str(), "rb"),
                                                             &std::fclose);
        if (!file)
            throw Exception("Cannot open file \"" + FileName + "\"");
        std::setvbuf(file.get(), nullptr, _IONBF, 0); // chunks go straight into Buffer
        std::fseek(file.get(), 0, SEEK_END);
        const int64_t size = ftello(file.get());
        std::fseek(file.get(), 0, SEEK_SET);
        int64_t position = 0;
        while (position < size && !Canceled && !TimedOut) {
            const size_t want =
                static_cast<size_t>(std::min<int64_t>(PSOCK_BUFFER_SIZE, size - position));
            const size_t got = std::fread(Buffer, 1, want, file.get());
            if (got == 0) {
                if (std::ferror(file.get()))
                    throw Exception("Read error on file \"" + FileName + "\"");
                break; // the file became shorter while being sent
            }
            position += static_cast<int64_t>(got);
            SendChunk(got, false);
        }
    }
    if (Canceled || TimedOut)
        RaiseWaitEnded(kTimedOutSending, "Socket send aborted");
}

void TPowersock::SendStream(std::istream& Stream) {
    StatusMessage(8, "SendStream");
    Stream.clear();
    Stream.seekg(0, std::ios::end);
    const int64_t size = static_cast<int64_t>(Stream.tellg());
    Stream.seekg(0, std::ios::beg);
    if (!Canceled) {
        BytesSent = 0;
        BytesTotal = size;
    }
    TTimerScope timer(*this);
    int64_t position = 0;
    while (position < size && !Canceled && !TimedOut) {
        const int64_t want = std::min<int64_t>(PSOCK_BUFFER_SIZE, size - position);
        Stream.read(Buffer, want);
        const int64_t got = Stream.gcount();
        if (got <= 0)
            break;
        position += got;
        if (!SendChunk(static_cast<size_t>(got), true))
            return;
    }
    if (Canceled || TimedOut)
        RaiseWaitEnded(kTimedOutSending, "Socket send aborted");
}

// ---------------------------------------------------------------------------
// Listening and accepting

int TPowersock::Listen(bool UseAsyncMessage) {
    StatusMessage(8, "Listening");
    RemoteAddress.Family = AF_INET;
    RemoteAddress.Port = htons(static_cast<uint16_t>(Port));
    RemoteAddress.Addr = htonl(INADDR_ANY);
    AsyncDone = false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = RemoteAddress.Port;
    local.sin_addr.s_addr = RemoteAddress.Addr;
    const int b = bind(ThisSocket, reinterpret_cast<sockaddr*>(&local), sizeof local);
    (void)b; // a failed bind shows in listen() or the accept
    Listening = true;
    AcceptReported = false;
    ListenOnAsync = UseAsyncMessage;
    return listen(ThisSocket, 1);
}

TSocket TPowersock::Accept() {
    StatusMessage(4, "Accepting");
    TTimerScope timer(*this);
    for (;;) {
        while (!AsyncDone && !Canceled)
            WaitStep();
        if (TimedOut) {
            Canceled = false;
            throw ETimeOutError(kTimedOutAccept);
        }
        if (Canceled)
            throw ESockError("Accepting Canceled");
        if (!NotifyOk)
            throw ESockError("Error creating Data Connection");
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int s = accept4(ThisSocket, reinterpret_cast<sockaddr*>(&peer), &len,
                              SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (s < 0) {
            CaptureError();
            ErrorManager(WSAEWOULDBLOCK);
            // The connection went away before it was taken: wait for the next one.
            AsyncDone = false;
            AcceptReported = false;
            continue;
        }
        RemoteAddress.Family = AF_INET;
        RemoteAddress.Port = peer.sin_port;
        RemoteAddress.Addr = peer.sin_addr.s_addr;
        if (Canceled) {
            close(s);
            Canceled = false;
            throw EAbortError("Socket send aborted");
        }
        return s;
    }
}

std::string TPowersock::GetLocalAddress() {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(ThisSocket, reinterpret_cast<sockaddr*>(&local), &len);
    const uint32_t a = ntohl(local.sin_addr.s_addr);
    return std::to_string((a >> 24) & 0xff) + "," + std::to_string((a >> 16) & 0xff) + "," +
           std::to_string((a >> 8) & 0xff) + "," + std::to_string(a & 0xff);
}

std::string TPowersock::GetPortString() {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(ThisSocket, reinterpret_cast<sockaddr*>(&local), &len);
    const unsigned port = ntohs(local.sin_port);
    char text[16];
    std::snprintf(text, sizeof text, ",%u,%u", port >> 8, port & 0xff);
    return text;
}

// ---------------------------------------------------------------------------

std::string NthWord(const std::string& Text, char Delimiter, int N) {
    if (Text.empty() || N < 1)
        return "";
    size_t start = 0;
    for (int field = 1; field < N; ++field) {
        const size_t next = Text.find(Delimiter, start);
        if (next == std::string::npos)
            return "";
        start = next + 1;
    }
    const size_t end = Text.find(Delimiter, start);
    return Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
