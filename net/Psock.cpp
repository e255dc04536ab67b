#include "net/Psock.h"

#include "net/ReplyCode.h"

#include "net/SocketApi.h"
#include "platform/BinaryFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr uint16_t kAfInet = 2; // the internet address family, as Winsock numbers it

// Errors of a non-blocking connect that are its result, not a misuse of the
// socket: they are reported as a failed connect notification.
bool IsConnectResult(int Error) {
    return Error == 10061 || Error == WSAETIMEDOUT || Error == 10051 || Error == 10065 ||
           Error == 10054 || Error == 10053;
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

    TSocket WatchedFd() const override { return Sock.ThisSocket; }

    short WatchedEvents() const override {
        if (Sock.ThisSocket == INVALID_SOCKET || Sock.Handshaking)
            return 0;
        if (Sock.Listening)
            return Sock.AcceptReported ? 0 : sockapi::kReadable;
        if (Sock.ConnectIssued && !Sock.ConnectReported)
            return sockapi::kWritable;
        if (Sock.Connected && Sock.ReadArmed)
            return sockapi::kReadable;
        return 0;
    }

    void Notify(short Revents) override {
        if (Sock.Listening) {
            Sock.AcceptReported = true;
            const int error = (Revents & sockapi::kFailed) ? Sock.SocketError() : 0;
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
        const long n = Sock.Stream->Receive(&probe, 1, true);
        const int error = n < 0 ? Sock.Stream->LastError() : 0;
        if (n > 0)
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_READ, 0);
        else if (n == 0)
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CLOSE, 0);
        else if (error == WSAEWOULDBLOCK)
            Sock.ReadArmed = true;
        else
            Sock.Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CLOSE, error);
    }

    // Decrypted bytes wait inside the stream: a read is due without the socket.
    bool Buffered() const override { return Sock.Stream && Sock.Stream->Buffered(); }

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
        if (!sockapi::AddUser())
            throw ESockError("no sockets");
        WinsockInfo = sockapi::Describe();
        try {
            ThisSocket = MakeSocket(true);
            AttachStream();
            if (ThisSocket == INVALID_SOCKET)
                ErrorManager(WSAEWOULDBLOCK);
            if (ThisSocket == INVALID_SOCKET)
                throw ESockError("no socket");
        } catch (...) {
            sockapi::RemoveUser();
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
    sockapi::RemoveUser();
}

TSocket TPowersock::MakeSocket(bool LingerZero) {
    Listening = false;
    AcceptReported = false;
    ConnectIssued = false;
    ConnectReported = false;
    ReadArmed = true;
    const TSocket s = sockapi::OpenStream();
    if (s == INVALID_SOCKET) {
        CaptureError();
        return INVALID_SOCKET;
    }
    if (LingerZero)
        sockapi::SetLinger(s, true, 0);
    return s;
}

int TPowersock::CaptureError() {
    PendingError = sockapi::LastError();
    return PendingError;
}

int TPowersock::CaptureStreamError() {
    PendingError = Stream->LastError();
    return PendingError;
}

void TPowersock::AttachStream() {
    Stream = NewPlainStream(ThisSocket);
}

int TPowersock::SocketError() {
    return sockapi::PendingError(ThisSocket);
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

void TPowersock::WaitStep(TSocket Fd, short Events) {
    sockevents::RunPumpHook();
    sockevents::Deliver(kWaitPassMs, Fd, Events);
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
        // A TLS failure has its own text; the numbers are the socket's otherwise.
        const bool tls =
            LastErrorNo == kStreamTlsFailed || LastErrorNo == kStreamCertificateRefused;
        const std::string text = tls && Stream ? Stream->FailureText()
                                               : SocketErrorStr(static_cast<uint16_t>(LastErrorNo));
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
    if (DeadlineDepth == 0)
        StartTimer();
}

void TPowersock::TimerOff() {
    if (DeadlineDepth == 0)
        StopTimer();
}

void TPowersock::StartTimer() {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    Timer->SetInterval(static_cast<unsigned>(std::max(TimeOut, 0)));
    Timer->SetEnabled(true);
}

void TPowersock::StopTimer() {
    StatusMessage(8, "Timer Off");
    if (Timer)
        Timer->SetEnabled(false);
}

void TPowersock::TimerRestart() {
    if (DeadlineDepth == 0 && TimeOut > 0 && Timer && Timer->GetEnabled()) {
        Timer->SetEnabled(false);
        Timer->SetEnabled(true);
    }
}

void TPowersock::BeginDeadline() {
    if (DeadlineDepth++ > 0)
        return;
    // Counted from here, even if a timer of an earlier wait still runs.
    StopTimer();
    StartTimer();
}

void TPowersock::EndDeadline() {
    if (DeadlineDepth > 0 && --DeadlineDepth == 0)
        StopTimer();
}

void TPowersock::RaiseWaitEnded(const char* TimeOutText, const char* AbortText) {
    Canceled = false;
    if (TimedOut)
        throw ETimeOutError(TimeOutText);
    throw EAbortError(AbortText);
}

void TPowersock::TimerFired() {
    StatusMessage(8, "Timer Triggered");
    StopTimer(); // also inside a deadline: it has run out
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

// ---------------------------------------------------------------------------
// Connecting and closing

void TPowersock::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string name = Proxy.empty() ? Host : Proxy;
    uint32_t dotted = 0;
    if (sockapi::ParseDotted(name, dotted)) {
        RemoteAddress.Addr = dotted;
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
    // A lookup blocks, so it runs on a helper thread; the result comes back
    // to this thread through the delivery.
    std::thread([lookup, name] {
        uint32_t addr = 0;
        const int error = sockapi::Lookup(name, addr);
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

    RemoteAddress.Family = kAfInet;
    RemoteAddress.Port =
        sockapi::HostToNet16(static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort));
    AsyncDone = false;
    NotifyOk = true;

    // A socket keeps the outcome of an earlier attempt; connect from a new one.
    if (ConnectIssued || ThisSocket == INVALID_SOCKET)
        ReplaceSocket();

    ConnectIssued = true;
    ConnectReported = false;
    const int error = sockapi::Connect(ThisSocket, RemoteAddress.Addr, RemoteAddress.Port);
    if (error != 0) {
        if (IsConnectResult(error)) {
            // Winsock reports these through the connect notification.
            ConnectReported = true;
            Wndproc(PSOCK_SOCKET_MESSAGE, NOTIFY_CONNECT, error);
        } else {
            PendingError = error;
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
    bool lingerZero = false;
    if (ThisSocket != INVALID_SOCKET) {
        bool on = false;
        int seconds = 0;
        if (sockapi::GetLinger(ThisSocket, on, seconds))
            lingerZero = on && seconds == 0;
        Stream.reset();
        sockapi::Close(ThisSocket);
        ThisSocket = INVALID_SOCKET;
    }
    ThisSocket = MakeSocket(lingerZero);
    AttachStream();
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
    return Stream->Receive(&probe, 1, true) > 0;
}

void TPowersock::ClearInput() {
    StatusMessage(8, "Clearing Input");
    ReadArmed = true;
    (void)Stream->Receive(Buffer, PSOCK_BUFFER_SIZE, false);
}

void TPowersock::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    Connected = false;
    if (ThisSocket == INVALID_SOCKET)
        return;
    const int s = ThisSocket;
    ThisSocket = INVALID_SOCKET;
    AttachStream(); // the stream goes before its socket
    if (!sockapi::Close(s)) {
        CaptureError();
        ErrorManager(WSAEWOULDBLOCK);
        return;
    }
    // The fresh socket exists before OnDisconnect, so a handler may connect again.
    if (!Destroying) {
        ThisSocket = MakeSocket(false);
        AttachStream();
        if (ThisSocket == INVALID_SOCKET)
            ErrorManager(WSAEWOULDBLOCK);
    }
    if (!Destroying && OnDisconnect)
        OnDisconnect(this);
}

void TPowersock::SetSocket(TSocket NewSocket) {
    Stream.reset();
    if (ThisSocket != INVALID_SOCKET && ThisSocket != NewSocket)
        sockapi::Close(ThisSocket);
    ThisSocket = NewSocket;
    AttachStream();
    Listening = false;
    AcceptReported = false;
    ConnectIssued = false;
    ConnectReported = false;
    ReadArmed = true;
    Connected = NewSocket != INVALID_SOCKET;
}

void TPowersock::SetLinger(bool On, int Seconds) {
    if (!sockapi::SetLinger(ThisSocket, On, Seconds)) {
        CaptureError();
        ErrorManager(WSAEWOULDBLOCK);
    }
}

void TPowersock::ShutdownSend() {
    // A connection the peer has already ended cannot be shut down; what it
    // did shows in the notifications that follow, so the result is not needed.
    if (ThisSocket == INVALID_SOCKET || Stream->ShutdownSend() ||
        Stream->LastError() != WSAEWOULDBLOCK)
        return;
    // Only TLS waits here: its close_notify needs room in a full socket.
    {
        TTimerScope timer(*this);
        while (Connected && !Canceled && !TimedOut) {
            WaitStep(ThisSocket, Stream->Wanted());
            if (Stream->ShutdownSend() || Stream->LastError() != WSAEWOULDBLOCK)
                return;
        }
    }
    if (Canceled || TimedOut)
        RaiseWaitEnded(kTimedOutSending, "Socket send aborted");
}

void TPowersock::StartTls(std::shared_ptr<TTlsSession> Session, TTlsUse Use) {
    StatusMessage(8, "Start TLS");
    CertifyConnect();
    std::unique_ptr<TTlsStream> tls = NewTlsStream(ThisSocket, std::move(Session), Use);
    // The handshake's bytes are the stream's alone: no notification peeks
    // at them meanwhile (a close would replace the socket under it).
    struct THandshaking {
        bool& Flag;
        explicit THandshaking(bool& F) : Flag(F) { Flag = true; }
        ~THandshaking() { Flag = false; }
    };
    bool done = false;
    int error = 0;
    {
        THandshaking handshaking(Handshaking);
        TTimerScope timer(*this);
        while (!(done = tls->Handshake())) {
            error = tls->LastError();
            if (error != WSAEWOULDBLOCK || Canceled || TimedOut)
                break;
            WaitStep(ThisSocket, tls->Wanted());
        }
    }
    ReadArmed = true;
    if (done) {
        Stream = std::move(tls);
        return;
    }
    // Half a handshake leaves nothing to talk over.
    const std::string failure = tls->FailureText();
    tls.reset();
    RequestCloseSocket();
    if (error == WSAEWOULDBLOCK)
        RaiseWaitEnded(kTimedOutTlsHandshake, "TLS handshake aborted");
    LastErrorNo = error;
    const bool refused = error == kStreamTlsFailed || error == kStreamCertificateRefused;
    const std::string text = refused ? failure
                                     : "Navázání TLS se serverem selhalo: " +
                                           SocketErrorStr(static_cast<uint16_t>(error));
    if (OnError)
        OnError(this, static_cast<uint16_t>(error), text);
    throw ESockError(text);
}

bool TPowersock::TlsResumed() const {
    const auto* tls = dynamic_cast<const TTlsStream*>(Stream.get());
    return tls && tls->Resumed();
}

std::string TPowersock::TlsProtocol() const {
    const auto* tls = dynamic_cast<const TTlsStream*>(Stream.get());
    return tls ? tls->Protocol() : "";
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
                const long n = Stream->Send(Value + done, len - done);
                if (n == 0)
                    break;
                if (n < 0) {
                    CaptureStreamError();
                    ErrorManager(WSAEWOULDBLOCK);
                    WaitStep(ThisSocket, Stream->Wanted()); // would-block: wait for room
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
        const long n = Stream->Receive(Buffer + got, PSOCK_BUFFER_SIZE - got, true);
        if (n == 0)
            return "";
        if (n < 0) {
            LastErrorNo = CaptureStreamError();
            if (LastErrorNo == WSAENOTCONN)
                return "";
            ErrorManager(WSAEWOULDBLOCK);
            WaitStep(ThisSocket, Stream->Wanted()); // nothing yet: wait for data
            continue;
        }
        const char* lf = static_cast<const char*>(std::memchr(Buffer + got, '\n', n));
        const size_t take = lf ? static_cast<size_t>(lf - (Buffer + got)) + 1 : n;
        // Take exactly what belongs to the line; the data is already there.
        size_t taken = 0;
        while (taken < take) {
            const long r = Stream->Receive(Buffer + got + taken, take - taken, false);
            if (r <= 0) {
                CaptureStreamError();
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
        const long n = Stream->Receive(Buffer, PSOCK_BUFFER_SIZE, true);
        if (n < 0) {
            CaptureStreamError();
            ErrorManager(WSAEWOULDBLOCK);
            return "";
        }
        const long r = Stream->Receive(Buffer, static_cast<size_t>(n), false);
        return std::string(Buffer, r > 0 ? r : 0);
    }
    TTimerScope timer(*this);
    while (!Canceled && !TimedOut) {
        ReadArmed = true;
        const long n = Stream->Receive(Buffer, PSOCK_BUFFER_SIZE, true);
        if (n == 0)
            return "";
        if (n < 0) {
            CaptureStreamError();
            ErrorManager(WSAEWOULDBLOCK);
            WaitStep(ThisSocket, Stream->Wanted());
            continue;
        }
        if (n >= Count) {
            const long r = Stream->Receive(Buffer, Count, false);
            return std::string(Buffer, r > 0 ? r : 0);
        }
        // Part of it waits; the socket stays readable, so pause instead of polling it.
        PumpMessages(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    RaiseWaitEnded(kTimedOutReply, "Socket send aborted");
}

std::string TPowersock::Transaction(const std::string& Command) {
    StatusMessage(8, "Transaction");
    ReplyNumber = 0;
    TDeadline deadline(*this); // the reply is due one time-out after the command
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
        // A TLS stream that had to wait is given the same bytes again.
        const long n = Stream->Send(Buffer + done, Length - done);
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
            CaptureStreamError();
            ErrorManager(WSAEWOULDBLOCK);
            WaitStep(ThisSocket, Stream->Wanted()); // the peer is slow: wait for room
        }
    }
    return true;
}

void TPowersock::SendFile(const std::string& FileName) {
    StatusMessage(8, "SendFile");
    {
        TTimerScope timer(*this);
        // Through the platform layer, so that any name reaches the system
        // unchanged (on Windows not through the ANSI code page).
        const auto file = platform::BinaryFile::OpenForReading(FileName);
        platform::FileInfo info;
        if (!file || !file->GetInfo(info))
            throw Exception("Cannot open file \"" + FileName + "\"");
        const int64_t size = info.size;
        int64_t position = 0;
        while (position < size && !Canceled && !TimedOut) {
            const size_t want =
                static_cast<size_t>(std::min<int64_t>(PSOCK_BUFFER_SIZE, size - position));
            const int64_t got = file->Read(Buffer, want);
            if (got < 0)
                throw Exception("Read error on file \"" + FileName + "\"");
            if (got == 0)
                break; // the file became shorter while being sent
            position += got;
            SendChunk(static_cast<size_t>(got), false);
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
    RemoteAddress.Family = kAfInet;
    RemoteAddress.Port = sockapi::HostToNet16(static_cast<uint16_t>(Port));
    RemoteAddress.Addr = 0; // any local address
    AsyncDone = false;
    // A failed bind shows in listen() or the accept.
    (void)sockapi::Bind(ThisSocket, RemoteAddress.Addr, RemoteAddress.Port);
    Listening = true;
    AcceptReported = false;
    ListenOnAsync = UseAsyncMessage;
    return sockapi::Listen(ThisSocket, 1) ? 0 : -1;
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
        uint32_t peerAddr = 0;
        uint16_t peerPort = 0;
        const TSocket s = sockapi::Accept(ThisSocket, peerAddr, peerPort);
        if (s == INVALID_SOCKET) {
            CaptureError();
            ErrorManager(WSAEWOULDBLOCK);
            // The connection went away before it was taken: wait for the next one.
            AsyncDone = false;
            AcceptReported = false;
            continue;
        }
        RemoteAddress.Family = kAfInet;
        RemoteAddress.Port = peerPort;
        RemoteAddress.Addr = peerAddr;
        if (Canceled) {
            sockapi::Close(s);
            Canceled = false;
            throw EAbortError("Socket send aborted");
        }
        return s;
    }
}

std::string TPowersock::GetLocalAddress() {
    uint32_t addr = 0;
    uint16_t port = 0;
    sockapi::LocalAddress(ThisSocket, addr, port);
    const uint32_t a = sockapi::NetToHost32(addr);
    return std::to_string((a >> 24) & 0xff) + "," + std::to_string((a >> 16) & 0xff) + "," +
           std::to_string((a >> 8) & 0xff) + "," + std::to_string(a & 0xff);
}

std::string TPowersock::GetPortString() {
    uint32_t addr = 0;
    uint16_t netPort = 0;
    sockapi::LocalAddress(ThisSocket, addr, netPort);
    const unsigned port = sockapi::NetToHost16(netPort);
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
