// The fake server's TLS with OpenSSL. The library works on memory BIOs;
// the bytes go through net/SocketApi (no SIGPIPE, bounded waits).
#include "tests/support/FakeFtpTls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <vector>

namespace testsupport {

namespace {

constexpr int kWouldBlock = 10035;
constexpr int kSliceMs = 20;

using Clock = std::chrono::steady_clock;

bool WaitFor(sockapi::THandle fd, short events, int ms) {
    std::vector<sockapi::TPollEntry> entry{{fd, events, 0}};
    return sockapi::Poll(entry, ms) > 0 && entry[0].Ready != 0;
}

int MsLeft(Clock::time_point until) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
}

std::string Errors() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text += std::string(text.empty() ? "" : "; ") + buf;
    }
    return text;
}

} // namespace

struct FakeTlsContext::Impl {
    SSL_CTX* ctx = nullptr;
    ~Impl() { SSL_CTX_free(ctx); }
};

struct FakeTlsConnection::Impl {
    SSL* ssl = nullptr;
    BIO* in = nullptr;  // socket -> library
    BIO* out = nullptr; // library -> socket
    sockapi::THandle fd = sockapi::kNoSocket;
    ~Impl() { SSL_free(ssl); } // frees the BIOs

    // Sends what the library wrote, within the deadline.
    bool Flush(Clock::time_point until) {
        char buf[16384];
        int n;
        while ((n = BIO_read(out, buf, sizeof buf)) > 0) {
            for (int done = 0; done < n;) {
                const long r = sockapi::Send(fd, buf + done, static_cast<size_t>(n - done));
                if (r > 0) {
                    done += static_cast<int>(r);
                } else if (r < 0 && sockapi::LastError() == kWouldBlock && MsLeft(until) > 0) {
                    WaitFor(fd, sockapi::kWritable, kSliceMs);
                } else {
                    return false;
                }
            }
        }
        return true;
    }

    // Hands what the socket has to the library: > 0, 0 at the end, -1 for
    // nothing within ms, -2 for a failure (reset).
    long Feed(int ms) {
        if (ms > 0 && !WaitFor(fd, sockapi::kReadable, ms))
            return -1;
        char buf[16384];
        const long n = sockapi::Receive(fd, buf, sizeof buf, false);
        if (n > 0)
            BIO_write(in, buf, static_cast<int>(n));
        else if (n == 0)
            BIO_set_mem_eof_return(in, 0);
        else if (sockapi::LastError() != kWouldBlock)
            return -2;
        return n < 0 ? -1 : n;
    }
};

std::unique_ptr<FakeTlsContext> FakeTlsContext::Make(std::string* whyNot) {
    std::unique_ptr<FakeTlsContext> c(new FakeTlsContext());
    c->impl_ = std::make_unique<Impl>();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    bool ok = key && cert && ctx;
    if (ok) {
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 2 * 86400);
        X509_set_version(cert, 2);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX v3;
        X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
        X509_EXTENSION* san =
            X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "DNS:localhost");
        ok = san && X509_add_ext(cert, san, -1) && X509_sign(cert, key, EVP_sha256()) > 0 &&
             SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
        X509_EXTENSION_free(san);
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    }
    if (ok) {
        unsigned char digest[32];
        unsigned int len = 0;
        X509_digest(cert, EVP_sha256(), digest, &len);
        static const char hex[] = "0123456789ABCDEF";
        for (unsigned i = 0; i < len; ++i) {
            if (i)
                c->fingerprint_ += ':';
            c->fingerprint_ += hex[digest[i] >> 4];
            c->fingerprint_ += hex[digest[i] & 15];
        }
        c->impl_->ctx = ctx;
        ctx = nullptr;
    } else {
        *whyNot = "cannot make a test certificate: " + Errors();
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    SSL_CTX_free(ctx);
    return ok ? std::move(c) : nullptr;
}

FakeTlsContext::~FakeTlsContext() = default;

std::unique_ptr<FakeTlsConnection> FakeTlsContext::Accept(sockapi::THandle fd, int timeoutMs,
                                                          const std::function<bool()>& stopping,
                                                          std::string* whyNot, bool resumable) {
    std::unique_ptr<FakeTlsConnection> c(new FakeTlsConnection());
    c->impl_ = std::make_unique<FakeTlsConnection::Impl>();
    FakeTlsConnection::Impl& t = *c->impl_;
    t.fd = fd;
    t.ssl = SSL_new(impl_->ctx);
    t.in = BIO_new(BIO_s_mem());
    t.out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(t.in, -1); // empty means "more to come"
    SSL_set_bio(t.ssl, t.in, t.out);
    SSL_set_accept_state(t.ssl);
    // Sessions of another context are never resumed.
    if (!resumable)
        SSL_set_session_id_context(t.ssl, reinterpret_cast<const unsigned char*>("fresh"), 5);
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_do_handshake(t.ssl);
        if (!t.Flush(until)) {
            *whyNot = "the client went away during the handshake";
            return nullptr;
        }
        if (r == 1)
            return c;
        if (SSL_get_error(t.ssl, r) != SSL_ERROR_WANT_READ) {
            *whyNot = "handshake failed: " + Errors();
            return nullptr;
        }
        long fed = -1;
        while (fed == -1 && MsLeft(until) > 0 && !stopping())
            fed = t.Feed(kSliceMs);
        if (fed == 0 || fed == -2) {
            *whyNot = fed == 0 ? "the client closed during the handshake"
                               : "the client reset the handshake";
            return nullptr;
        }
        if (fed < 0) {
            *whyNot = "no handshake from the client in time";
            return nullptr;
        }
    }
}

FakeTlsConnection::~FakeTlsConnection() = default;

long FakeTlsConnection::Read(char* buf, size_t len, int ms) {
    if (!end_.empty())
        return 0;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_read(impl_->ssl, buf, static_cast<int>(len));
        impl_->Flush(until); // session tickets, key updates
        if (r > 0)
            return r;
        const int kind = SSL_get_error(impl_->ssl, r);
        if (kind == SSL_ERROR_ZERO_RETURN) {
            end_ = "close_notify";
            return 0;
        }
        if (kind != SSL_ERROR_WANT_READ) {
            end_ = "eof"; // the memory BIO's end: the TCP end came first
            return 0;
        }
        const long fed = impl_->Feed(std::max(0, std::min(kSliceMs, MsLeft(until))));
        if (fed == -2) {
            end_ = "reset";
            return 0;
        }
        if (fed == -1 && MsLeft(until) <= 0)
            return -1;
    }
}

bool FakeTlsConnection::Pending() const {
    return SSL_pending(impl_->ssl) > 0 || BIO_ctrl_pending(impl_->in) > 0;
}

bool FakeTlsConnection::Write(const std::string& bytes, int timeoutMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ERR_clear_error();
    if (!bytes.empty() && SSL_write(impl_->ssl, bytes.data(), static_cast<int>(bytes.size())) <= 0)
        return false;
    return impl_->Flush(until);
}

void FakeTlsConnection::SendCloseNotify(int timeoutMs) {
    ERR_clear_error();
    SSL_shutdown(impl_->ssl);
    impl_->Flush(Clock::now() + std::chrono::milliseconds(timeoutMs));
}

bool FakeTlsConnection::Resumed() const {
    return SSL_session_reused(impl_->ssl) == 1;
}

} // namespace testsupport
