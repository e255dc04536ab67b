// The byte stream of one connection of the socket layer: the socket itself
// (plain) or TLS over it (TlsStream.h). The connection object makes its data
// calls through a stream instead of sockapi::Send / Receive / ShutdownSend,
// so plain and TLS connections share every wait, time-out and cancel.
//
// A stream never waits. A call that cannot go on now fails with
// LastError() == WSAEWOULDBLOCK (10035); Wanted() then names the poll events
// (sockapi::kReadable / kWritable) to wait for before calling again. With
// TLS these need not match the call: a read may have to write (a key update
// answered) and a write may have to read. Bytes a stream has already taken
// from the socket (decrypted TLS records) do not make the socket readable:
// while Buffered() is true a wait for input must not sleep.
//
// The stream does not own the socket: the connection closes it, after
// destroying the stream.
#pragma once
#include "net/SocketApi.h"

#include <cstddef>
#include <memory>
#include <string>

// Failures of a TLS stream beside the Winsock numbers (LastError()); they are
// above 10000 like those, and FailureText() says what happened.
inline constexpr int kStreamTlsFailed = 30001;          // handshake or record failure
inline constexpr int kStreamCertificateRefused = 30002; // FailureText() is the journal line

// How the peer ended its side of the stream, as far as seen.
enum class TStreamEnd {
    Open,               // no end seen yet
    Orderly,            // plain: the TCP end; TLS: the peer's close_notify
    WithoutCloseNotify, // TLS only: the TCP end without close_notify
    Reset,              // a reset or another socket failure (LastError() says which)
};

class TStream {
public:
    virtual ~TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    sockapi::THandle Socket() const { return Sock; }

    // As sockapi::Send: bytes taken (> 0), or negative (LastError()). A
    // TLS stream counts bytes as taken once their records are in the socket;
    // after would-block or a short count it must be given the bytes that
    // follow the taken ones again (at least as many), as records of them may
    // be half sent or still wait inside the stream.
    virtual long Send(const char* Data, size_t Length) = 0;
    // As sockapi::Receive: bytes (> 0), 0 at the peer's end (End() says
    // which), or negative (LastError()). Peek leaves the bytes to be received
    // again; a peek returns more as more arrives.
    virtual long Receive(char* Data, size_t Length, bool Peek) = 0;
    // Ends this side's direction: TLS sends close_notify first, then the TCP
    // end follows. True when done; false: LastError() (would-block: call
    // again after Wanted()). The peer's direction stays open: reading to its
    // end takes what it still sends (TLS session tickets are dropped inside).
    virtual bool ShutdownSend() = 0;

    int LastError() const { return Error; }
    short Wanted() const { return Want; }
    // Input taken from the socket but not yet received.
    virtual bool Buffered() const { return false; }
    TStreamEnd End() const { return PeerEnd; }
    // The failure behind kStreamTlsFailed / kStreamCertificateRefused.
    const std::string& FailureText() const { return Failure; }
    virtual bool Secure() const { return false; }

protected:
    explicit TStream(sockapi::THandle Socket) : Sock(Socket) {}

    // A failed call: would-block waiting for Events, or another error.
    long Fail(int Winsock, short Events = 0) {
        Error = Winsock;
        Want = Events;
        return -1;
    }
    long FailWith(int Code, const std::string& Text) {
        Failure = Text;
        return Fail(Code);
    }

    sockapi::THandle Sock;
    int Error = 0;
    short Want = 0;
    TStreamEnd PeerEnd = TStreamEnd::Open;
    std::string Failure;
};

// The socket's bytes as they are.
std::unique_ptr<TStream> NewPlainStream(sockapi::THandle Socket);

// Winsock numbers that mean the peer dropped the connection rather than
// that the call was wrong (reset, aborted, not connected, shut down).
bool IsPeerDrop(int Winsock);
