#include "net/Nmftp.h"

#include "net/ReplyCode.h"

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
        std::string First = TPowersock::Transaction(Wire);
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

// A reply continues while its current line starts with a blank or carries
// "-" in the fourth place. A reply opened by "ddd-" runs on to a line of
// three digits and a blank, so that middle lines without a mark (allowed by
// the protocol) cannot leave the rest of the reply to be taken for the
// answer to the next command. The closing code is not compared with the
// opening one: a server that closes with another code must not leave the
// client waiting for a line that never comes.
void TNMFTP::ReadExtraLines(const std::string& Line) {
    auto HasCode = [](const std::string& L) {
        return L.size() >= 3 && IsDigit(L[0]) && IsDigit(L[1]) && IsDigit(L[2]);
    };
    const bool Opened = HasCode(Line) && Line.size() >= 4 && Line[3] == '-';
    auto Continues = [&](const std::string& Current) {
        if (Opened && &Current != &Line) {
            bool Closing = HasCode(Current) && (Current.size() == 3 || Current[3] == ' ' ||
                                                Current[3] == '\r' || Current[3] == '\n');
            return !Closing;
        }
        return !Current.empty() &&
               (Current[0] == ' ' || (Current.size() >= 4 && Current[3] == '-'));
    };
    if (!Continues(Line))
        return;
    for (;;) {
        std::string Next = ReadLn();
        if (Next.empty())
            return; // the server closed the connection
        StatusMessage(1, FromWire(Next));
        if (!Continues(Next))
            return;
    }
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
    std::string Reply = Transaction(Command);
    bool Handled = false;
    if (Reply.empty()) {
        // No reply at all: the server closed the connection.
        Fail(Kind, "Connection closed by the server", Handled);
        return;
    }
    if (IsRefusal(ReplyNumber)) {
        if (IsUnsupported(ReplyNumber) && OnUnSupportedFunction)
            OnUnSupportedFunction(Kind);
        Fail(Kind, FromWire(Reply), Handled);
        return;
    }
    if (OnSuccess)
        OnSuccess(Kind);
}

void TNMFTP::Mode(int TheMode) {
    switch (TheMode) {
    case 1:
        DoCommand("TYPE A");
        break;
    case 2:
        DoCommand("TYPE I");
        break;
    case 3:
        DoCommand("TYPE L 8");
        break;
    default:
        break;
    }
}

// A refusal fails the log-in; a reply of exactly 400 to a log-in step does
// not (some proxies answer a step they only pass on with it).
void TNMFTP::CheckLoginReply() {
    std::string Message;
    if (TransactionReply.empty())
        Message = "Connection closed by the server";
    else if (IsRefusal(ReplyNumber) && ReplyNumber != 400)
        Message = FromWire(TransactionReply);
    else
        return;
    FailConnection(Message);
}

void TNMFTP::FailConnection(const std::string& Message) {
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(Message);
}

void TNMFTP::ReadGreeting() {
    std::string Line = ReadLn();
    for (;;) {
        TransactionReply = Line;
        ReplyNumber = ParseReplyNumber(Line);
        if (Line.empty())
            break;
        StatusMessage(1, FromWire(Line));
        ReadExtraLines(Line);
        // "120 ready in n minutes" is followed by the real greeting.
        if (!IsPositivePreliminary(ReplyNumber))
            break;
        Line = ReadLn();
    }
    std::string Message;
    if (TransactionReply.empty())
        Message = "Connection closed by the server before its greeting";
    else if (!IsPositive(ReplyNumber))
        Message = FromWire(TransactionReply);
    else
        return;
    FailConnection(Message);
}

void TNMFTP::Connect() {
    Canceled = false;
    if (Connected)
        return;
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

// The log-in commands after the greeting: at the proxy first when asked,
// then directly or in the proxy's style. Raises on a refusal.
void TNMFTP::LogIn() {
    if (FWAuthenticate) {
        Transaction("USER " + FWUserID);
        CheckLoginReply();
        if (ReplyNumber == 331) {
            StatusMessage(1, "PASS ");
            Transaction("PASS " + FWPassword);
            CheckLoginReply();
        }
    }
    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
        bool Handled = false;
        OnAuthenticationNeeded(Handled);
    }
    bool ProxyUser = !Proxy.empty() && FirewallType == FTUser;
    if (!Proxy.empty()) {
        switch (FirewallType) {
        case FTUser:
            StatusMessage(1, "USER " + UserID + "@" + Host);
            Transaction("USER " + UserID + "@" + Host);
            // This USER is the log-in itself: a refusal must not pass.
            CheckLoginReply();
            break;
        case FtOpen:
            StatusMessage(1, "OPEN " + Host);
            Transaction("OPEN " + Host);
            break;
        case FtSite:
            StatusMessage(1, "SITE " + Host);
            Transaction("SITE " + Host);
            break;
        }
    }
    if (!ProxyUser) {
        StatusMessage(1, "USER " + UserID);
        Transaction("USER " + UserID);
        CheckLoginReply();
    }
    if (ReplyNumber == 331) {
        StatusMessage(1, "PASS "); // the password itself is never reported
        Transaction("PASS " + Password);
        CheckLoginReply();
    }
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
    std::string Reply = Transaction("SIZE " + RemoteName);
    if (Reply.empty())
        throw FTPException("Connection closed by the server");
    if (ReplyNumber == 500 || ReplyNumber == 502 || ReplyNumber == 550)
        return std::nullopt;
    if (ReplyNumber != 213)
        throw FTPException(FromWire(Reply));
    std::string Text = Reply.substr(3);
    size_t B = Text.find_first_not_of(' ');
    size_t E = B == std::string::npos ? B : Text.find_first_not_of("0123456789", B);
    if (B == std::string::npos || E == B || E - B > 18)
        throw FTPException("Unreadable size in the reply: " + FromWire(Reply));
    return std::stoll(Text.substr(B, E - B));
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
    InTransfer = true;
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
        const bool DataReset = SendData(LocalFile);
        Problem = ReadFinalReply(DataReset);
    }
    if (Problem.empty())
        return true;
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
        // A number beyond the reply classes fails too, at the latest when
        // its text is read for the port.
        if (IsPermanentRefusal(ReplyNumber) || ReplyNumber > 599)
            return FromWire(Reply);
        uint16_t DataPort = PassivePort(Reply);
        // The port belongs to the machine that answered: through a proxy
        // that is the proxy, not Host.
        DataConnection->Host = Proxy.empty() ? Host : Proxy;
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
        std::string Reply =
            Transaction("PORT " + GetLocalAddress() + DataConnection->GetPortString());
        if (IsIntermediateOrRefusal(ReplyNumber))
            return FromWire(Reply);
    }

    StatusMessage(1, "STOR " + (RemoteName.empty() ? LocalFile : RemoteName));
    std::string StorReply = Transaction("STOR " + Name);
    if (StorReply.empty())
        return "Connection closed by the server";
    if (IsIntermediateOrRefusal(ReplyNumber)) {
        if (IsUnsupported(ReplyNumber) && OnUnSupportedFunction)
            OnUnSupportedFunction(cmdUpload);
        return FromWire(StorReply);
    }
    return "";
}

// Sends the file and ends the data connection. True when the server reset
// the data connection instead of reading to the end.
bool TNMFTP::SendData(const std::string& LocalFile) {
    if (!Passive)
        DataConnection->SetSocket(DataConnection->Accept());
    if (OnTransactionStart)
        OnTransactionStart(this);
    if (!Canceled && !TimedOut)
        DataConnection->SendFile(LocalFile);
    if (OnTransactionStop)
        OnTransactionStop(this);
    // What send() accepted may still lie in the system's buffers; a server
    // that stopped reading resets the connection, and may still say 226.
    const bool DataReset = !Canceled && !TimedOut && !DataEndedInOrder();
    // Linger off: the close hands the remaining data to the system and ends
    // the connection normally; the server sees the end of the file by it.
    DataConnection->SetLinger(false, 0);
    DataConnection->RequestCloseSocket();
    return DataReset;
}

// The server's final reply and what it, the bytes sent and the end of the
// data connection say together. Returns the failure's message, or "".
std::string TNMFTP::ReadFinalReply(bool DataReset) {
    std::string Final;
    if (!Canceled && !TimedOut) {
        Final = ReadLn();
        TransactionReply = Final;
        ReplyNumber = ParseReplyNumber(Final);
        if (!Final.empty()) {
            StatusMessage(1, FromWire(Final));
            if (!Canceled && !TimedOut)
                ReadExtraLines(Final);
        }
    }
    // Only the server's 2xx confirms the file; 4xx/5xx (426, 451, 452,
    // 552 ...) or no reply at all means it may be missing or damaged.
    if (Final.empty())
        return "The server did not confirm the upload (connection closed)";
    if (!IsPositiveCompletion(ReplyNumber))
        return FromWire(Final);
    const int64_t Sent = DataConnection->BytesSent;
    if (Sent != BytesTotal)
        return "Only " + std::to_string(Sent) + " of " + std::to_string(BytesTotal) +
               " bytes were sent";
    if (DataReset)
        return "The server reset the data connection before it had read all the data";
    return "";
}

// Ends our direction of the data connection (the end of the file) and waits
// until the server closes its side, which it does once it has read to the
// end; a reset instead means the server dropped data that was already sent.
// The data connection's own notifications tell which: it closes itself on
// either, and NotifyOk says whether the close carried an error. (Watching a
// descriptor number instead would meet the fresh socket that the close puts
// in its place.) The wait ends too when the final reply arrives on the
// control connection; the data side is then judged by what one more
// delivery of its notifications shows.
bool TNMFTP::DataEndedInOrder() {
    TPowersock& Data = *DataConnection;
    if (!Data.Connected)
        return Data.NotifyOk;
    Data.ShutdownSend();
    Data.NotifyOk = true;
    bool Stray = false; // the server sent something on the data connection
    Data.ReadHook = [&Stray] { Stray = true; };
    TimerOn();
    struct Release {
        TNMFTP& F;
        TPowersock& Data;
        ~Release() {
            Data.ReadHook = nullptr;
            F.TimerOff();
        }
    } Releaser{*this, Data};
    for (;;) {
        if (!Data.Connected)
            return Data.NotifyOk;
        if (Stray) {
            Stray = false;
            try {
                Data.Read(0); // stray bytes are dropped
            } catch (const ESockError&) {
                return false; // reset
            }
            continue;
        }
        if (!Connected || DataAvailable()) {
            sockevents::Deliver(0);
            return Data.Connected || Data.NotifyOk;
        }
        if (TimedOut)
            throw ETimeOutError(kTimedOutDataEnd);
        if (Canceled || Data.Canceled)
            return true; // the caller reports the cancel
        PumpMessages(2);
    }
}
