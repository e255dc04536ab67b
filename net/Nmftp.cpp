#include "net/Nmftp.h"

#include "net/ReplyCode.h"
#include "net/SocketApi.h"

#include "platform/BinaryFile.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <chrono>

namespace {

// Reply texts come from the wire as Windows-1250 bytes; messages and status
// texts are UTF-8.
std::string FromWire(const std::string& Line) {
    return platform::Cp1250ToUtf8(Line);
}

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

// A whole reply, all its lines and any 1xx before the final one, is at most
// this long: a server that sends an endless reply fails instead of holding
// the run until the time-out (or for ever without one).
constexpr size_t kMaxReplyBytes = 65536;

// The reply line for a message: control bytes shown as '?', the line end kept.
std::string Shown(const std::string& Line) {
    std::string Text = Line;
    size_t End = Text.size();
    while (End > 0 && (Text[End - 1] == '\n' || Text[End - 1] == '\r'))
        --End;
    for (size_t I = 0; I < End; ++I) {
        const unsigned char C = static_cast<unsigned char>(Text[I]);
        if ((C < 0x20 && C != '\t') || C == 0x7f)
            Text[I] = '?';
    }
    return FromWire(Text);
}

// Replies that say "cannot tell" to a size question: the command is not
// implemented (500, 502, 504) or the file is no longer there (550, a server
// that takes uploads away at once).
bool CannotTell(int N) {
    return N == 500 || N == 502 || N == 504 || N == 550;
}

bool Is200(int N) {
    return N == 200;
}

// The line's text without its line end (a reply line keeps its CR LF).
std::string WithoutLineEnd(std::string Line) {
    while (!Line.empty() && (Line.back() == '\n' || Line.back() == '\r'))
        Line.pop_back();
    return Line;
}

constexpr const char* kPassiveOnly =
    "FTPS je možné jen v pasivním režimu: datové spojení TLS v aktivním režimu se nenavazuje";

// A field of a passive reply as a number: decimal digits only, with blanks
// around them allowed. -1 when it is not such a number.
int PasvNumber(const std::string& Field) {
    size_t B = Field.find_first_not_of(' ');
    size_t E = Field.find_last_not_of(' ');
    if (B == std::string::npos)
        return -1;
    int Value = 0;
    for (size_t I = B; I <= E; ++I) {
        if (!IsDigit(Field[I]) || Value > 100000)
            return -1;
        Value = Value * 10 + (Field[I] - '0');
    }
    return Value;
}

} // namespace

std::string FtpWireText(const std::string& Text, const std::string& What) {
    if (Text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw FTPException(What + " cannot be sent: it contains a line break or a NUL character");
    auto Wire = platform::Utf8ToCp1250(Text);
    if (!Wire)
        throw FTPException(What + " cannot be sent: it holds characters that Windows-1250 "
                                  "cannot represent");
    return *Wire;
}

TNMFTP::TNMFTP() {
    Port = 21;
    // Readable notifications of the control connection need no action here:
    // replies are read by the waiting operations themselves.
    ReadHook = [] {};
}

TNMFTP::~TNMFTP() {
    TPowersock::Cancel();
}

// ---- command channel --------------------------------------------------------

std::string TNMFTP::Transaction(const std::string& Command) {
    // The command itself is never part of the message: it may be a PASS.
    std::string Wire = FtpWireText(Command, "The command");
    try {
        TDeadline Deadline(*this); // from the command to the reply's last line
        StartReply();
        std::string First = TPowersock::Transaction(Wire);
        TakeReplyLine(First);
        ReadExtraLines(First);
        return First;
    } catch (const ETimeOutError&) {
        CloseOutOfStep();
        throw;
    }
}

void TNMFTP::CloseOutOfStep() {
    if (Connected)
        TPowersock::Disconnect();
}

void TNMFTP::StartReply() {
    ReplyBytes = 0;
    ReplyLines.clear();
    ReplyProblem.clear();
}

void TNMFTP::TakeReplyLine(const std::string& Line) {
    ReplyBytes += Line.size();
    if (ReplyBytes > kMaxReplyBytes) {
        // The rest of it is still coming: the conversation is out of step.
        CloseOutOfStep();
        throw ESockError("Reply longer than 65536 bytes");
    }
    if (!Line.empty())
        ReplyLines.push_back(Line);
}

std::string TNMFTP::ReadReplyLine() {
    std::string Line = ReadLn();
    TakeReplyLine(Line);
    return Line;
}

void TNMFTP::NoteBadLine(const std::string& Line) {
    if (ReplyProblem.empty())
        ReplyProblem = "Invalid reply from the server: " + Shown(Line);
}

// A reply is its first line alone, or, when that line has "-" after its
// code, every line up to one of three digits and a blank (middle lines may
// hold anything, digits first too). The end is taken at any code, so a
// server that closes with another one does not leave the client waiting;
// but such a reply, one cut short, or a line with control bytes, is no
// valid reply.
void TNMFTP::ReadExtraLines(const std::string& Line) {
    if (Line.empty())
        return;
    if (!HasReplyCode(Line) || !IsReplyText(Line))
        NoteBadLine(Line);
    if (!HasReplyCode(Line) || Line.size() < 4 || Line[3] != '-')
        return;
    for (;;) {
        std::string Next = ReadReplyLine();
        if (Next.empty()) {
            if (ReplyProblem.empty())
                ReplyProblem = "Connection closed by the server within its reply";
            return;
        }
        StatusMessage(1, FromWire(Next));
        if (!IsReplyText(Next))
            NoteBadLine(Next);
        if (EndsReply(Next)) {
            if (Next.compare(0, 3, Line, 0, 3) != 0)
                NoteBadLine(Next);
            return;
        }
    }
}

void TNMFTP::ReadReply() {
    ReplyLines.clear();
    std::string Line = ReadReplyLine();
    TransactionReply = Line;
    ReplyNumber = Line.empty() ? 0 : ParseReplyNumber(Line);
    if (!Line.empty()) {
        StatusMessage(1, FromWire(Line));
        ReadExtraLines(Line);
    }
}

void TNMFTP::FollowPreliminary() {
    // "120 ready in n minutes" comes before the real reply, within the same
    // time-out.
    while (ReplyNumber == 120 && ReplyProblem.empty() && !TransactionReply.empty())
        ReadReply();
}

std::string TNMFTP::ReplyFault(bool (*Accepts)(int)) const {
    if (TransactionReply.empty())
        return "Connection closed by the server";
    if (!ReplyProblem.empty())
        return ReplyProblem;
    if (!Accepts(ReplyNumber))
        return FromWire(TransactionReply);
    return "";
}

void TNMFTP::DropWaitingInput() {
    if (DataAvailable())
        Read(0);
}

void TNMFTP::Fail(TCmdType Kind, const std::string& Message, bool& Handled) {
    Handled = false;
    if (OnFailure) {
        OnFailure(Handled, Kind);
        if (Handled)
            return;
    }
    throw FTPException(Message);
}

void TNMFTP::DoCommand(const std::string& Command) {
    RunCommand(Command, IsPositiveCompletion);
}

void TNMFTP::RunCommand(const std::string& Command, bool (*Accepts)(int)) {
    std::string Word = Command.substr(0, Command.find(' ')) + " ";
    TCmdType Kind = cmdDoCommand;
    if (Word == "CWD ")
        Kind = cmdChangeDir;
    else if (Word == "DELE ")
        Kind = cmdDelete;
    else if (Word == "MKD ")
        Kind = cmdMakeDir;
    else if (Word == "RMD ")
        Kind = cmdRemoveDir;
    else if (Command == "PWD")
        Kind = cmdCurrentDir;

    Canceled = false;
    CertifyConnect();
    StatusMessage(1, Command);
    DropWaitingInput();
    Transaction(Command);
    const std::string Fault = ReplyFault(Accepts);
    if (!Fault.empty()) {
        if (ReplyProblem.empty() && IsUnsupported(ReplyNumber) && OnUnSupportedFunction)
            OnUnSupportedFunction(Kind);
        bool Handled = false;
        Fail(Kind, Fault, Handled);
        return;
    }
    if (OnSuccess)
        OnSuccess(Kind);
}

void TNMFTP::Mode(int TheMode) {
    switch (TheMode) {
    case 1:
        RunCommand("TYPE A", Is200);
        break;
    case 2:
        RunCommand("TYPE I", Is200);
        break;
    case 3:
        RunCommand("TYPE L 8", Is200);
        break;
    default:
        break;
    }
}

void TNMFTP::CheckLoginReply(bool (*Accepts)(int)) {
    const std::string Fault = ReplyFault(Accepts);
    if (!Fault.empty())
        FailConnection(Fault);
}

void TNMFTP::FailConnection(const std::string& Message) {
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(Message);
}

void TNMFTP::ReadGreeting() {
    TDeadline Deadline(*this); // the whole greeting within one time-out of the connection
    StartReply();
    ReadReply();
    FollowPreliminary();
    if (TransactionReply.empty())
        FailConnection("Connection closed by the server before its greeting");
    CheckLoginReply([](int N) { return N == 220; });
}

bool TNMFTP::ConnectedAsAsked() const {
    if (!Connected)
        return false;
    if (!Ftps)
        return !Secure();
    // A TLS 1.3 connection whose tickets are used up would give a data
    // connection that servers demanding reuse refuse.
    return Session && Secure() && SessionPeer.HostName == TlsPeer.HostName &&
           SessionPeer.Pin == TlsPeer.Pin && !TlsSessionsUsedUp(*Session);
}

void TNMFTP::CheckTlsSettings() const {
    if (!Passive)
        throw ETlsError(kPassiveOnly);
    // Nothing but the proxy's OPEN or SITE may go before AUTH TLS.
    if (FWAuthenticate || (!Proxy.empty() && FirewallType == FTUser))
        throw ETlsError("FTPS je možné jen přes proxy typu OPEN nebo SITE bez přihlášení k "
                        "proxy: jinak by přihlašovací údaje šly bez šifrování");
    if (TlsPeer.HostName.empty() && !TlsPeer.Pin)
        throw ETlsError("Certifikát FTP serveru nelze ověřit: chybí název serveru");
}

void TNMFTP::Connect() {
    Canceled = false;
    // A connection that TLS does not protect as asked is never used.
    if (Connected && Ftps && !ConnectedAsAsked())
        RequestCloseSocket();
    if (Connected)
        return;
    Session.reset();
    if (Ftps) {
        // Before anything goes out: a setting that makes TLS impossible
        // leaves nothing half done on the server.
        CheckTlsSettings();
        Session = NewTlsSession(TlsPeer);
        SessionPeer = TlsPeer;
    }
    ClearInput();
    TPowersock::Connect();
    try {
        ReadGreeting();
        LogIn();
    } catch (const ETimeOutError&) {
        // A server that does not answer is not asked to QUIT either.
        CloseOutOfStep();
        StatusMessage(1, "Disconnected");
        throw;
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The log-in failure is the news; a failing QUIT adds nothing.
        }
        StatusMessage(1, "Disconnected");
        throw;
    }
    if (OnConnect)
        OnConnect(this);
}

namespace {

bool UserAccepted(int N) {
    return N == 230 || N == 331;
}

bool PassAccepted(int N) {
    return N == 230 || N == 202;
}

} // namespace

// The log-in commands after the greeting: at the proxy first when asked,
// then directly or in the proxy's style. Each step expects its own replies
// and fails on anything else: USER 230 or 331, PASS 230 or 202; the proxy's
// OPEN or SITE a 2xx (the server's greeting that the proxy passes on),
// after any 120.
void TNMFTP::LogIn() {
    if (FWAuthenticate) {
        Transaction("USER " + FWUserID);
        CheckLoginReply(UserAccepted);
        if (ReplyNumber == 331) {
            StatusMessage(1, "PASS ");
            Transaction("PASS " + FWPassword);
            CheckLoginReply(PassAccepted);
        }
    }
    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
        bool Handled = false;
        OnAuthenticationNeeded(Handled);
    }
    bool ProxyUser = !Proxy.empty() && FirewallType == FTUser;
    if (!Proxy.empty()) {
        const std::string Command = FirewallType == FTUser   ? "USER " + UserID + "@" + Host
                                    : FirewallType == FtOpen ? "OPEN " + Host
                                                             : "SITE " + Host;
        StatusMessage(1, Command);
        if (FirewallType == FTUser) {
            Transaction(Command);
            CheckLoginReply(UserAccepted);
        } else {
            TDeadline Deadline(*this);
            Transaction(Command);
            FollowPreliminary();
            CheckLoginReply(IsPositiveCompletion);
        }
    }
    // Through the proxy the server's greeting has come back as the answer to
    // OPEN or SITE: from here on the proxy relays, and TLS is end to end with
    // the server.
    if (Session)
        SecureControl();
    if (!ProxyUser) {
        StatusMessage(1, "USER " + UserID);
        Transaction("USER " + UserID);
        CheckLoginReply(UserAccepted);
    }
    if (ReplyNumber == 331) {
        StatusMessage(1, "PASS "); // the password itself is never reported
        Transaction("PASS " + Password);
        CheckLoginReply(PassAccepted);
    }
    if (Session)
        ProtectData();
}

// After the server's greeting, before any log-in: RFC 4217's AUTH TLS, whose
// only good answer is 234. The reply is read to its LF and no further, so
// the handshake's bytes are the stream's.
void TNMFTP::SecureControl() {
    StatusMessage(1, "AUTH TLS");
    Transaction("AUTH TLS");
    CheckLoginReply([](int N) { return N == 234; });
    try {
        StartTls(Session, TTlsUse::Control);
    } catch (const ESockError&) {
        // The connection is closed: no QUIT goes out in the clear.
        if (OnConnectionFailed)
            OnConnectionFailed(this);
        throw;
    }
    StatusMessage(1, TlsProtocol());
}

// The data connections protected too (RFC 4217: PBSZ 0 first, then PROT P);
// a server that refuses fails the connection with its reply.
void TNMFTP::ProtectData() {
    StatusMessage(1, "PBSZ 0");
    Transaction("PBSZ 0");
    CheckLoginReply(Is200);
    StatusMessage(1, "PROT P");
    Transaction("PROT P");
    CheckLoginReply(Is200);
}

void TNMFTP::Disconnect() {
    Canceled = false;
    if (!Connected)
        return;
    StatusMessage(1, "QUIT");
    Vendor = 2411;
    std::string Reply;
    try {
        DropWaitingInput();
        Reply = Transaction("QUIT");
    } catch (...) {
        TPowersock::Disconnect();
        throw;
    }
    bool Refused = IsIntermediateOrRefusal(ReplyNumber);
    TPowersock::Disconnect();
    if (Refused)
        throw FTPException(FromWire(Reply));
}

void TNMFTP::Abort() {
    if (DataConnection)
        DataConnection->Cancel();
}

void TNMFTP::ChangeDir(const std::string& DirName) {
    DoCommand("CWD " + DirName);
}
void TNMFTP::MakeDirectory(const std::string& DirName) {
    DoCommand("MKD " + DirName);
}
void TNMFTP::RemoveDir(const std::string& DirName) {
    DoCommand("RMD " + DirName);
}
void TNMFTP::Delete(const std::string& FileName) {
    DoCommand("DELE " + FileName);
}
void TNMFTP::Reinitialize() {
    DoCommand("REIN");
}
void TNMFTP::Allocate(int FileSize) {
    DoCommand("ALLO " + std::to_string(FileSize));
}

std::string TNMFTP::GetCurrentDir() {
    DoCommand("PWD");
    return FromWire(NthWord(TransactionReply, '"', 2));
}

void TNMFTP::Flush() {
    auto Until = std::chrono::steady_clock::now() + std::chrono::milliseconds(950);
    while (!DataAvailable() && std::chrono::steady_clock::now() < Until)
        PumpMessages(2);
    if (DataAvailable())
        StatusMessage(1, FromWire(Read(0)));
}

std::optional<int64_t> TNMFTP::Size(const std::string& RemoteName) {
    FtpWireText(RemoteName, "The file name \"" + RemoteName + "\"");
    Canceled = false;
    CertifyConnect();
    StatusMessage(1, "SIZE " + RemoteName);
    DropWaitingInput();
    Transaction("SIZE " + RemoteName);
    const std::string Fault = ReplyFault([](int N) { return N == 213 || CannotTell(N); });
    if (!Fault.empty())
        throw FTPException(Fault);
    if (ReplyNumber != 213)
        return std::nullopt;
    // "213", a blank and the decimal number, on one line of its own.
    const std::string& Reply = TransactionReply;
    size_t End = Reply.find_first_of("\r\n");
    size_t Digits = End > 4 ? End - 4 : 0;
    if (ReplyLines.size() != 1 || Reply[3] != ' ' || Digits == 0 || Digits > 18 ||
        Reply.find_first_not_of("0123456789", 4) != End)
        throw FTPException("Unreadable size in the reply: " + FromWire(Reply));
    return std::stoll(Reply.substr(4, Digits));
}

namespace {

std::string Lower(std::string Text) {
    for (char& C : Text)
        if (C >= 'A' && C <= 'Z')
            C = static_cast<char>(C - 'A' + 'a');
    return Text;
}

// The facts of an MLST line (RFC 3659): "fact=value;" pairs up to the
// blank before the name, or the feature list of FEAT's MLST line. The value
// of Fact (lower case), or nullopt when it is not there; with Fact "size*"
// in a feature list, "" when the size is among the facts on by default.
std::optional<std::string> FactValue(const std::string& Facts, const std::string& Fact) {
    size_t Start = 0;
    while (Start < Facts.size()) {
        size_t End = Facts.find(';', Start);
        if (End == std::string::npos)
            End = Facts.size();
        const std::string Pair = Lower(Facts.substr(Start, End - Start));
        const size_t Eq = Pair.find('=');
        if (Pair.substr(0, Eq) == Fact)
            return Eq == std::string::npos ? std::string() : Pair.substr(Eq + 1);
        Start = End + 1;
    }
    return std::nullopt;
}

// A line's text without its line end.
std::string Text(const std::string& Line) {
    return Line.substr(0, Line.find_first_of("\r\n"));
}

} // namespace

std::optional<int64_t> TNMFTP::MlstSize(const std::string& RemoteName) {
    FtpWireText(RemoteName, "The file name \"" + RemoteName + "\"");
    Canceled = false;
    CertifyConnect();
    StatusMessage(1, "FEAT");
    DropWaitingInput();
    Transaction("FEAT");
    std::string Fault = ReplyFault([](int N) { return N == 211 || CannotTell(N); });
    if (!Fault.empty())
        throw FTPException(Fault);
    // A feature line is a blank, the feature's name and its parameters
    // (RFC 2389); MLST's parameters list the facts, '*' marking those the
    // server gives without being asked.
    bool Offered = false;
    for (size_t I = 1; ReplyNumber == 211 && I + 1 < ReplyLines.size(); ++I) {
        const std::string Line = Text(ReplyLines[I]);
        if (Line.size() > 5 && Line[0] == ' ' && Lower(Line.substr(1, 5)) == "mlst ")
            Offered = FactValue(Line.substr(6), "size*").has_value();
    }
    if (!Offered)
        return std::nullopt;

    StatusMessage(1, "MLST " + RemoteName);
    Transaction("MLST " + RemoteName);
    Fault = ReplyFault([](int N) { return N == 250 || CannotTell(N); });
    if (!Fault.empty())
        throw FTPException(Fault);
    if (ReplyNumber != 250)
        return std::nullopt;
    // "250-...", then one line of a blank, the facts, a blank and the name,
    // then "250 ...".
    std::optional<std::string> Value;
    if (ReplyLines.size() == 3 && ReplyLines[1].size() > 1 && ReplyLines[1][0] == ' ') {
        const std::string Line = Text(ReplyLines[1]);
        Value = FactValue(Line.substr(1, Line.find(' ', 1) - 1), "size");
    }
    if (!Value || Value->empty() || Value->size() > 18 ||
        Value->find_first_not_of("0123456789") != std::string::npos)
        throw FTPException("Unreadable size in the reply: " + FromWire(TransactionReply));
    return std::stoll(*Value);
}

// ---- upload -------------------------------------------------------------------

uint16_t TNMFTP::PassivePort(const std::string& Reply) {
    std::string Low = NthWord(Reply, ',', 6);
    size_t Paren = Low.find(')');
    int P2 = Paren == std::string::npos ? -1 : PasvNumber(Low.substr(0, Paren));
    int P1 = PasvNumber(NthWord(Reply, ',', 5));
    if (P1 < 0 || P2 < 0)
        throw FTPException("Unreadable passive mode reply: " + FromWire(Reply));
    if (P1 > 255 || P2 > 255 || P1 * 256 + P2 == 0)
        throw FTPException("The passive mode reply names an invalid port: " + FromWire(Reply));
    return static_cast<uint16_t>(P1 * 256 + P2);
}

int64_t TNMFTP::GetBytesSent() const {
    return DataConnection ? DataConnection->BytesSent : BytesSent;
}

void TNMFTP::Upload(const std::string& LocalFile, const std::string& RemoteName) {
    Canceled = false;
    bool Offered = false; // the failure was already put to OnFailure
    bool Succeeded = false;
    const auto HandledByOnFailure = [&] {
        bool Handled = false;
        if (!Offered && OnFailure)
            OnFailure(Handled, cmdUpload);
        return Handled;
    };
    try {
        CertifyConnect();
        if (!Connected)
            return;
        if (InTransfer)
            throw FTPException("Another transfer is running");
        Succeeded = RunUpload(LocalFile, RemoteName, Offered);
    } catch (const ETimeOutError&) {
        // The server's replies to this transfer may still come; they would be
        // taken for the answers to the next commands.
        CloseOutOfStep();
        if (HandledByOnFailure())
            return;
        throw;
    } catch (...) {
        if (HandledByOnFailure())
            return;
        throw;
    }
    if (Succeeded && OnSuccess)
        OnSuccess(cmdUpload);
}

// Steps of one upload under the transfer lock; false when a failure was
// handled by OnFailure. Offered tells the caller that a raised failure has
// already been offered to OnFailure.
bool TNMFTP::RunUpload(const std::string& LocalFile, const std::string& RemoteName, bool& Offered) {
    std::lock_guard<std::recursive_mutex> Lock(TransferLock);
    // Data in the clear over a connection that should have been TLS, or
    // active mode with TLS: neither is attempted.
    if (Ftps && !Session)
        throw ETlsError("Spojení s FTP serverem není chráněno TLS");
    if (Session && !Passive)
        throw ETlsError(kPassiveOnly);
    InTransfer = true;
    DataSecured = false;
    DataResumed = false;
    BytesSent = 0;
    DropWaitingInput();
    DataConnection = std::make_unique<TPowersock>();
    DataConnection->TimeOut = TimeOut;
    if (OnPacketSent)
        DataConnection->OnPacketSent = OnPacketSent;
    // Every exit keeps what went out on the data connection and releases it.
    struct Release {
        TNMFTP& F;
        ~Release() {
            if (F.DataConnection)
                F.BytesSent = F.DataConnection->BytesSent;
            F.DataConnection.reset();
            F.InTransfer = false;
        }
    } Releaser{*this};

    if (!platform::FileExists(LocalFile) || !platform::BinaryFile::OpenForReading(LocalFile))
        throw EFOpenError("Cannot open file \"" + LocalFile + "\"");
    BytesTotal = platform::FileSize(LocalFile);
    std::string Name = RemoteName.empty() ? platform::ExtractFileName(LocalFile) : RemoteName;
    FtpWireText(Name, "The file name \"" + Name + "\"");

    std::string Problem = OpenDataConnection(LocalFile, RemoteName, Name);
    if (Problem.empty()) {
        try {
            if (Session)
                SecureData();
            SendData(LocalFile);
        } catch (const ESockError& Error) {
            if (!Session)
                throw;
            Problem = ReasonAfterDataFailure(Error.what());
        }
        if (Problem.empty())
            Problem = AwaitUploadEnd();
    }
    if (Problem.empty())
        return true;
    // What an administrator needs to see where a server demands reuse.
    if (DataSecured && !DataResumed)
        Problem =
            WithoutLineEnd(Problem) + " (datové spojení TLS neobnovilo relaci řídicího spojení)";
    bool Handled = false;
    Offered = OnFailure != nullptr;
    Fail(cmdUpload, Problem, Handled);
    return false; // handled
}

// PASV and the connection to the announced port, or PORT and a listener;
// then the store command. Returns the failure's message, or "" to go on.
std::string TNMFTP::OpenDataConnection(const std::string& LocalFile, const std::string& RemoteName,
                                       const std::string& Name) {
    if (Passive) {
        std::string Reply = Transaction("PASV");
        std::string Fault = ReplyFault([](int N) { return N == 227; });
        if (!Fault.empty())
            return Fault;
        uint16_t DataPort = PassivePort(Reply);
        // The port belongs to the machine the control connection reached
        // (through a proxy: the proxy). Its address, not its name: a name
        // looked up again may give another machine.
        if (RemoteAddress.Addr == 0)
            throw ESockError("Null Remote Address");
        const uint32_t A = sockapi::NetToHost32(RemoteAddress.Addr);
        DataConnection->Host = std::to_string(A >> 24) + "." + std::to_string((A >> 16) & 0xff) +
                               "." + std::to_string((A >> 8) & 0xff) + "." +
                               std::to_string(A & 0xff);
        DataConnection->Port = DataPort;
        try {
            DataConnection->Connect();
        } catch (const ESockError&) {
            if (DataConnection->TimedOut)
                throw ETimeOutError(kTimedOutDataConnect);
            throw;
        }
    } else {
        DataConnection->Port = 0;
        DataConnection->Listen(true);
        Transaction("PORT " + GetLocalAddress() + DataConnection->GetPortString());
        std::string Fault = ReplyFault(Is200);
        if (!Fault.empty())
            return Fault;
    }

    StatusMessage(1, "STOR " + (RemoteName.empty() ? LocalFile : RemoteName));
    Transaction("STOR " + Name);
    // The data connection is to be used now: 125 or 150, nothing else.
    std::string Fault = ReplyFault([](int N) { return N == 125 || N == 150; });
    if (!Fault.empty()) {
        if (ReplyProblem.empty() && IsUnsupported(ReplyNumber) && OnUnSupportedFunction)
            OnUnSupportedFunction(cmdUpload);
        return Fault;
    }
    return "";
}

// The servers take the data connection's handshake once they have answered
// the store command (pyftpdlib resets one that comes before).
void TNMFTP::SecureData() {
    DataConnection->StartTls(Session, TTlsUse::Data);
    DataSecured = true;
    DataResumed = DataConnection->TlsResumed();
    StatusMessage(1, DataResumed ? "TLS resumed" : "TLS not resumed");
}

// The data connection failed (its handshake, or while sending). A server
// that refused it says why on the control connection at once, as vsftpd's
// "522 SSL connection failed; session reuse required" does: that reply is
// the news, read within one time-out; anything else leaves Failure.
std::string TNMFTP::ReasonAfterDataFailure(const std::string& Failure) {
    if (DataConnection && DataConnection->Connected)
        DataConnection->RequestCloseSocket();
    if (!Connected)
        return Failure;
    try {
        TDeadline Deadline(*this);
        StartReply();
        ReadReply();
    } catch (const ETimeOutError&) {
        CloseOutOfStep();
        return Failure;
    }
    if (TransactionReply.empty() || !ReplyProblem.empty() || !IsRefusal(ReplyNumber))
        return Failure;
    return FromWire(TransactionReply);
}

void TNMFTP::SendData(const std::string& LocalFile) {
    if (!Passive)
        DataConnection->SetSocket(DataConnection->Accept());
    if (OnTransactionStart)
        OnTransactionStart(this);
    if (!Canceled && !TimedOut)
        DataConnection->SendFile(LocalFile);
    if (OnTransactionStop)
        OnTransactionStop(this);
}

// After the data: the end of the file is sent (this side's direction of the
// data connection ends), and the server answers with its final reply and by
// ending the data connection. Both must come within one time-out counted
// from here. What send() took may still lie in the system's buffers, so the
// final reply alone proves nothing: a server that read only part of it may
// say 226 and reset the connection afterwards. Only its orderly close after
// reading to the end, with a 226 or 250, confirms the file. The data
// connection's own notifications tell which end it was: it closes itself on
// either, and NotifyOk says whether the close carried an error. (Watching a
// descriptor number instead would meet the fresh socket that the close puts
// in its place.) Returns the failure's message, or "".
std::string TNMFTP::AwaitUploadEnd() {
    TPowersock& Data = *DataConnection;
    TDeadline Deadline(*this);
    StartReply();
    bool DataOpen = Data.Connected;
    bool DataOrderly = Data.NotifyOk;
    bool Stray = false; // the server sent something on the data connection
    struct Release {
        TPowersock& Data;
        ~Release() { Data.ReadHook = nullptr; }
    } Releaser{Data};
    if (DataOpen) {
        Data.ShutdownSend();
        Data.NotifyOk = true;
        Data.ReadHook = [&Stray] { Stray = true; };
    }
    bool HaveFinal = false;
    for (;;) {
        if (DataOpen && !Data.Connected) {
            DataOpen = false;
            DataOrderly = Data.NotifyOk;
        }
        if (DataOpen && Stray) {
            Stray = false;
            try {
                Data.Read(0); // stray bytes are dropped
            } catch (const ESockError&) {
                DataOpen = false; // reset
                DataOrderly = false;
            }
            continue;
        }
        if (!HaveFinal && (!Connected || DataAvailable())) {
            ReadReply();
            HaveFinal = true;
            // Anything but a 226 or 250 fails whatever the data connection does.
            if (TransactionReply.empty() || !ReplyProblem.empty() ||
                (ReplyNumber != 226 && ReplyNumber != 250))
                break;
        }
        if (HaveFinal && !DataOpen)
            break;
        if (TimedOut)
            throw ETimeOutError(DataOpen ? kTimedOutDataEnd : kTimedOutReply);
        if (Data.Canceled)
            throw EAbortError("Socket send aborted");
        if (Canceled) {
            Canceled = false;
            throw EAbortError("Socket readln aborted");
        }
        // Both connections are watched and the deadline is a timer: the wait
        // lasts until one of them has news (on Windows, it sleeps till then).
        PumpMessages(kWaitPassMs);
    }
    if (Data.Connected) {
        // Linger off: the close ends the connection normally.
        Data.SetLinger(false, 0);
        Data.RequestCloseSocket();
    }

    if (TransactionReply.empty())
        return "The server did not confirm the upload (connection closed)";
    // Only the server's 226 or 250 confirms the file; 4xx/5xx (426, 451,
    // 452, 552 ...) or anything else means it may be missing or damaged.
    const std::string Fault = ReplyFault([](int N) { return N == 226 || N == 250; });
    if (!Fault.empty())
        return Fault;
    const int64_t Sent = Data.BytesSent;
    if (Sent != BytesTotal)
        return "Only " + std::to_string(Sent) + " of " + std::to_string(BytesTotal) +
               " bytes were sent";
    if (!DataOrderly)
        return "The server reset the data connection before it had read all the data";
    return "";
}
