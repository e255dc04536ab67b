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
#pragma once
#include "net/Psock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

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
    // already connected. Any failure after the socket connected sends QUIT,
    // reports "Disconnected" and re-raises.
    void Connect() override;
    // The base exchange, then the continuation lines of a multi-line reply
    // are read and dropped. Returns the first line; ReplyNumber is its number.
    std::string Transaction(const std::string& Command) override;
    // Reads the continuation lines of the reply whose first line is given.
    void ReadExtraLines(const std::string& Line);
    // One command with the reply test (400-599 fails) and the events.
    void DoCommand(const std::string& Command);
    // 1 "TYPE A", 2 "TYPE I", 3 "TYPE L 8"; other values send nothing.
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
    // Nothing ("not supported") for a 500, 502 or 550 reply; other refusals
    // and unreadable numbers raise FTPException.
    std::optional<int64_t> Size(const std::string& RemoteName);

    // ---- upload -------------------------------------------------------------
    // Stores the local file under RemoteName (empty: the local file's name)
    // over a passive or active data connection. Success only when all bytes
    // went out and the server's final reply is 2xx; otherwise an exception
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

private:
    void CheckLoginReply();
    // OnConnectionFailed, then FTPException with the message.
    [[noreturn]] void FailConnection(const std::string& Message);
    void Fail(TCmdType Kind, const std::string& Message, bool& Handled);
    void DropWaitingInput();
    void ReadGreeting();
    void LogIn();
    bool RunUpload(const std::string& LocalFile, const std::string& RemoteName, bool& Offered);
    std::string OpenDataConnection(const std::string& LocalFile, const std::string& RemoteName,
                                   const std::string& Name);
    bool SendData(const std::string& LocalFile);
    std::string ReadFinalReply(bool DataReset);
    bool DataEndedInOrder();
    // After a time-out the conversation is out of step: closes the control
    // connection without QUIT.
    void CloseOutOfStep();
    bool InTransfer = false;
};

// The command text as Windows-1250 wire bytes; raises FTPException naming
// `What` when the text holds a character Windows-1250 cannot represent, or
// CR, LF or NUL.
std::string FtpWireText(const std::string& Text, const std::string& What);
