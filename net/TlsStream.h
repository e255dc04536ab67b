// TLS client streams over the connection layer's sockets (see Stream.h): the
// server authenticated by the system's trusted roots and its host name, or
// by a pinned SHA-256 fingerprint; TLS 1.2 at least, 1.3 where negotiated;
// the data connections resuming the control connection's session. OpenSSL 3
// on Linux (TlsStream_posix.cpp), SChannel through SSPI on Windows
// (TlsStream_win32.cpp); CMake builds the one for the system.
//
// How the connection object (TPowersock) uses it. It keeps one stream for
// its socket, NewPlainStream(ThisSocket) whenever the socket changes
// (InitWinsock, ReplaceSocket, RequestCloseSocket, SetSocket), destroyed
// before the socket is closed, and makes every data call through it:
//
//   sockapi::Send(ThisSocket, p, n)          -> Stream->Send(p, n)
//       (SendBuffer, SendChunk: a TLS would-block is retried with the same bytes)
//   sockapi::Receive(ThisSocket, p, n, peek) -> Stream->Receive(p, n, peek)
//       (ReadLn, Read, DataAvailable, ClearInput, the watcher's probe)
//   sockapi::ShutdownSend(ThisSocket)        -> Stream->ShutdownSend(), repeated
//       with waits until true (a TLS stream sends close_notify first)
//   CaptureError() after such a call         -> Stream->LastError() (a TLS call
//       leaves the system's own error number meaningless)
//   WaitStep(ThisSocket, kReadable or kWritable) after a would-block
//                                            -> WaitStep(ThisSocket, Stream->Wanted())
//   ErrorManager: kStreamTlsFailed and kStreamCertificateRefused raise
//       ESockError(Stream->FailureText()) (after OnError), every other number
//       as today
//   the socket watcher (TNotifier) overrides sockevents::TWatcher::Buffered()
//       with Stream->Buffered(), so the delivery notifies a read of decrypted
//       bytes without waiting for the socket.
//
// and gains one operation, StartTls(Session, Use), the handshake as a wait of
// its own (the caller's time-out and cancel bound it; the engine never waits):
//
//       auto tls = NewTlsStream(ThisSocket, Session, Use);
//       TTimerScope timer(*this);
//       while (!tls->Handshake()) {
//           if (tls->LastError() != WSAEWOULDBLOCK) -> fail as ErrorManager does
//               (FailureText(), or the Winsock text: 10054 for a reset), after
//               RequestCloseSocket: the connection is not usable any more;
//           if (Canceled || TimedOut) -> RaiseWaitEnded(a TLS time-out text, ...);
//           WaitStep(ThisSocket, tls->Wanted());
//       }
//       Stream = std::move(tls);
//
// The FTP client (TNMFTP): after the greeting, Transaction("AUTH TLS") must
// answer 234 (ReadLn takes nothing beyond the reply's LF, so the handshake
// bytes are untouched), then Session = NewTlsSession({Host,
// ParseCertificatePin(setting)}) (Host as configured, also through the
// proxy) and StartTls(Session, TTlsUse::Control); after the log-in "PBSZ 0"
// and "PROT P" must answer 2xx. An upload's data connection calls
// StartTls(Session, TTlsUse::Data) after the store command's 1xx reply (the
// servers take the data handshake then; pyftpdlib resets one that comes
// earlier). The end of the upload (DataEndedInOrder): Stream->ShutdownSend()
// until true replaces ShutdownSend(), and the notification-driven read to
// the server's end stays: session tickets are dropped inside the stream, the
// server's close_notify and a TCP end without it both read as 0 (NOTIFY_CLOSE
// with NotifyOk; End() says which), a reset as 10054 (NotifyOk false).
//
// Session reuse. OpenSSL: every session the control connection's server
// issues (with TLS 1.3 they arrive after the handshake, read with the
// replies) is kept in the TTlsSession, the newest replacing the older; a data
// stream offers the newest. SChannel: all streams of one TTlsSession share
// one credentials handle and use the same target name, which is what
// SChannel's session cache keys on; Windows resumes that way. Wine's
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
