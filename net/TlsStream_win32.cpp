// TLS client streams with SChannel through SSPI (Windows, nothing to ship).
// The handshake tokens and records pass through buffers of our own over
// sockapi, so every step is non-blocking and a half-sent token simply waits
// for the socket. The certificate is checked by us (manual validation): the
// pin, or the system's chain engine with the SSL policy and the host name.
//
// Protocols: the crypto-agile SCH_CREDENTIALS leave TLS 1.3 to the system
// (Windows 11 and Server 2022 negotiate it) with everything below TLS 1.2
// disabled; where they are unknown the older SCHANNEL_CRED asks for TLS 1.2.
// Asking SCHANNEL_CRED for TLS 1.3 explicitly would fail on Wine and on
// older Windows, so it is never done. The negotiated version is checked.
#include "net/TlsStream.h"

#include "platform/Wide_win32.h"

#define SECURITY_WIN32
#include <bcrypt.h>
#include <security.h>
#include <subauth.h>
#include <wincrypt.h>

// SCH_CREDENTIALS and TLS_PARAMETERS (they need UNICODE_STRING, above).
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// SSPI's functions, from secur32.dll loaded at the first TLS session: a
// program that never uses TLS never loads it (under Wine, loading it starts
// Winsock in the process behind the socket layer's own start-up).
const SecurityFunctionTableW* Sspi() {
    static const SecurityFunctionTableW* table = [] {
        HMODULE dll = LoadLibraryExW(L"secur32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        const auto init = dll ? reinterpret_cast<INIT_SECURITY_INTERFACE_W>(reinterpret_cast<void*>(
                                    GetProcAddress(dll, "InitSecurityInterfaceW")))
                              : nullptr;
        return init ? init() : nullptr;
    }();
    return table;
}

} // namespace

class TTlsSession {
public:
    explicit TTlsSession(const TTlsPeer& Peer);
    ~TTlsSession() { Sspi()->FreeCredentialsHandle(&Cred); }
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    const TTlsPeer Peer;
    // The target name and the credentials handle key SChannel's session
    // cache: every stream of the session uses both, so data connections
    // resume the control connection's session.
    std::wstring Target;
    CredHandle Cred{};
};

namespace {

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_MANUAL_CRED_VALIDATION |
                                ISC_REQ_USE_SUPPLIED_CREDS;
constexpr DWORD kCredFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
constexpr size_t kReadChunk = 32768;
constexpr size_t kPlainLimit = 65536; // decrypted ahead at most
constexpr const char* kClosedDuringHandshake = "Server ukončil spojení během navazování TLS";

std::string StatusText(SECURITY_STATUS Status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(Status));
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(Status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n && text ? platform::FromWide(text, n) : "";
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? code : std::string(code) + " " + message;
}

TSha256 Sha256(const BYTE* Data, DWORD Length) {
    TSha256 digest{};
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0) {
        if (BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
            BCryptHashData(hash, const_cast<BYTE*>(Data), Length, 0);
            BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
            BCryptDestroyHash(hash);
        }
        BCryptCloseAlgorithmProvider(alg, 0);
    }
    return digest;
}

// "CN=localhost, O=Example, C=CZ" (most specific first).
std::string SubjectText(PCCERT_CONTEXT Cert) {
    CERT_NAME_BLOB* name = &Cert->pCertInfo->Subject;
    const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD n = CertNameToStrW(X509_ASN_ENCODING, name, flags, nullptr, 0);
    if (n <= 1)
        return "";
    std::wstring text(n, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, name, flags, text.data(), n);
    text.resize(n - 1);
    return platform::FromWide(text);
}

// The chain engine's verdict under the SSL policy for the host name: 0, or
// the policy's error (CERT_E_...).
DWORD ChainVerdict(PCCERT_CONTEXT Cert, std::wstring& Target) {
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    // The server's intermediate certificates come in the certificate's store.
    if (!CertGetCertificateChain(nullptr, Cert, nullptr, Cert->hCertStore, &para, 0, nullptr,
                                 &chain))
        return GetLastError() ? GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = Target.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    DWORD verdict = static_cast<DWORD>(CERT_E_CHAINING);
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        verdict = status.dwError;
    CertFreeCertificateChain(chain);
    return verdict;
}

TCertificateProblem ProblemOf(DWORD Verdict, PCCERT_CONTEXT Cert) {
    switch (Verdict) {
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return TCertificateProblem::NameMismatch;
    case static_cast<DWORD>(CERT_E_EXPIRED): {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return CompareFileTime(&now, &Cert->pCertInfo->NotBefore) < 0
                   ? TCertificateProblem::NotYetValid
                   : TCertificateProblem::Expired;
    }
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDCA):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
        return TCertificateProblem::Untrusted;
    default:
        return TCertificateProblem::Other;
    }
}

class TSchannelStream : public TTlsStream {
public:
    TSchannelStream(sockapi::THandle Socket, std::shared_ptr<TTlsSession> Session, TTlsUse Use)
        : TTlsStream(Socket), Owner(std::move(Session)), Use(Use) {}

    ~TSchannelStream() override {
        if (HaveContext)
            Sspi()->DeleteSecurityContext(&Context);
    }

    bool Handshake() override {
        if (Established)
            return true;
        for (;;) {
            if (!FlushOrFail())
                return false;
            if (ContextReady)
                return Finish();
            if (HaveContext && NeedInput) {
                const long n = ReadSocket();
                if (n == 0)
                    FailWith(kStreamTlsFailed, kClosedDuringHandshake);
                if (n <= 0)
                    return false;
            }
            if (!Exchange())
                return false;
        }
    }

    long Send(const char* Data, size_t Length) override {
        if (Length == 0)
            return 0;
        // Records made by an earlier call that had to wait: the caller gives
        // the same bytes again, which are taken once they are out (a read in
        // between may have sent them already).
        if (Out.size() > OutSent && !FlushOrFail())
            return -1;
        if (PendingPlain > 0) {
            const size_t n = std::min(PendingPlain, Length);
            PendingPlain = 0;
            return static_cast<long>(n);
        }
        Out.clear();
        OutSent = 0;
        // Records for up to 64 KiB in one go, sent together.
        size_t taken = 0;
        while (taken < Length && taken < kPlainLimit) {
            const size_t n = std::min<size_t>(Length - taken, Sizes.cbMaximumMessage);
            const size_t at = Out.size();
            Out.resize(at + Sizes.cbHeader + n + Sizes.cbTrailer);
            char* record = Out.data() + at;
            std::memcpy(record + Sizes.cbHeader, Data + taken, n);
            SecBuffer b[4] = {
                {Sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
                {static_cast<ULONG>(n), SECBUFFER_DATA, record + Sizes.cbHeader},
                {Sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + Sizes.cbHeader + n},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
            const SECURITY_STATUS status = Sspi()->EncryptMessage(&Context, 0, &desc, 0);
            if (status != SEC_E_OK) {
                Out.resize(at);
                if (taken == 0)
                    return FailWith(kStreamTlsFailed, "Chyba TLS spojení: " + StatusText(status));
                break;
            }
            Out.resize(at + b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
            taken += n;
        }
        if (!FlushOrFail()) {
            if (Error != WSAEWOULDBLOCK)
                return -1;
            PendingPlain = taken; // reported when the records are out
            return -1;
        }
        return static_cast<long>(taken);
    }

    long Receive(char* Data, size_t Length, bool Peek) override {
        if (Length == 0)
            return 0;
        if (Plain.empty() || (Peek && Plain.size() < Length))
            Fill();
        if (!Plain.empty()) {
            const size_t n = std::min(Length, Plain.size());
            std::memcpy(Data, Plain.data(), n);
            if (!Peek)
                Plain.erase(Plain.begin(), Plain.begin() + static_cast<long>(n));
            return static_cast<long>(n);
        }
        switch (PeerEnd) {
        case TStreamEnd::Orderly:
        case TStreamEnd::WithoutCloseNotify:
            return 0;
        case TStreamEnd::Reset:
            return Fail(EndError);
        default:
            return -1; // Fill set the error
        }
    }

    bool ShutdownSend() override {
        if (!NotifyMade) {
            if (Out.size() > OutSent && !FlushOrFail())
                return false;
            PendingPlain = 0;
            Out.clear();
            OutSent = 0;
            DWORD type = SCHANNEL_SHUTDOWN;
            SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
            SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
            Sspi()->ApplyControlToken(&Context, &controlDesc);
            SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
            SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
            ULONG attributes = 0;
            Sspi()->InitializeSecurityContextW(&Owner->Cred, &Context, Owner->Target.data(),
                                               kContextFlags, 0, 0, nullptr, 0, &Context,
                                               &tokenDesc, &attributes, nullptr);
            TakeToken(token);
            NotifyMade = true;
        }
        if (!FlushOrFail())
            return false;
        if (!sockapi::ShutdownSend(Sock)) {
            const int error = sockapi::LastError();
            Fail(error);
            if (IsPeerDrop(error))
                SetReset(error);
            return false;
        }
        return true;
    }

    bool Buffered() const override { return !Plain.empty(); }

    std::string Protocol() const override {
        if (Protocols & SP_PROT_TLS1_3_CLIENT)
            return "TLSv1.3";
        if (Protocols & SP_PROT_TLS1_2_CLIENT)
            return "TLSv1.2";
        return "";
    }

    bool Resumed() const override { return WasResumed; }

private:
    // Sends what waits in Out: true when all is out; false with the error
    // (would-block: wait for writable).
    bool FlushOrFail() {
        while (OutSent < Out.size()) {
            const long n = sockapi::Send(Sock, Out.data() + OutSent, Out.size() - OutSent);
            if (n > 0) {
                OutSent += static_cast<size_t>(n);
                continue;
            }
            const int error = n < 0 ? sockapi::LastError() : WSAEWOULDBLOCK;
            if (error == WSAEWOULDBLOCK) {
                Fail(error, sockapi::kWritable);
            } else {
                Fail(error);
                if (IsPeerDrop(error))
                    SetReset(error);
            }
            return false;
        }
        Out.clear();
        OutSent = 0;
        return true;
    }

    // Appends what the socket has to In: > 0 bytes, 0 at the TCP end, < 0
    // with the error (would-block: wait for readable).
    long ReadSocket() {
        const size_t at = In.size();
        In.resize(at + kReadChunk);
        const long n = sockapi::Receive(Sock, In.data() + at, kReadChunk, false);
        In.resize(at + static_cast<size_t>(std::max<long>(n, 0)));
        if (n > 0) {
            NeedInput = false;
            return n;
        }
        if (n == 0)
            return 0;
        const int error = sockapi::LastError();
        const bool writing = Out.size() > OutSent;
        if (error == WSAEWOULDBLOCK)
            Fail(error,
                 static_cast<short>(sockapi::kReadable | (writing ? sockapi::kWritable : 0)));
        else {
            Fail(error);
            if (IsPeerDrop(error))
                SetReset(error);
        }
        return -1;
    }

    void SetReset(int Winsock) {
        if (PeerEnd == TStreamEnd::Open) {
            PeerEnd = TStreamEnd::Reset;
            EndError = Winsock;
        }
    }

    void TakeToken(SecBuffer& Token) {
        if (Token.pvBuffer && Token.cbBuffer) {
            const char* bytes = static_cast<const char*>(Token.pvBuffer);
            Out.insert(Out.end(), bytes, bytes + Token.cbBuffer);
        }
        if (Token.pvBuffer)
            Sspi()->FreeContextBuffer(Token.pvBuffer);
        Token.pvBuffer = nullptr;
    }

    // Keeps the unread tail of In that a call reported as extra.
    void KeepExtra(const SecBuffer& Extra) {
        if (Extra.BufferType == SECBUFFER_EXTRA && Extra.cbBuffer > 0 &&
            Extra.cbBuffer <= In.size()) {
            In.erase(In.begin(), In.end() - Extra.cbBuffer);
        } else {
            In.clear();
        }
    }

    // One call of InitializeSecurityContext on what In holds (the first one
    // on nothing); false when the handshake failed.
    bool Exchange() {
        SecBuffer input[2] = {{static_cast<ULONG>(In.size()), SECBUFFER_TOKEN, In.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
        ULONG attributes = 0;
        const SECURITY_STATUS status = Sspi()->InitializeSecurityContextW(
            &Owner->Cred, HaveContext ? &Context : nullptr, Owner->Target.data(), kContextFlags, 0,
            0, HaveContext ? &inputDesc : nullptr, 0, &Context, &tokenDesc, &attributes, nullptr);
        const bool first = !HaveContext;
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK))
            HaveContext = true;
        TakeToken(token);
        switch (status) {
        case SEC_E_OK:
            if (!first)
                KeepExtra(input[1]);
            ContextReady = true;
            return true;
        case SEC_I_CONTINUE_NEEDED:
            if (!first)
                KeepExtra(input[1]);
            NeedInput = In.empty();
            return true;
        case SEC_E_INCOMPLETE_MESSAGE:
            NeedInput = true;
            return true;
        case SEC_I_INCOMPLETE_CREDENTIALS:
            // The server asks for a client certificate: there is none, so the
            // next call goes on without one.
            return true;
        default:
            FlushOrFail(); // the alert, if there is one
            FailWith(kStreamTlsFailed, "Navázání TLS se serverem selhalo: " + StatusText(status));
            return false;
        }
    }

    // After the last token went out: sizes, version, certificate.
    bool Finish() {
        if (Renegotiating) {
            Renegotiating = false;
            ContextReady = false;
            Established = true;
            return true;
        }
        Sspi()->QueryContextAttributesW(&Context, SECPKG_ATTR_STREAM_SIZES, &Sizes);
        SecPkgContext_ConnectionInfo info{};
        if (Sspi()->QueryContextAttributesW(&Context, SECPKG_ATTR_CONNECTION_INFO, &info) ==
            SEC_E_OK)
            Protocols = info.dwProtocol;
        if (!(Protocols & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT))) {
            FailWith(kStreamTlsFailed, "Server nabízí jen zastaralou verzi TLS (nejméně 1.2)");
            return false;
        }
        SecPkgContext_SessionInfo session{};
        WasResumed = Sspi()->QueryContextAttributesW(&Context, SECPKG_ATTR_SESSION_INFO,
                                                     &session) == SEC_E_OK &&
                     (session.dwFlags & SSL_SESSION_RECONNECT);
        if (!CheckCertificate())
            return false;
        Established = true;
        ContextReady = false;
        DecryptAll(); // records that came with the last handshake message
        return true;
    }

    bool CheckCertificate() {
        PCCERT_CONTEXT cert = nullptr;
        if (Sspi()->QueryContextAttributesW(&Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) !=
                SEC_E_OK ||
            !cert) {
            // A resumed session shows no certificate: it was checked when
            // the session was made.
            if (WasResumed && Use == TTlsUse::Data)
                return true;
            FailWith(kStreamTlsFailed, "Server nepředložil certifikát");
            return false;
        }
        const TTlsPeer& peer = Owner->Peer;
        const TSha256 print = Sha256(cert->pbCertEncoded, cert->cbCertEncoded);
        bool accepted = false;
        if (peer.Pin) {
            accepted = *peer.Pin == print;
            if (!accepted)
                FailWith(kStreamCertificateRefused,
                         CertificateRefusal(TCertificateProblem::PinMismatch, "", peer.HostName,
                                            print, SubjectText(cert)));
        } else {
            const DWORD verdict = ChainVerdict(cert, Owner->Target);
            accepted = verdict == 0;
            if (!accepted)
                FailWith(kStreamCertificateRefused,
                         CertificateRefusal(ProblemOf(verdict, cert),
                                            StatusText(static_cast<SECURITY_STATUS>(verdict)),
                                            peer.HostName, print, SubjectText(cert)));
        }
        CertFreeCertificateContext(cert);
        return accepted;
    }

    // Decrypts every whole record in In into Plain; stops at a partial one,
    // at the peer's close_notify, or at a renegotiation (post-handshake
    // messages of TLS 1.3: session tickets, key updates). False on failure.
    bool DecryptAll() {
        while (!In.empty() && !Renegotiating && PeerEnd == TStreamEnd::Open &&
               Plain.size() < kPlainLimit) {
            SecBuffer b[4] = {{static_cast<ULONG>(In.size()), SECBUFFER_DATA, In.data()},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
            // A TLS 1.2 record's type stands in the clear: 21 is an alert.
            const bool alert = static_cast<unsigned char>(In[0]) == 21;
            const SECURITY_STATUS status = Sspi()->DecryptMessage(&Context, &desc, 0, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE)
                return true;
            if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE &&
                status != SEC_I_CONTEXT_EXPIRED) {
                if (NotifyMade) {
                    // Our close_notify has ended the context for reading:
                    // what still comes is dropped, its end judged by TCP.
                    Discarding = true;
                    In.clear();
                    return true;
                }
                FailWith(kStreamTlsFailed, "Chyba TLS spojení: " + StatusText(status));
                return false;
            }
            const SecBuffer* extra = nullptr;
            size_t data = 0;
            for (const SecBuffer& buffer : b) {
                if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
                    const char* bytes = static_cast<const char*>(buffer.pvBuffer);
                    Plain.insert(Plain.end(), bytes, bytes + buffer.cbBuffer);
                    data += buffer.cbBuffer;
                } else if (buffer.BufferType == SECBUFFER_EXTRA) {
                    extra = &buffer;
                }
            }
            if (extra)
                KeepExtra(*extra);
            else
                In.clear();
            // Windows says close_notify with SEC_I_CONTEXT_EXPIRED; Wine
            // decrypts the alert to nothing and says SEC_E_OK (fatal alerts
            // fail the call on both).
            if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && data == 0))
                PeerEnd = TStreamEnd::Orderly;
            if (status == SEC_I_RENEGOTIATE) {
                Renegotiating = true;
                Established = false;
                NeedInput = In.empty();
            }
        }
        return true;
    }

    // Takes what can be had without waiting: our pending output, the
    // renegotiation, the socket's bytes, decrypted. Sets the error when it
    // ends without new input.
    void Fill() {
        for (;;) {
            if (PeerEnd != TStreamEnd::Open || Plain.size() >= kPlainLimit)
                return;
            if (Out.size() > OutSent && !FlushOrFail() && Error != WSAEWOULDBLOCK)
                return;
            if (Renegotiating) {
                if (Out.size() > OutSent)
                    return; // the answer goes out first
                if (ContextReady) {
                    Finish();
                    continue;
                }
                if (!NeedInput) {
                    if (!Exchange())
                        return;
                    continue;
                }
            } else if (!Discarding) {
                const size_t before = Plain.size();
                if (!DecryptAll())
                    return;
                if (Plain.size() > before || PeerEnd != TStreamEnd::Open)
                    return;
                if (Renegotiating)
                    continue;
            } else {
                In.clear();
            }
            const long n = ReadSocket();
            if (n == 0) {
                if (PeerEnd == TStreamEnd::Open)
                    PeerEnd = TStreamEnd::WithoutCloseNotify;
                return;
            }
            if (n < 0)
                return;
        }
    }

    std::shared_ptr<TTlsSession> Owner;
    TTlsUse Use;
    CtxtHandle Context{};
    bool HaveContext = false;
    bool ContextReady = false; // the last call said SEC_E_OK
    bool NeedInput = true;     // the next call needs more of the server's bytes
    bool Established = false;
    bool Renegotiating = false;
    bool NotifyMade = false;
    bool Discarding = false;
    bool WasResumed = false;
    DWORD Protocols = 0;
    SecPkgContext_StreamSizes Sizes{};
    std::vector<char> In;  // received, not yet decrypted
    std::vector<char> Out; // tokens and records not yet sent
    size_t OutSent = 0;
    size_t PendingPlain = 0; // plaintext of records in Out not yet reported to Send
    std::vector<char> Plain; // decrypted, not yet received
    int EndError = 0;
};

} // namespace

TTlsSession::TTlsSession(const TTlsPeer& Peer) : Peer(Peer) {
    if (!Sspi())
        throw ETlsError("TLS nelze připravit (SChannel): secur32.dll nelze načíst");
    const std::optional<std::wstring> target = platform::ToWide(Peer.HostName);
    if (!target)
        throw ETlsError("Název serveru \"" + Peer.HostName + "\" není platný text");
    Target = *target;
    TimeStamp expiry{};
    TLS_PARAMETERS tls{};
    tls.grbitDisabledProtocols =
        SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &tls;
    SECURITY_STATUS status = Sspi()->AcquireCredentialsHandleW(
        nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &modern,
        nullptr, nullptr, &Cred, &expiry);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        older.dwFlags = kCredFlags;
        status = Sspi()->AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                                   SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr,
                                                   nullptr, &Cred, &expiry);
    }
    if (status != SEC_E_OK)
        throw ETlsError("TLS nelze připravit (SChannel): " + StatusText(status));
}

bool TlsSessionsUsedUp(const TTlsSession&) {
    return false; // SChannel's own cache decides, keyed on the credentials and the target
}

std::shared_ptr<TTlsSession> NewTlsSession(const TTlsPeer& Peer) {
    return std::make_shared<TTlsSession>(Peer);
}

std::unique_ptr<TTlsStream> NewTlsStream(sockapi::THandle Socket,
                                         std::shared_ptr<TTlsSession> Session, TTlsUse Use) {
    return std::make_unique<TSchannelStream>(Socket, std::move(Session), Use);
}
