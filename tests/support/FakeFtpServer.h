// A scripted FTP server for tests: listens on 127.0.0.1 on a port the system
// chooses, runs on its own thread, answers commands from a script and records
// everything it receives, so a test can check the whole conversation and
// provoke faults that real servers will not produce on demand.
//
// Typical use:
//
//     testsupport::FakeFtpServer ftp;                  // default greeting "220 ..."
//     ftp.LogIn("anna", "secret")                     // USER 331, PASS 230
//        .Reply("TYPE L 8", "200 Type set.")
//        .Pasv()                                       // "PASV" -> 227 with a data port
//        .Store("STOR data.gpg")                       // 150, receive data, 226
//        .Reply("QUIT", "221 Bye.");
//     client.Host = "127.0.0.1"; client.Port = ftp.Port(); ... client.Upload(...);
//     EXPECT_EQ(ftp.Verify(), "");                     // every step ran, every command matched
//     EXPECT_EQ(ftp.StoredData().at(0), fileBytes);
//
// Script rules
// - Steps run in the order they were added, over any number of control
//   connections accepted one after another. A fresh connection is greeted by
//   the next step when it is a Greeting/SilentGreeting step, otherwise with
//   "220 Fake FTP server ready.".
// - A step that reads a command compares it with its expected text: exact
//   bytes (CR LF removed), or a prefix when the expected text ends in '*'
//   ("PORT *"), or anything for "*". A mismatch is recorded as an error and
//   the step is carried out anyway. When the client closes the connection
//   before sending the command, the step waits for the next connection.
// - A reply text is sent as given; "\r\n" is appended when it does not end in
//   '\n'. Multi-line replies are written with "\r\n" between the lines.
// - Commands that arrive when the script is used up are recorded, answered
//   "502 Command not in the script." and reported as errors.
// - Every wait of the server is bounded (StepTimeoutMs, default 5 s): when
//   the client does not act in time the server records an error and closes the
//   control connection, so a client waiting for a reply never blocks a test.
// - The destructor stops the thread and closes every socket.
//
// Faults on demand
//   multi-line reply ........ Reply(cmd, Lines({"220-a", "b", "220 c"}))
//   slow / split reply ...... Pace{delayMs, byteGapMs} on Greeting/Reply, StoreOptions::finalPace
//   endless reply ........... Pace{0, -1, dripMs}: the last line again every dripMs (0: flood)
//   refusing greeting ....... Greeting("421 Too many connections").Close()
//   silent greeting ......... SilentGreeting(ms) (then closes) or SilentGreeting(ms, "220 late")
//   dropped control ......... ReplyAndClose(cmd), Close(), StoreOptions::closeControl
//   refused data ............ Pasv("PASV", template, /*refuseData=*/true)
//   data reset after N bytes  StoreOptions::dropAfter = N
//   failing final reply ..... StoreOptions::final = "451 ..." / "426 ..." / "552 ..."
//   late data close ......... StoreOptions::dataCloseDelayMs, finalBeforeDataClose
//   226, then a reset ....... dropAfter = N, finalBeforeDataClose, dataCloseDelayMs = 200
//   odd PASV replies ........ Reply("PASV", "227 =127,0,0,1,4,1") (no listener needed)
//   leftover input .......... Reply(cmd, "200 Ok.\r\n450 stray line")
//
// Explicit TLS (Linux only: the Windows build has no OpenSSL; there the TLS
// steps record an error). The server has a throwaway certificate
// (CertificateFingerprint()); after AuthTls() the control connection is TLS,
// and a Store step with dataTls takes its data connection with TLS after the
// preliminary reply, sharing the control connection's session context:
//   AUTH TLS refused ........ Reply("AUTH TLS", "502 ...") (nothing follows in TLS)
//   handshake faults ........ AuthTls(TlsHandshake::Reset / Silent / Close)
//   PROT P refused .......... AuthTls() ... Reply("PROT P", "536 ...")
//   data not resumed ........ StoreOptions::dataTls = DataTls::RequireReuse: a data
//                             connection that does not resume the control session is
//                             closed and answered "522 SSL connection failed: session
//                             reuse required" (as vsftpd does); DataTls::RefuseResumption:
//                             the same, the server never resuming (as vsftpd with a
//                             client that cannot resume)
//   data TLS refused ........ StoreOptions::dataTls = DataTls::ResetHandshake
//   how the data ended ...... DataTlsReports(): resumed, and "close_notify" / "eof" / "reset"
//
// It uses the sockets through the connection layer's seam (net/SocketApi).
#pragma once
#include "net/SocketApi.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// How a reply goes out on the control connection.
struct Pace {
    int delayMs = 0;    // pause before the first byte
    int byteGapMs = -1; // >= 0: one byte per write with this pause between bytes
    // >= 0: after the reply its last line again and again, this many ms
    // apart (0: as fast as it goes), until the client goes away or the
    // step's time-out has passed; then the control connection is closed.
    int dripMs = -1;
};

class FakeTlsContext;
class FakeTlsConnection;

// What the server does after answering AUTH TLS with 234.
enum class TlsHandshake {
    Complete, // the handshake with its certificate; the control connection is TLS
    Reset,    // reads the client's hello, then resets the connection
    Close,    // reads the client's hello, then closes the connection
    Silent,   // reads nothing and says nothing until the client gives up
};

// The data connection of a Store step.
enum class DataTls {
    Off,
    On,               // TLS, resumed or not
    RequireReuse,     // TLS that must resume the control connection's session
    RefuseResumption, // RequireReuse, but the server takes no session offered
    ResetHandshake,   // reads the client's hello, then resets the data connection
};

// What a TLS data connection showed.
struct DataTlsReport {
    bool resumed = false;
    std::string end; // "close_notify", "eof", "reset", or "" (not taken)
};

// What a Store step does after the store command.
struct StoreOptions {
    std::string preliminary = "150 Ok to send data."; // empty: none sent
    std::string final = "226 Transfer complete.";     // empty: no final reply
    long long dropAfter = -1;          // >= 0: stop reading after this many bytes and reset
    bool closeControl = false;         // close the control connection instead of the final reply
    Pace finalPace;                    // pacing of the final reply (delayMs: after the data close)
    bool finalBeforeDataClose = false; // send the final reply first, then close (or reset) the data
    int dataCloseDelayMs = 0;          // pause between the end of the data and its close (or reset)
    DataTls dataTls = DataTls::Off;    // with TLS: the server answers close_notify with its own
};

class FakeFtpServer {
public:
    explicit FakeFtpServer(int stepTimeoutMs = 5000);
    ~FakeFtpServer();
    FakeFtpServer(const FakeFtpServer&) = delete;
    FakeFtpServer& operator=(const FakeFtpServer&) = delete;

    uint16_t Port() const { return port_; }

    // ---- Script steps (thread-safe; may be added while the server runs) ----

    // Greets the next connection with this text instead of the default.
    FakeFtpServer& Greeting(const std::string& reply, Pace pace = {});
    // Greets the next connection with nothing; after silenceMs either sends
    // `thenReply` or, when it is empty, closes the connection.
    FakeFtpServer& SilentGreeting(int silenceMs, const std::string& thenReply = "");
    // Reads one command and answers it.
    FakeFtpServer& Reply(const std::string& command, const std::string& reply, Pace pace = {});
    // Reads one command and answers `reply`, then closes the control connection
    // (with an empty reply: closes without answering).
    FakeFtpServer& ReplyAndClose(const std::string& command, const std::string& reply = "");
    // Reads one command (normally "PASV"), opens a data listener on 127.0.0.1
    // and answers the template with "{hostport}" replaced by "127,0,0,1,p1,p2"
    // ("{p1p2}" by "p1,p2" alone, "{port}" by the decimal port). With refuseData the listener is
    // closed before the reply, so connecting to the announced port is refused.
    FakeFtpServer&
    Pasv(const std::string& command = "PASV",
         const std::string& replyTemplate = "227 Entering Passive Mode ({hostport}).",
         bool refuseData = false);
    // Reads one "PORT h1,h2,h3,h4,p1,p2" command, remembers the address for the
    // next Store step (the server then connects to it) and answers `reply`.
    FakeFtpServer& PortCommand(const std::string& reply = "200 PORT command successful.");
    // Reads the store command, sends the preliminary reply, takes the data
    // connection (accepts on the last Pasv listener, or connects to the last
    // PORT address), receives until the client closes it (or resets it after
    // dropAfter bytes), records the bytes, then sends the final reply.
    FakeFtpServer& Store(const std::string& command, StoreOptions options = {});
    // The usual log-in: "USER user" answered "331 Password required.", then
    // "PASS password" answered "230 Logged in.".
    FakeFtpServer& LogIn(const std::string& user, const std::string& password, Pace pace = {});
    // Closes the control connection at once when this step is reached (no
    // command is read).
    FakeFtpServer& Close();
    // Reads "AUTH TLS", answers `reply` and, when it is a 234, does what
    // `how` says.
    FakeFtpServer& AuthTls(TlsHandshake how = TlsHandshake::Complete,
                           const std::string& reply = "234 AUTH TLS successful.");

    // ---- Results ----

    // Every command line received, in order, CR LF removed, bytes as sent.
    std::vector<std::string> Commands() const;
    // The bytes received by each Store step, in order.
    std::vector<std::string> StoredData() const;
    // Number of control connections accepted so far.
    int Connections() const;
    // The TLS certificate's SHA-256 fingerprint ("AB:CD:..."; "" without TLS).
    std::string CertificateFingerprint() const;
    // One per Store step with TLS, in order.
    std::vector<DataTlsReport> DataTlsReports() const;
    // Waits up to waitMs for the script to finish, then returns "" when every
    // step ran and matched, or a description of every problem (one per line).
    std::string Verify(int waitMs = 3000);

private:
    enum class Kind { Greeting, Silent, Reply, Pasv, Port, Store, Close, AuthTls };
    struct Step {
        Kind kind = Kind::Reply;
        std::string command;
        std::string reply;
        Pace pace;
        bool closeAfter = false;
        bool refuse = false;
        int silenceMs = 0;
        StoreOptions store;
        TlsHandshake handshake = TlsHandshake::Complete;
    };

    FakeFtpServer& Add(Step step);
    void Run();
    bool NextStep(Step& step, bool peekGreeting);
    void StepDone();
    void Error(const std::string& text);
    bool Stopping() const;
    bool ReadCommand(std::string& line);
    // The control connection's bytes (through TLS after AuthTls) within ms:
    // > 0, 0 at its end, -1 for nothing yet.
    long ReceiveControl(char* buf, size_t len, int ms);
    bool ControlReadable(int ms);
    void DoAuthTls(const Step& step);
    void EnsureTls();
    // A TLS data connection for the Store step; "" or the final reply to
    // send instead of the step's.
    std::string DataTlsRead(sockapi::THandle data, const StoreOptions& o, std::string& received,
                            bool& reset);
    bool SendReply(const std::string& text, Pace pace);
    void Drip(const std::string& text, int gapMs);
    bool SendAll(const std::string& bytes);
    void CloseControl();
    void DoStore(const Step& step);
    sockapi::THandle AcceptWithin(sockapi::THandle listenFd, int ms);
    sockapi::THandle ConnectActive();

    int timeoutMs_;
    sockapi::THandle listenFd_ = sockapi::kNoSocket;
    sockapi::THandle controlFd_ = sockapi::kNoSocket;
    sockapi::THandle pasvFd_ = sockapi::kNoSocket;
    uint16_t port_ = 0;
    std::string activeHost_;
    int activePort_ = -1;
    std::string inBuffer_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> steps_;
    int running_ = 0; // steps taken but not finished
    std::vector<std::string> commands_;
    std::vector<std::string> stored_;
    std::vector<std::string> errors_;
    int connections_ = 0;
    bool stop_ = false;
    std::unique_ptr<FakeTlsContext> tls_; // made by the first step that needs it
    bool tlsUnavailable_ = false;
    std::unique_ptr<FakeTlsConnection> controlTls_;
    std::vector<DataTlsReport> tlsReports_;
    std::thread thread_;
};

// Joins the lines of a multi-line reply with CR LF: Lines({"220-a", "220 b"}).
std::string Lines(const std::vector<std::string>& lines);

} // namespace testsupport
