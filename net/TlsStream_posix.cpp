// TLS client streams with OpenSSL 3 (Linux). The library's socket I/O goes
// through a BIO of our own over sockapi, so writes never raise SIGPIPE, errors
// arrive as Winsock numbers, and the TCP end is told apart from a reset.
#include "net/TlsStream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

class TTlsSession {
public:
    explicit TTlsSession(const TTlsPeer& Peer);
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    const TTlsPeer Peer;
    SSL_CTX* Ctx = nullptr;

    // Sessions the server issued on any connection of this session, newest
    // last. A TLS 1.3 session is offered once only (as RFC 8446 advises):
    // servers that keep their tickets (vsftpd, proftpd) forget one once it
    // is used; some issue the next one on the data connection that resumed
    // it (vsftpd, pyftpdlib), others not (proftpd: its two tickets of the
    // control connection last for two data connections). A TLS 1.2 session
    // stays: it is resumed as often as the server keeps it.
    void Keep(SSL_SESSION* Session);
    SSL_SESSION* TakeNewest(); // a reference for the caller, or null
    std::vector<SSL_SESSION*> Kept;
    bool Issued = false; // the server issued at least one
};

namespace {

constexpr int kConnectionAborted = 10053;

// What the BIO saw of the socket below, for the stream to judge a failure,
// and the records a send gathers.
struct TBioState {
    sockapi::THandle Socket = sockapi::kNoSocket;
    int Error = 0; // Winsock number of a failed call (not would-block)
    bool Eof = false;
    // While Gather is set, writes are kept in Out instead of being sent: a
    // send's records go out in one send() (see TOpenSslStream::Send). Out
    // goes before anything else the library writes.
    bool Gather = false;
    std::vector<char> Out;
    size_t OutSent = 0; // of Out, already taken by the socket
};

// Sends what Out holds: 1 when it is all out, 0 for would-block, -1 on a
// failure (Error).
int FlushGathered(TBioState& State) {
    while (State.OutSent < State.Out.size()) {
        const long n = sockapi::Send(State.Socket, State.Out.data() + State.OutSent,
                                     State.Out.size() - State.OutSent);
        if (n < 0) {
            const int error = sockapi::LastError();
            if (error == WSAEWOULDBLOCK)
                return 0;
            State.Error = error;
            return -1;
        }
        State.OutSent += static_cast<size_t>(n);
    }
    State.Out.clear();
    State.OutSent = 0;
    return 1;
}

int BioWrite(BIO* Bio, const char* Data, int Length) {
    auto* state = static_cast<TBioState*>(BIO_get_data(Bio));
    BIO_clear_retry_flags(Bio);
    if (state->Gather) {
        state->Out.insert(state->Out.end(), Data, Data + Length);
        return Length;
    }
    if (const int flushed = FlushGathered(*state); flushed <= 0) {
        if (flushed == 0)
            BIO_set_retry_write(Bio);
        return -1;
    }
    const long n = sockapi::Send(state->Socket, Data, static_cast<size_t>(Length));
    if (n >= 0)
        return static_cast<int>(n);
    const int error = sockapi::LastError();
    if (error == WSAEWOULDBLOCK)
        BIO_set_retry_write(Bio);
    else
        state->Error = error;
    return -1;
}

int BioRead(BIO* Bio, char* Data, int Length) {
    auto* state = static_cast<TBioState*>(BIO_get_data(Bio));
    BIO_clear_retry_flags(Bio);
    const long n = sockapi::Receive(state->Socket, Data, static_cast<size_t>(Length), false);
    if (n > 0)
        return static_cast<int>(n);
    if (n == 0) {
        state->Eof = true;
        return 0;
    }
    const int error = sockapi::LastError();
    if (error == WSAEWOULDBLOCK)
        BIO_set_retry_read(Bio);
    else
        state->Error = error;
    return -1;
}

long BioCtrl(BIO*, int Command, long, void*) {
    return Command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* Bio) {
    BIO_set_init(Bio, 1);
    return 1;
}

const BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "connection layer socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

// The library's reasons, newest last, as one text.
std::string LibraryErrors() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        // "error:0A000086:SSL routines::certificate verify failed" -> the reason.
        const char* reason = std::strrchr(buf, ':');
        if (!text.empty())
            text += "; ";
        text += reason ? reason + 1 : buf;
    }
    return text;
}

TSha256 Fingerprint(X509* Cert) {
    TSha256 digest{};
    unsigned int len = 0;
    X509_digest(Cert, EVP_sha256(), digest.data(), &len);
    return digest;
}

// "CN=localhost, O=Example, C=CZ" (most specific first, UTF-8).
std::string SubjectText(X509* Cert) {
    BIO* out = BIO_new(BIO_s_mem());
    const unsigned long flags =
        (XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC;
    X509_NAME_print_ex(out, X509_get_subject_name(Cert), 0, flags);
    char* data = nullptr;
    const long n = BIO_get_mem_data(out, &data);
    std::string text(data, n > 0 ? static_cast<size_t>(n) : 0);
    BIO_free(out);
    return text;
}

TCertificateProblem ProblemOf(int VerifyError) {
    switch (VerifyError) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TCertificateProblem::NameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TCertificateProblem::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TCertificateProblem::NotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return TCertificateProblem::Untrusted;
    default:
        return TCertificateProblem::Other;
    }
}

class TOpenSslStream;
TOpenSslStream* StreamOf(SSL* Ssl) {
    return static_cast<TOpenSslStream*>(SSL_get_app_data(Ssl));
}

int KeepNewSession(SSL* Ssl, SSL_SESSION* Session);
int VerifyCertificate(X509_STORE_CTX* Store, void*);

class TOpenSslStream : public TTlsStream {
public:
    TOpenSslStream(sockapi::THandle Socket, std::shared_ptr<TTlsSession> Session, TTlsUse Use)
        : TTlsStream(Socket), Owner(std::move(Session)) {
        Bio.Socket = Socket;
        Ssl = SSL_new(Owner->Ctx);
        if (!Ssl)
            throw ETlsError("TLS: " + LibraryErrors());
        SSL_set_app_data(Ssl, this);
        BIO* bio = BIO_new(SocketBioMethod());
        BIO_set_data(bio, &Bio);
        SSL_set_bio(Ssl, bio, bio);
        // Partial writes report progress as send() does; a retry after a
        // would-block may come from another address (the same bytes).
        SSL_set_mode(Ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        const std::string& host = Owner->Peer.HostName;
        if (IsAddressLiteral(host)) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl), host.c_str());
        } else if (!host.empty()) {
            SSL_set_tlsext_host_name(Ssl, host.c_str());
            X509_VERIFY_PARAM_set_hostflags(SSL_get0_param(Ssl),
                                            X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            SSL_set1_host(Ssl, host.c_str());
        }
        if (Use == TTlsUse::Data)
            if (SSL_SESSION* offered = Owner->TakeNewest()) {
                SSL_set_session(Ssl, offered);
                SSL_SESSION_free(offered);
            }
    }

    ~TOpenSslStream() override { SSL_free(Ssl); }

    bool Handshake() override {
        ERR_clear_error();
        const int r = SSL_connect(Ssl);
        if (r == 1)
            return true;
        const int kind = SSL_get_error(Ssl, r);
        if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
            Fail(WSAEWOULDBLOCK,
                 kind == SSL_ERROR_WANT_READ ? sockapi::kReadable : sockapi::kWritable);
            return false;
        }
        const std::string library = LibraryErrors();
        if (!Refusal.empty())
            FailWith(kStreamCertificateRefused, Refusal);
        else if (Bio.Error != 0)
            Fail(Bio.Error);
        else if (Bio.Eof)
            FailWith(kStreamTlsFailed, "Server ukončil spojení během navazování TLS");
        else
            FailWith(kStreamTlsFailed,
                     "Navázání TLS se serverem selhalo" + (library.empty() ? "" : ": " + library));
        return false;
    }

    long Send(const char* Data, size_t Length) override {
        if (Length == 0)
            return 0;
        // Records gathered by an earlier call that had to wait: they are the
        // first bytes of Data, and count once the socket has taken them (a
        // read may have sent them meanwhile).
        if (!Bio.Out.empty() || !Gathered.empty()) {
            if (const long r = SendGathered(); r != 0)
                return r;
        }
        // Records for up to kWriteBatch bytes (the library makes one a call),
        // gathered and handed to the socket in one send(): a quarter of the
        // system calls and TCP segments of one send() per record.
        size_t taken = 0;
        int refused = 1;
        Bio.Gather = true;
        while (taken < Length && taken < kWriteBatch) {
            ERR_clear_error();
            const int r = SSL_write(Ssl, Data + taken,
                                    static_cast<int>(std::min<size_t>(Length - taken, INT_MAX)));
            if (r <= 0) {
                refused = r;
                break;
            }
            taken += static_cast<size_t>(r);
            Gathered.push_back({Bio.Out.size(), static_cast<size_t>(r)});
        }
        Bio.Gather = false;
        // Anything the library wrote goes out first, also before a failure
        // is reported (it may be waiting for the server's answer to it).
        if (const long r = SendGathered(); r != 0)
            return r;
        // The peer's close_notify ends its direction only; writing after it
        // is the peer's business to refuse.
        return Failed(refused);
    }

    long Receive(char* Data, size_t Length, bool Peek) override {
        if (Length == 0)
            return 0;
        if (!Peek && !Plain.empty())
            return Take(Data, Length);
        if (!Peek)
            return ReadRecord(Data, Length);
        // A peek keeps what it read; it reads more while less than asked waits.
        if (Plain.size() < Length) {
            const size_t room = std::min(Length - Plain.size(), kReadChunk);
            const size_t had = Plain.size();
            Plain.resize(had + room);
            const long n = ReadRecord(Plain.data() + had, room);
            Plain.resize(had + static_cast<size_t>(std::max<long>(n, 0)));
            if (Plain.empty())
                return n;
        }
        const size_t n = std::min(Length, Plain.size());
        std::memcpy(Data, Plain.data(), n);
        return static_cast<long>(n);
    }

    bool ShutdownSend() override {
        if (!NotifySent) {
            // close_notify follows every record (the BIO writes gathered
            // ones first).
            ERR_clear_error();
            const int r = SSL_shutdown(Ssl);
            if (r < 0) {
                Failed(r);
                return false;
            }
            NotifySent = true;
        }
        if (!sockapi::ShutdownSend(Sock)) {
            const int error = sockapi::LastError();
            Fail(error);
            if (IsPeerDrop(error))
                PeerEnd = TStreamEnd::Reset;
            return false;
        }
        return true;
    }

    bool Buffered() const override { return !Plain.empty() || SSL_pending(Ssl) > 0; }

    std::string Protocol() const override { return SSL_get_version(Ssl); }
    bool Resumed() const override { return SSL_session_reused(Ssl) == 1; }

    // Called by the library during the handshake (see VerifyCertificate).
    int Verify(X509_STORE_CTX* Store) {
        X509* cert = X509_STORE_CTX_get0_cert(Store);
        if (!cert)
            return 0;
        const TTlsPeer& peer = Owner->Peer;
        const TSha256 print = Fingerprint(cert);
        if (peer.Pin) {
            if (*peer.Pin == print)
                return 1;
            Refusal = CertificateRefusal(TCertificateProblem::PinMismatch, "", peer.HostName, print,
                                         SubjectText(cert));
            X509_STORE_CTX_set_error(Store, X509_V_ERR_APPLICATION_VERIFICATION);
            return 0;
        }
        if (X509_verify_cert(Store) == 1)
            return 1;
        const int error = X509_STORE_CTX_get_error(Store);
        Refusal = CertificateRefusal(ProblemOf(error), X509_verify_cert_error_string(error),
                                     peer.HostName, print, SubjectText(cert));
        return 0;
    }

    void KeepSession(SSL_SESSION* Session) { Owner->Keep(Session); }

private:
    static constexpr size_t kReadChunk = 65536;
    static constexpr size_t kWriteBatch = 65536;

    // One library write kept in Bio.Out: where it ends there, and how many
    // bytes of the caller's it holds.
    struct TGatheredRecord {
        size_t End;
        size_t Plain;
    };

    // The caller's bytes of the gathered records the socket has taken in
    // full; they are forgotten, the rest stays for the next call.
    size_t TakeSentRecords() {
        const size_t sent = Bio.Out.empty() ? SIZE_MAX : Bio.OutSent;
        size_t plain = 0, n = 0;
        while (n < Gathered.size() && Gathered[n].End <= sent)
            plain += Gathered[n++].Plain;
        if (n == Gathered.size()) {
            Gathered.clear();
        } else {
            // Out keeps all it holds until it is sent in full: the offsets stay.
            Gathered.erase(Gathered.begin(), Gathered.begin() + static_cast<long>(n));
        }
        return plain;
    }

    // Hands the gathered records to the socket: the caller's bytes of those
    // it has taken in full, or its failure or would-block (negative), or 0
    // when nothing was left to send.
    long SendGathered() {
        const int flushed = FlushGathered(Bio);
        if (const size_t done = TakeSentRecords(); done > 0)
            return static_cast<long>(done);
        if (flushed < 0)
            return SocketFailed();
        if (flushed == 0)
            return Fail(WSAEWOULDBLOCK, sockapi::kWritable);
        return 0;
    }

    // A failed send of gathered records; always -1.
    long SocketFailed() {
        if (IsPeerDrop(Bio.Error)) {
            PeerEnd = TStreamEnd::Reset;
            EndError = Bio.Error;
        }
        return Fail(Bio.Error);
    }

    long Take(char* Data, size_t Length) {
        const size_t n = std::min(Length, Plain.size());
        std::memcpy(Data, Plain.data(), n);
        Plain.erase(Plain.begin(), Plain.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }

    // Decrypted bytes into Data; 0 at the peer's end; -1 otherwise. Once an
    // end was seen it is reported again without asking the library.
    long ReadRecord(char* Data, size_t Length) {
        if (PeerEnd == TStreamEnd::Orderly || PeerEnd == TStreamEnd::WithoutCloseNotify)
            return 0;
        if (PeerEnd == TStreamEnd::Reset)
            return Fail(EndError);
        ERR_clear_error();
        const int r = SSL_read(Ssl, Data, static_cast<int>(std::min<size_t>(Length, INT_MAX)));
        if (r > 0)
            return r;
        const int kind = SSL_get_error(Ssl, r);
        if (kind == SSL_ERROR_ZERO_RETURN) {
            PeerEnd = TStreamEnd::Orderly;
            return 0;
        }
        const long n = Failed(r);
        return PeerEnd == TStreamEnd::WithoutCloseNotify ? 0 : n;
    }

    // Classifies a failed library call; always -1 (a TCP end without
    // close_notify counts as an abort for a writer).
    long Failed(int Result) {
        const int kind = SSL_get_error(Ssl, Result);
        if (kind == SSL_ERROR_WANT_READ)
            return Fail(WSAEWOULDBLOCK, sockapi::kReadable);
        if (kind == SSL_ERROR_WANT_WRITE)
            return Fail(WSAEWOULDBLOCK, sockapi::kWritable);
        const std::string library = LibraryErrors();
        if (Bio.Error != 0) {
            if (IsPeerDrop(Bio.Error)) {
                PeerEnd = TStreamEnd::Reset;
                EndError = Bio.Error;
            }
            return Fail(Bio.Error);
        }
        if (Bio.Eof) {
            PeerEnd = TStreamEnd::WithoutCloseNotify;
            return Fail(kConnectionAborted);
        }
        return FailWith(kStreamTlsFailed,
                        "Chyba TLS spojení" + (library.empty() ? "" : ": " + library));
    }

    std::shared_ptr<TTlsSession> Owner;
    TBioState Bio;
    SSL* Ssl = nullptr;
    std::vector<char> Plain;               // decrypted, peeked, not yet received
    std::vector<TGatheredRecord> Gathered; // in Bio.Out, not yet reported as sent
    std::string Refusal;
    bool NotifySent = false;
    int EndError = 0;
};

int KeepNewSession(SSL* Ssl, SSL_SESSION* Session) {
    TOpenSslStream* stream = StreamOf(Ssl);
    if (!stream)
        return 0; // the library frees it
    stream->KeepSession(Session);
    return 1; // ours now
}

int VerifyCertificate(X509_STORE_CTX* Store, void*) {
    SSL* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(Store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TOpenSslStream* stream = ssl ? StreamOf(ssl) : nullptr;
    return stream ? stream->Verify(Store) : 0;
}

} // namespace

TTlsSession::TTlsSession(const TTlsPeer& Peer) : Peer(Peer) {
    Ctx = SSL_CTX_new(TLS_client_method());
    if (!Ctx)
        throw ETlsError("TLS nelze připravit: " + LibraryErrors());
    SSL_CTX_set_min_proto_version(Ctx, TLS1_2_VERSION);
    if (!Peer.Pin && SSL_CTX_set_default_verify_paths(Ctx) != 1) {
        SSL_CTX_free(Ctx);
        throw ETlsError("Nelze načíst důvěryhodné kořenové certifikáty systému: " +
                        LibraryErrors());
    }
    // The whole check is ours (pin or chain and name), so that a refusal
    // can name the presented certificate; a refusal aborts the handshake.
    SSL_CTX_set_verify(Ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(Ctx, VerifyCertificate, nullptr);
    // Sessions are offered by hand (SSL_set_session), never looked up.
    SSL_CTX_set_session_cache_mode(Ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(Ctx, KeepNewSession);
}

TTlsSession::~TTlsSession() {
    for (SSL_SESSION* kept : Kept)
        SSL_SESSION_free(kept);
    SSL_CTX_free(Ctx);
}

void TTlsSession::Keep(SSL_SESSION* Session) {
    constexpr size_t kMostKept = 8;
    Issued = true;
    if (Kept.size() == kMostKept) {
        SSL_SESSION_free(Kept.front());
        Kept.erase(Kept.begin());
    }
    Kept.push_back(Session);
}

SSL_SESSION* TTlsSession::TakeNewest() {
    if (Kept.empty())
        return nullptr;
    SSL_SESSION* newest = Kept.back();
    if (SSL_SESSION_get_protocol_version(newest) == TLS1_3_VERSION)
        Kept.pop_back(); // the caller's reference is the one kept
    else
        SSL_SESSION_up_ref(newest);
    return newest;
}

bool TlsSessionsUsedUp(const TTlsSession& Session) {
    return Session.Issued && Session.Kept.empty();
}

std::shared_ptr<TTlsSession> NewTlsSession(const TTlsPeer& Peer) {
    return std::make_shared<TTlsSession>(Peer);
}

std::unique_ptr<TTlsStream> NewTlsStream(sockapi::THandle Socket,
                                         std::shared_ptr<TTlsSession> Session, TTlsUse Use) {
    return std::make_unique<TOpenSslStream>(Socket, std::move(Session), Use);
}
