// TPowersock: a TCP client connection (IPv4) driven by socket notifications
// that are delivered on the user-interface thread, with an optional time-out,
// status messages filtered by a report level, and Winsock error numbers and
// texts. Its bytes go through a stream (Stream.h): the socket itself, or TLS
// over it once StartTls has made the handshake. The FTP client derives from
// it (control connection) and uses further instances for its data
// connections.
//
// Every wait lets the program's events run (see SocketEvents.h) and never
// spins: a loop with nothing to do waits for its socket (at most 2 ms on
// POSIX, until something happens on Windows).
// Single-threaded: use an instance only on the user-interface thread.
#pragma once
#include "net/SockError.h"
#include "net/SocketEvents.h"
#include "net/Stream.h"
#include "net/ThreadTimer.h"
#include "net/TlsStream.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

class TPowersock;

using TSocket = sockapi::THandle;
inline constexpr TSocket INVALID_SOCKET = sockapi::kNoSocket;

using TNotifyEvent = std::function<void(TPowersock* Sender)>;
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnErrorEvent =
    std::function<void(TPowersock* Sender, uint16_t Errno, const std::string& Errmsg)>;
using TOnHostResolved = std::function<void(TPowersock* Sender)>;
using TOnStatus = std::function<void(TPowersock* Sender, const std::string& Status)>;

// IPv4 socket address; Port and Addr in network byte order.
struct TSockAddrIn {
    uint16_t Family = 0;
    uint16_t Port = 0;
    uint32_t Addr = 0;
};

// Notification numbers (kept from the window-message design): a listening
// socket reports an incoming connection on one of them.
inline constexpr int PSOCK_SOCKET_MESSAGE = 1125;
inline constexpr int PSOCK_ASYNC_MESSAGE = 1126;
inline constexpr int PSOCK_BUFFER_SIZE = 65536;

class TPowersock {
public:
    TPowersock();
    virtual ~TPowersock();
    TPowersock(const TPowersock&) = delete;
    TPowersock& operator=(const TPowersock&) = delete;

    // ---- properties -------------------------------------------------------
    std::string Host;       // host name or dotted IPv4 address
    int Port = 0;           // remote port (16-bit when used)
    int TimeOut = 0;        // ms for the waits; 0 = no time-out
    int ReportLevel = 0;    // status messages with level <= this are reported
    std::string Proxy;      // when not empty, connect here instead of Host
    uint16_t ProxyPort = 0; // port used with Proxy

    // ---- state ------------------------------------------------------------
    bool Connected = false;
    bool Canceled = false;  // a cancel request is pending
    bool TimedOut = false;  // the time-out fired during the current wait
    bool NotifyOk = true;   // the last notification carried no error
    bool AsyncDone = false; // lookup/accept notification arrived, or the timer fired
    bool Destroying = false;
    int LastErrorNo = 0;          // last Winsock error number
    std::string Status;           // text of the last reported status message
    int16_t ReplyNumber = 0;      // number of the last Transaction reply (0: none)
    std::string TransactionReply; // first line of the last reply, line end included
    int64_t BytesSent = 0;        // by SendFile/SendStream
    int64_t BytesRecvd = 0;
    int64_t BytesTotal = 0;    // expected size of the current transfer
    TSockAddrIn RemoteAddress; // peer of connect; peer of accept
    std::vector<std::string> WinsockInfo;

    int GetLastErrorNo() const { return LastErrorNo; }
    void SetLastErrorNo(int Value) { LastErrorNo = Value; }

    // ---- events (optional; unassigned ones are skipped) -------------------
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TOnErrorEvent OnError;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketSent; // after each send() of SendFile/SendStream that sent bytes
    TNotifyEvent OnPacketRecvd;

    // Internal hooks for derived classes: called on the readable and the
    // accept notification. Exceptions from the read hook are ignored.
    std::function<void()> ReadHook;
    std::function<void()> AcceptHook;

    // ---- connection -------------------------------------------------------
    // Resolves Proxy or Host (dotted addresses without lookup) and connects
    // to Proxy:ProxyPort or Host:Port. Raises ESockError on failure.
    virtual void Connect();
    // Status "Disconnecting", then RequestCloseSocket.
    virtual void Disconnect();
    // Writeln(Command), ReadLn into TransactionReply, ReplyNumber from its
    // leading digits, all within one deadline; returns TransactionReply.
    virtual std::string Transaction(const std::string& Command);
    // Status "Abort", then Cancel (the FTP client cancels its data connection instead).
    virtual void Abort();
    // Waits for the incoming connection on a Listen()ing socket and accepts it;
    // install the result with SetSocket().
    virtual TSocket Accept();

    // Returns when connected; else asks OnConnectionRequired (Handled: check
    // once more) and raises Exception "Not Connected".
    void CertifyConnect();
    void Cancel();
    bool DataAvailable();
    void ClearInput();
    // Closes the socket (Connected false, OnDisconnect) and, unless the
    // instance is being destroyed, makes a fresh one for a later Connect.
    void RequestCloseSocket();

    void StatusMessage(uint8_t Level, const std::string& Text);
    // Turns the pending Winsock error into OnError and ESockError unless it is
    // Ignore or not above 10000; returns "" when it does not raise.
    std::string ErrorManager(uint16_t Ignore);
    // As the free function, with the status "Looking Up Error Message".
    std::string SocketErrorStr(uint16_t Code);

    // TimerOn starts the time-out of a wait (nothing with TimeOut 0);
    // TimerFired sets TimedOut and aborts.
    void TimerOn();
    void TimerOff();
    void TimerFired();
    // Starts the time-out period again (a wait that made progress); not
    // inside a deadline.
    void TimerRestart();

    // One time-out for a whole exchange, such as a command and every line of
    // its reply: it starts afresh here, and the waits inside share it instead
    // of starting their own, so a server that trickles never resets it.
    // Nests: only the outermost begin and end count.
    void BeginDeadline();
    void EndDeadline();
    class TDeadline {
    public:
        explicit TDeadline(TPowersock& Owner) : Sock(Owner) { Sock.BeginDeadline(); }
        ~TDeadline() { Sock.EndDeadline(); }
        TDeadline(const TDeadline&) = delete;
        TDeadline& operator=(const TDeadline&) = delete;

    private:
        TPowersock& Sock;
    };

    // ---- data exchange ----------------------------------------------------
    void Write(const std::string& Value);   // at most 65,536 bytes, up to the first NUL
    void Writeln(const std::string& Value); // Value + CR LF
    // Sends BufLen bytes (0: up to the terminating zero).
    void SendBuffer(const char* Value, uint16_t BufLen);
    // Count 0: everything waiting (up to 65,536 bytes); else exactly Count
    // bytes. "" when the peer closed.
    std::string Read(uint16_t Count);
    // One line including its LF (and a CR before it); "" when the peer closed
    // or the socket is not connected. Raises ESockError for a line longer
    // than 65,536 bytes, EAbortError "Socket readln aborted" on cancel and
    // ETimeOutError when TimeOut passes first.
    std::string ReadLn();
    // Sends the whole file in 65,536-byte chunks; BytesSent grows and
    // OnPacketSent is raised per send(). Cancel: EAbortError "Socket send
    // aborted"; ETimeOutError when the peer takes nothing for TimeOut.
    void SendFile(const std::string& FileName);
    void SendStream(std::istream& Stream);
    // Binds to 0.0.0.0:Port (0: the system chooses) and listens (backlog 1);
    // the incoming connection is reported on PSOCK_ASYNC_MESSAGE when
    // UseAsyncMessage, else on PSOCK_SOCKET_MESSAGE. Returns listen()'s result.
    int Listen(bool UseAsyncMessage);
    std::string GetLocalAddress(); // "127,0,0,1"
    std::string GetPortString();   // local port 5001 -> ",19,137"

    // ---- socket handle ----------------------------------------------------
    TSocket GetSocket() const { return ThisSocket; }
    // Installs an accepted socket as this instance's socket (connected) and
    // closes the socket it replaces (the listening one).
    void SetSocket(TSocket NewSocket);
    // Linger option of the current socket: On with 0 s resets the connection
    // on close; Off hands unsent data to the system and ends it normally.
    void SetLinger(bool On, int Seconds);
    // Ends this side's direction of the connection (the peer reads the end of
    // the data); the other direction stays open. With TLS, close_notify goes
    // first: a full socket is waited out (TimeOut, cancel), and a failure
    // shows in the notifications that follow.
    void ShutdownSend();

    // ---- TLS ----------------------------------------------------------------
    // The client handshake on the connected socket, a wait of its own within
    // TimeOut and cancellable; afterwards every byte goes through TLS. On
    // failure the connection is closed (it cannot be used any more) and
    // ESockError says why: the refused certificate's line, the TLS failure,
    // or the Winsock text; ETimeOutError / EAbortError when the wait ended.
    void StartTls(std::shared_ptr<TTlsSession> Session, TTlsUse Use);
    bool Secure() const { return Stream && Stream->Secure(); }
    // After StartTls: the session was resumed (false where the system
    // cannot tell); the protocol ("TLSv1.3").
    bool TlsResumed() const;
    std::string TlsProtocol() const;

protected:
    void InitWinsock();
    void ResolveRemoteHost();
    void ResolveForConnect();
    // Notification delivery: Message PSOCK_SOCKET_MESSAGE or PSOCK_ASYNC_MESSAGE,
    // Event one of the NOTIFY_* values, Error a Winsock number (0: none).
    void Wndproc(int Message, int Event, int Error);

    enum {
        NOTIFY_READ = 1,
        NOTIFY_OOB = 4,
        NOTIFY_ACCEPT = 8,
        NOTIFY_CONNECT = 16,
        NOTIFY_CLOSE = 32,
        NOTIFY_LOOKUP = 0
    };

    TSocket ThisSocket = INVALID_SOCKET;
    char Buffer[PSOCK_BUFFER_SIZE + 1];

private:
    class TNotifier;
    friend class TNotifier;
    struct TLookup;

    TSocket MakeSocket(bool LingerZero);
    // A plain stream for ThisSocket (the socket changed).
    void AttachStream();
    // Closes the current socket without any event and makes a new one with
    // the same linger setting.
    void ReplaceSocket();
    int CaptureError();       // the last error as a Winsock number, kept for ErrorManager
    int CaptureStreamError(); // the same after a call of the stream
    int SocketError();        // the socket's pending error as a Winsock number
    // One pass of a wait: the program's events, then up to kWaitPassMs for Fd.
    void WaitStep(TSocket Fd = INVALID_SOCKET, short Events = 0);
    // Sends Length bytes of Buffer; false when send() returned 0 and StopOnZero.
    bool SendChunk(size_t Length, bool StopOnZero);
    // Ends a wait that was cancelled or timed out: clears Canceled and raises
    // ETimeOutError(TimeOutText) after a time-out, else EAbortError(AbortText).
    [[noreturn]] void RaiseWaitEnded(const char* TimeOutText, const char* AbortText);
    void StartTimer();
    void StopTimer();

    std::unique_ptr<TStream> Stream; // never null but while destroyed
    bool Handshaking = false;        // StartTls drives the socket itself
    std::unique_ptr<TNotifier> Notifier;
    std::unique_ptr<TThreadTimer> Timer;
    std::shared_ptr<TLookup> Lookup;
    int PendingError = 0;
    bool ConnectIssued = false;
    bool ConnectReported = false;
    bool Listening = false;
    bool AcceptReported = false;
    bool ListenOnAsync = false;
    bool ReadArmed = true;
    int DeadlineDepth = 0;
};

// The N-th field (from 1) of Text split at Delimiter; the last field runs to
// the end. "" for an empty text or a field beyond the last delimiter.
std::string NthWord(const std::string& Text, char Delimiter, int N);
