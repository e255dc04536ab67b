// TLS client streams over the connection layer's sockets (see Stream.h): the
// server authenticated by the system's trusted roots and its host name, or
// by a pinned SHA-256 fingerprint; TLS 1.2 at least, 1.3 where negotiated;
// the data connections resuming the control connection's session. OpenSSL 3
// on Linux (TlsStream_posix.cpp), SChannel through SSPI on Windows
// (TlsStream_win32.cpp); CMake builds the one for the system.
//
// How it is used. The connection object (TPowersock) keeps one stream for
// its socket, a plain one whenever the socket changes, and makes every data
// call through it: a would-block waits for Wanted(), a TLS failure raises
// ESockError(FailureText()), the socket watcher's Buffered() is the
// stream's. Its StartTls(Session, Use) drives Handshake() as a wait of its
// own (the time-out and cancel bound it; the engine never waits) and then
// installs the TLS stream; its ShutdownSend() repeats the stream's, with
// waits, until close_notify and the TCP end are out.
//
// The FTP client (TNMFTP, explicit FTPS): "AUTH TLS" answered 234 after the
// greeting (through the proxy: after OPEN), then StartTls(Session,
// TTlsUse::Control) with Session = NewTlsSession({host as configured, pin});
// after the log-in "PBSZ 0" and "PROT P", each answered 200. An upload's
// data connection calls StartTls(Session, TTlsUse::Data) after the store
// command's 1xx reply (the servers take the data handshake then; pyftpdlib
// resets one that comes earlier). At the end of the upload close_notify and
// the TCP end go out, and the data connection's notifications read to the
// server's end: session tickets are dropped inside the stream, the server's
// close_notify and a TCP end without it both read as 0 (End() says which),
// a reset as 10054.
//
// Session reuse. OpenSSL: every session the server issues on a connection of
// the TTlsSession (with TLS 1.3 they arrive after the handshake, read with
// the replies, and the data connections bring more) is kept; a data stream
// offers the newest, a TLS 1.3 one only once (servers forget a used
// ticket). SChannel: all streams of one TTlsSession share one credentials
// handle and use the same target name, which is what SChannel's session
// cache keys on; Windows resumes that way. Wine's
// SChannel never resumes (each data connection makes a full handshake), so
// under Wine a server that requires reuse refuses the data connection.
//
// Certificates. With no pin, the server's certificate must chain to the
// system's trusted roots and match HostName (a DNS name or an IPv4 address);
// with a pin, only the certificate with that SHA-256 fingerprint is accepted,
// whatever its issuer, name or dates. A resumed data connection presents no
// certificate: it proves knowledge of the control connection's session. A
// refusal fails the handshake with kStreamCertificateRefused and one text
// with the reason, the fingerprint and the subject (CertificateRefusal).
#pragma once
#include "net/SockError.h"
#include "net/Stream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A setting, a library or a certificate that makes TLS impossible (the text
// says which).
class ETlsError : public ESockError {
public:
    using ESockError::ESockError;
};

using TSha256 = std::array<uint8_t, 32>;

// The server a TLS session is for.
struct TTlsPeer {
    std::string HostName;       // as configured: checked against the certificate, sent as SNI
    std::optional<TSha256> Pin; // only this certificate is accepted
};

// What the control connection and its data connections share (the library's
// context, the kept session). Opaque; one per system.
class TTlsSession;

// Throws ETlsError when the library cannot be set up.
std::shared_ptr<TTlsSession> NewTlsSession(const TTlsPeer& Peer);

// The server issued sessions to resume and every one is used up (OpenSSL;
// SChannel's own cache decides: never). A data connection would then make
// a full handshake, which servers that demand reuse refuse: such a control
// connection is better replaced by a fresh one.
bool TlsSessionsUsedUp(const TTlsSession& Session);

enum class TTlsUse {
    Control, // its sessions are kept for the data connections
    Data,    // resumes the newest kept session
};

class TTlsStream : public TStream {
public:
    // One step of the client handshake, never waiting: true when it is done
    // and the certificate accepted. False: LastError() is would-block (wait
    // for Wanted(), then call again), a Winsock number (10054: reset) or
    // kStreamTlsFailed / kStreamCertificateRefused (FailureText()).
    virtual bool Handshake() = 0;
    // After the handshake: "TLSv1.3", "TLSv1.2".
    virtual std::string Protocol() const = 0;
    // After the handshake: the session was resumed (false where the system
    // cannot tell).
    virtual bool Resumed() const = 0;
    bool Secure() const override { return true; }

protected:
    using TStream::TStream;
};

// The stream does not own Socket (a connected, non-blocking socket).
std::unique_ptr<TTlsStream> NewTlsStream(sockapi::THandle Socket,
                                         std::shared_ptr<TTlsSession> Session, TTlsUse Use);

// ---- certificates ------------------------------------------------------------

// The pin setting: empty (blanks only) means no pin; otherwise 64 hex digits,
// colons and letter case ignored, optionally behind the "sha256 Fingerprint="
// that openssl prints. Anything else throws ETlsError.
std::optional<TSha256> ParseCertificatePin(const std::string& Text);

// As `openssl x509 -fingerprint -sha256` prints it: "AB:01:...".
std::string FormatFingerprint(const TSha256& Digest);

// Why a certificate was refused.
enum class TCertificateProblem {
    PinMismatch,
    Untrusted,
    NameMismatch,
    Expired,
    NotYetValid,
    Other
};

// The one journal line of a refusal. Detail is the library's own word (may be
// empty); HostName is the name that did not match.
std::string CertificateRefusal(TCertificateProblem Problem, const std::string& Detail,
                               const std::string& HostName, const TSha256& Fingerprint,
                               const std::string& Subject);

// True for a dotted IPv4 address (no SNI, the certificate's IP entries).
bool IsAddressLiteral(const std::string& HostName);
