// TNMFTP: the FTP client. Its own socket (from TPowersock) is the control
// connection; each upload opens a temporary TPowersock, the DataConnection.
//
// Text is UTF-8 everywhere in the program; commands go on the wire as
// Windows-1250 bytes. A name Windows-1250 cannot hold, or one holding CR, LF
// or NUL, is refused with FTPException before anything is sent.
//
// Typical use (all on the user-interface thread):
//     TNMFTP ftp;
//     ftp.Host = "ftp.example.org"; ftp.UserID = "user"; ftp.Password = "pw";
//     ftp.Passive = true;
//     ftp.Connect();          // greeting, log-in (directly or through Proxy)
//     ftp.Mode(3);            // "TYPE L 8"
//     ftp.Upload("/tmp/x.gpg", "x.gpg");
//     ftp.BytesTotal;         // size of the local file
//     ftp.GetBytesSent();     // bytes that went out on the data connection
//     ftp.Size("x.gpg");      // size on the server, if it can tell
//     ftp.MlstSize("x.gpg");  // the same from MLST, where FEAT offers it
//
// Every reply is read strictly and within one time-out: each step accepts
// only the replies RFC 959 gives it for going on (the greeting 220 after any
// 120, USER 230 or 331, PASS 230 or 202, TYPE 200, PASV 227, PORT 200, STOR
// 125 or 150 and then 226 or 250, other commands 2xx), and fails on anything
// else with the server's reply line, as on a refusal. A reply that is no
// valid reply (no three-digit code, a control byte other than TAB, a
// multi-line reply closed by another code or cut short) fails with "Invalid
// reply from the server: " and the line, its control bytes shown as '?'.
// A whole reply, continuation lines and any 120 before it included, must
// arrive within TimeOut of its command (ETimeOutError) and hold at most
// 64 KiB (ESockError); either closes the control connection without QUIT.
//
// Explicit TLS (RFC 4217, Ftps): after the greeting (through the proxy:
// after OPEN or SITE has been answered with the server's greeting), "AUTH
// TLS" must be answered 234, then the handshake authenticates the server as
// TlsPeer says; only then the log-in, followed by "PBSZ 0" and "PROT P",
// each answered 200. Any other answer, a failed handshake or a refused
// certificate fails the connection: there is never a fallback to plain FTP.
// Every data connection is TLS too, its handshake after the store command's
// 1xx reply, resuming the control connection's session. Passive mode only;
// no CCC, no implicit TLS.
#pragma once
#include "net/Psock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A refused FTP command or log-in, or an upload the server did not confirm.
// The message is normally the server's reply line as read (line end included).
class FTPException : public Exception {
public:
    using Exception::Exception;
};

// The local file of an upload cannot be opened.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

enum TFirewallType { FTUser = 0, FtOpen = 1, FtSite = 2 };

enum TCmdType {
    cmdChangeDir = 0,
    cmdMakeDir = 1,
    cmdDelete = 2,
    cmdRemoveDir = 3,
    cmdList = 4,
    cmdRename = 5,
    cmdUpRestore = 6,
    cmdDownRestore = 7,
    cmdDownload = 8,
    cmdUpload = 9,
    cmdAppend = 10,
    cmdReInit = 11,
    cmdAllocate = 12,
    cmdNList = 13,
    cmdDoCommand = 14,
    cmdCurrentDir = 15
};

using TFailureEvent = std::function<void(bool& Handled, TCmdType Trans_Type)>;
using TSuccessEvent = std::function<void(TCmdType Trans_Type)>;
using TUnsupportedEvent = std::function<void(TCmdType Trans_Type)>;
using TListItemEvent = std::function<void(const std::string& Listing)>;

class TNMFTP : public TPowersock {
public:
    TNMFTP(); // Port 21, Vendor 2411, not passive, FTUser, no firewall log-in
    ~TNMFTP() override;

    // ---- properties -------------------------------------------------------
    std::string UserID;
    std::string Password;
    bool Passive = false;
    int Vendor = 2411; // listing style (kept for completeness; no listing here)
    bool ParseList = false;
    TFirewallType FirewallType = FTUser;
    std::string FWUserID;
    std::string FWPassword;
    bool FWAuthenticate = false;
    // Explicit TLS on the control and the data connections (see above).
    bool Ftps = false;
    TTlsPeer TlsPeer; // the server's name as configured (without port), or a pin

    // Data connection of the running transfer (none outside Upload).
    std::unique_ptr<TPowersock> DataConnection;
    // Held by Upload for the time of a transfer.
    std::recursive_mutex TransferLock;

    // ---- events (optional) ------------------------------------------------
    TNotifyEvent OnConnect; // after the log-in (hides the socket-level one)
    TNotifyEvent OnTransactionStart;
    TNotifyEvent OnTransactionStop;
    THandlerEvent OnAuthenticationNeeded; // UserID or Password empty; Handled unused
    THandlerEvent OnAuthenticationFailed; // kept for completeness; never raised
    TFailureEvent OnFailure;              // Handled true suppresses the exception
    TSuccessEvent OnSuccess;
    TListItemEvent OnListItem; // kept for completeness; never raised
    TUnsupportedEvent OnUnSupportedFunction;

    // ---- command channel ----------------------------------------------------
    // Connects the control connection and logs in; returns at once when
    // already connected (with Ftps, only over TLS for TlsPeer: another
    // connection is closed first). Any failure after the socket connected
    // sends QUIT (never after a TLS failure, which closed the connection),
    // reports "Disconnected" and re-raises. With Ftps, settings that cannot
    // keep everything inside TLS raise ETlsError before anything is sent.
    void Connect() override;
    // The connection is open and protected as Ftps and TlsPeer ask (TLS for
    // that peer, or plain without Ftps).
    bool ConnectedAsAsked() const;
    // The base exchange, then the continuation lines of a multi-line reply
    // are read and dropped, all within one deadline. Returns the first line;
    // ReplyNumber is its number. Judge it with ReplyFault.
    std::string Transaction(const std::string& Command) override;
    // Reads the continuation lines of the reply whose first line is given,
    // and notes what makes it no valid reply (see ReplyFault).
    void ReadExtraLines(const std::string& Line);
    // One command with the reply test (anything but 2xx fails) and the events.
    void DoCommand(const std::string& Command);
    // 1 "TYPE A", 2 "TYPE I", 3 "TYPE L 8" (each expects 200); other values
    // send nothing.
    void Mode(int TheMode);
    // "QUIT" (301-599 raises FTPException) and close; nothing when not connected.
    void Disconnect() override;
    // Cancels the running data transfer; the control connection is left alone.
    void Abort() override;

    void ChangeDir(const std::string& DirName);
    void MakeDirectory(const std::string& DirName);
    void RemoveDir(const std::string& DirName);
    void Delete(const std::string& FileName);
    void Reinitialize();
    void Allocate(int FileSize);
    std::string GetCurrentDir();
    // Waits up to about 0.95 s for any input and reports it (level 1).
    void Flush();

    // The server's size of a remote file: "SIZE " + name, 213 and the number.
    // Nothing (the server cannot tell) for a well-formed 500, 502, 504 or
    // 550; anything else (another reply, an unreadable or negative number, a
    // closed connection) raises, FTPException or the socket layer's error.
    std::optional<int64_t> Size(const std::string& RemoteName);
    // The same from "MLST " + name (RFC 3659) when "FEAT" lists MLST with
    // the size fact given by default; nothing when FEAT or MLST cannot tell
    // in the same way, or the size fact is not offered. Raises like Size.
    std::optional<int64_t> MlstSize(const std::string& RemoteName);

    // ---- upload -------------------------------------------------------------
    // Stores the local file under RemoteName (empty: the local file's name)
    // over a passive or active data connection (passive: to the address the
    // control connection went to, never to the name looked up again).
    // Success only when all bytes went out, the server's final reply is 226
    // or 250 and the server ended the data connection in order (a reset, or
    // no end within TimeOut of the end of the data, fails; over TLS the
    // server's close_notify and its TCP end without one both count, after
    // ours was sent); otherwise an exception
    // (unless OnFailure sets Handled). Sets BytesTotal to the local file's
    // size before any command and keeps BytesSent (see GetBytesSent).
    void Upload(const std::string& LocalFile, const std::string& RemoteName);

    // During a transfer: the running count of the DataConnection; afterwards:
    // what the last transfer really sent on its data connection.
    int64_t GetBytesSent() const;

    // The data port announced by a "227 ... (h1,h2,h3,h4,p1,p2)" reply, from
    // its fifth and sixth comma-separated fields; raises FTPException for a
    // malformed reply, a field outside 0-255 or port 0.
    static uint16_t PassivePort(const std::string& Reply);

    // What is wrong with the reply just read for a step that goes on only
    // with the reply numbers Accepts takes: "" when nothing, else the message
    // to fail with (the server's reply line, or why it is no valid reply).
    std::string ReplyFault(bool (*Accepts)(int)) const;

private:
    void RunCommand(const std::string& Command, bool (*Accepts)(int));
    void CheckLoginReply(bool (*Accepts)(int));
    // The bookkeeping of one reply: its lines so far, their length (at most
    // 64 KiB over all lines and any 120 before them) and what is wrong with it.
    void StartReply();
    void TakeReplyLine(const std::string& Line);
    std::string ReadReplyLine();
    void NoteBadLine(const std::string& Line);
    // Reads one whole reply into TransactionReply and ReplyNumber.
    void ReadReply();
    // Reads on past any 120 ("ready in n minutes") to the reply that follows.
    void FollowPreliminary();
    // OnConnectionFailed, then FTPException with the message.
    [[noreturn]] void FailConnection(const std::string& Message);
    void Fail(TCmdType Kind, const std::string& Message, bool& Handled);
    void DropWaitingInput();
    void ReadGreeting();
    void LogIn();
    // AUTH TLS and the handshake; PBSZ 0 and PROT P.
    void SecureControl();
    void ProtectData();
    void CheckTlsSettings() const;
    // The data connection's handshake, after the store command's 1xx.
    void SecureData();
    // After a failed TLS data connection: the server's refusal that follows
    // at once on the control connection ("522 ..."), else Failure.
    std::string ReasonAfterDataFailure(const std::string& Failure);
    bool RunUpload(const std::string& LocalFile, const std::string& RemoteName, bool& Offered);
    std::string OpenDataConnection(const std::string& LocalFile, const std::string& RemoteName,
                                   const std::string& Name);
    void SendData(const std::string& LocalFile);
    std::string AwaitUploadEnd();
    // After a time-out the conversation is out of step: closes the control
    // connection without QUIT.
    void CloseOutOfStep();
    bool InTransfer = false;
    // The control connection's TLS session (null: plain), for its data connections.
    std::shared_ptr<TTlsSession> Session;
    TTlsPeer SessionPeer;
    bool DataSecured = false;            // the running upload's data handshake was made
    bool DataResumed = false;            // ... and resumed the control connection's session
    std::vector<std::string> ReplyLines; // every line of the last reply
    size_t ReplyBytes = 0;
    std::string ReplyProblem;
};

// The command text as Windows-1250 wire bytes; raises FTPException naming
// `What` when the text holds a character Windows-1250 cannot represent, or
// CR, LF or NUL.
std::string FtpWireText(const std::string& Text, const std::string& What);
