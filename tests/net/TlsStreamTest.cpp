// TLS client streams against TLS servers on 127.0.0.1 (tls_peer.py, with a
// throwaway self-signed certificates): handshake, certificates pinned,
// trusted or refused, faults during the handshake, the peer's three ends,
// the end of an upload, decrypted bytes that wait, session resumption.
// The stream is driven as the connection layer's waits drive it: a call, and
// on would-block a wait for what the stream wants.
#include "net/TlsStream.h"
#include "TlsPeer.h"
#include "TrustedRoot.h"
#include "net/SockError.h"
#include "net/SocketEvents.h"
#include "tests/support/System.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// One socket's readiness within ms (a poll may return early: Windows caps it).
bool WaitFor(sockapi::THandle fd, short events, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        std::vector<sockapi::TPollEntry> entry{{fd, events, 0}};
        if (sockapi::Poll(entry, ms) > 0 && entry[0].Ready != 0)
            return true;
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

// A connected non-blocking socket to 127.0.0.1:port, closed with the object.
class Connection {
public:
    explicit Connection(int port) {
        sockapi::AddUser();
        fd_ = sockapi::OpenStream();
        uint32_t addr = 0;
        sockapi::ParseDotted("127.0.0.1", addr);
        if (sockapi::Connect(fd_, addr, sockapi::HostToNet16(static_cast<uint16_t>(port))) != 0 ||
            !WaitFor(fd_, sockapi::kWritable, 5000) || sockapi::PendingError(fd_) != 0) {
            sockapi::Close(fd_);
            fd_ = sockapi::kNoSocket;
        }
    }
    ~Connection() {
        stream.reset();
        if (fd_ != sockapi::kNoSocket)
            sockapi::Close(fd_);
        sockapi::RemoveUser();
    }
    sockapi::THandle Fd() const { return fd_; }
    std::unique_ptr<TTlsStream> stream;

private:
    sockapi::THandle fd_ = sockapi::kNoSocket;
};

enum class Outcome { Done, Failed, TimedOut };

// Calls step until it is true, fails with more than would-block, or the
// caller's deadline passes; between calls waits (2 ms a pass, as the
// connection layer does) for what the stream wants. longestCallMs: the
// longest single call.
template <class Step>
Outcome Drive(TStream& s, int deadlineMs, Step step, double* longestCallMs = nullptr) {
    const auto start = Clock::now();
    for (;;) {
        const auto call = Clock::now();
        const bool done = step();
        if (longestCallMs)
            *longestCallMs = std::max(*longestCallMs, MsSince(call));
        if (done)
            return Outcome::Done;
        if (s.LastError() != WSAEWOULDBLOCK)
            return Outcome::Failed;
        if (MsSince(start) > deadlineMs)
            return Outcome::TimedOut;
        if (!s.Buffered())
            WaitFor(s.Socket(), s.Wanted(), 2);
    }
}

Outcome Handshake(TTlsStream& s, int deadlineMs = 10000, double* longestCallMs = nullptr) {
    return Drive(
        s, deadlineMs, [&] { return s.Handshake(); }, longestCallMs);
}

// After a send had to wait, input is probed with a peek before the send is
// made again, as the connection layer's socket watcher does.
bool SendAll(TStream& s, const std::string& bytes) {
    size_t done = 0;
    bool waited = false;
    return Drive(s, 20000, [&] {
               while (done < bytes.size()) {
                   char probe;
                   if (waited)
                       s.Receive(&probe, 1, true);
                   const long n = s.Send(bytes.data() + done, bytes.size() - done);
                   waited = n <= 0;
                   if (waited)
                       return false;
                   done += static_cast<size_t>(n);
               }
               return true;
           }) == Outcome::Done;
}

// Reads until the peer's end or a failure; the last result (0 or -1) in *last.
std::string ReadToEnd(TStream& s, long* last) {
    std::string got;
    Drive(s, 20000, [&] {
        char buf[16384];
        const long n = s.Receive(buf, sizeof buf, false);
        *last = n;
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
        return n == 0;
    });
    return got;
}

std::string ReadSome(TStream& s, size_t count) {
    std::string got;
    Drive(s, 10000, [&] {
        char buf[256];
        const long n = s.Receive(buf, std::min(sizeof buf, count - got.size()), false);
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
        return got.size() >= count || n == 0;
    });
    return got;
}

class TlsStreamTest : public ::testing::Test {
protected:
    // The peer's other certificate is a trusted root for the whole suite,
    // from before any chain is built (Wine's chain engine keeps the roots it
    // read first).
    static void SetUpTestSuite() {
        std::string why;
        peer = nettest::TlsPeer::Start(&why).release();
        startProblem = why;
        if (peer)
            trust =
                nettest::TrustedRoot::Add(peer->Other().pemPath, peer->Other().der, &whyUntrusted)
                    .release();
    }
    static void TearDownTestSuite() {
        delete trust;
        trust = nullptr;
        delete peer;
        peer = nullptr;
    }
    void SetUp() override { ASSERT_NE(peer, nullptr) << startProblem; }

    // A connection to a fresh listener of the peer, with a TLS stream.
    std::unique_ptr<Connection> Open(const std::string& mode, std::shared_ptr<TTlsSession> session,
                                     TTlsUse use = TTlsUse::Control,
                                     const std::string& version = "any", bool trusted = false) {
        const int port = peer->Serve(mode, version, trusted);
        EXPECT_NE(port, 0);
        auto c = std::make_unique<Connection>(port);
        EXPECT_NE(c->Fd(), sockapi::kNoSocket);
        c->stream = NewTlsStream(c->Fd(), std::move(session), use);
        return c;
    }
    static std::shared_ptr<TTlsSession> Pinned() {
        return NewTlsSession({"localhost", ParseCertificatePin(peer->Main().fingerprint)});
    }

    static nettest::TlsPeer* peer;
    static std::string startProblem;
    static nettest::TrustedRoot* trust;
    static std::string whyUntrusted;
};
nettest::TlsPeer* TlsStreamTest::peer = nullptr;
std::string TlsStreamTest::startProblem;
nettest::TrustedRoot* TlsStreamTest::trust = nullptr;
std::string TlsStreamTest::whyUntrusted;

} // namespace

TEST(TlsPin, ParsesTheSettingStrictly) {
    const std::string fp = "3B:0C:54:7A:9F:E2:11:D0:68:A4:C3:5E:07:BB:92:4F:"
                           "10:6D:E8:AA:21:F3:9C:05:74:DB:3E:81:C6:5A:0F:9E";
    const TSha256 digest = *ParseCertificatePin(fp);
    EXPECT_EQ(FormatFingerprint(digest), fp);
    std::string lower;
    for (char c : fp)
        if (c != ':')
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    struct Row {
        std::string text;
        bool pin;
    };
    const Row accepted[] = {{"", false},
                            {"  \t", false},
                            {fp, true},
                            {lower, true},
                            {" " + fp + "\r\n", true},
                            {"sha256 Fingerprint=" + fp, true},
                            {"SHA256 Fingerprint=" + lower, true}};
    for (const Row& row : accepted) {
        const auto pin = ParseCertificatePin(row.text);
        EXPECT_EQ(pin.has_value(), row.pin) << row.text;
        if (pin) {
            EXPECT_EQ(*pin, digest) << row.text;
        }
    }
    const std::string refused[] = {fp.substr(0, fp.size() - 1),
                                   fp + "0",
                                   fp + ":00",
                                   "ZZ" + fp.substr(2),
                                   "3B 0C" + fp.substr(5),
                                   "sha1 Fingerprint=" + fp,
                                   "-"};
    for (const std::string& text : refused)
        EXPECT_THROW(ParseCertificatePin(text), ETlsError) << text;
}

TEST_F(TlsStreamTest, HandshakeEchoAndTheEndOfAnUpload) {
    auto c = Open("echo", Pinned());
    ASSERT_EQ(Handshake(*c->stream), Outcome::Done) << c->stream->FailureText();
    const std::string protocol = c->stream->Protocol();
    EXPECT_EQ(protocol, testsupport::OnWindows() ? "TLSv1.2" : "TLSv1.3");
    ASSERT_TRUE(SendAll(*c->stream, "ping\r\n"));
    EXPECT_EQ(ReadSome(*c->stream, 6), "ping\r\n");
    ASSERT_EQ(Drive(*c->stream, 5000, [&] { return c->stream->ShutdownSend(); }), Outcome::Done);
    long last = 1;
    EXPECT_EQ(ReadToEnd(*c->stream, &last), "");
    EXPECT_EQ(last, 0);
    EXPECT_EQ(c->stream->End(), TStreamEnd::Orderly);
    const auto report = peer->Wait();
    EXPECT_EQ(report.at("end"), "notify");
    EXPECT_EQ(report.at("bytes"), "6");
}

// Many records to a server that reads to our close_notify and answers with
// its own, and (TLS 1.3) has sent session tickets nobody asked for: nothing
// may be lost when the client ends, nothing sent twice when the sending had
// to wait for the server.
TEST_F(TlsStreamTest, UploadEndsWithCloseNotifyAndReadsToTheServersEnd) {
    auto c = Open("slowsink", Pinned(), TTlsUse::Data);
    ASSERT_EQ(Handshake(*c->stream), Outcome::Done) << c->stream->FailureText();
    const std::string data(16 * 1048576 + 1234, 'x');
    ASSERT_TRUE(SendAll(*c->stream, data));
    ASSERT_EQ(Drive(*c->stream, 5000, [&] { return c->stream->ShutdownSend(); }), Outcome::Done);
    long last = 1;
    EXPECT_EQ(ReadToEnd(*c->stream, &last), "");
    EXPECT_EQ(c->stream->End(), TStreamEnd::Orderly);
    const auto report = peer->Wait();
    EXPECT_EQ(report.at("bytes"), std::to_string(data.size()));
    EXPECT_EQ(report.at("end"), "notify");
}

// CRC-32 (zlib's) as hex, to compare with the peer's report.
std::string Crc32(const std::string& Bytes) {
    uint32_t crc = 0xffffffffu;
    for (const unsigned char b : Bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", crc ^ 0xffffffffu);
    return hex;
}

// A send gathers its records for one send(); when the socket takes part of
// them, the rest goes out with the next call, which is given the same bytes
// again. Sends of uneven lengths to a server that pauses first: every byte
// arrives once and in order.
TEST_F(TlsStreamTest, GatheredRecordsArriveOnceAndInOrder) {
    auto c = Open("slowsink", Pinned(), TTlsUse::Data);
    ASSERT_EQ(Handshake(*c->stream), Outcome::Done) << c->stream->FailureText();
    std::string data(12 * 1048576 + 777, '\0');
    uint32_t x = 12345;
    for (char& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 24);
    }
    const size_t pieces[] = {1, 70000, 16384, 5, 65536, 16385, 131072, 40000};
    size_t done = 0;
    for (size_t i = 0; done < data.size(); ++i) {
        const std::string piece = data.substr(done, pieces[i % std::size(pieces)]);
        ASSERT_TRUE(SendAll(*c->stream, piece)) << "at " << done;
        done += piece.size();
    }
    ASSERT_EQ(Drive(*c->stream, 5000, [&] { return c->stream->ShutdownSend(); }), Outcome::Done);
    long last = 1;
    EXPECT_EQ(ReadToEnd(*c->stream, &last), "");
    const auto report = peer->Wait();
    EXPECT_EQ(report.at("bytes"), std::to_string(data.size()));
    EXPECT_EQ(report.at("crc32"), Crc32(data));
    EXPECT_EQ(report.at("end"), "notify");
}

struct CertificateRow {
    const char* name;
    const char* pin; // "right", "wrong" or "" (the system's trust)
    const char* host;
    bool trusted;        // the peer's certificate made a trusted root
    const char* refusal; // "" when accepted, else a part of the text
};

class TlsCertificate : public TlsStreamTest,
                       public ::testing::WithParamInterface<CertificateRow> {};

TEST_P(TlsCertificate, AcceptsOrRefusesWithFingerprintAndSubject) {
    const CertificateRow& row = GetParam();
    std::optional<TSha256> pin;
    const nettest::TlsPeer::Certificate& cert = row.trusted ? peer->Other() : peer->Main();
    if (std::string(row.pin) == "right" || std::string(row.pin) == "wrong")
        pin = ParseCertificatePin(cert.fingerprint);
    if (std::string(row.pin) == "wrong")
        (*pin)[0] ^= 0x55;
    if (row.trusted && !trust)
        GTEST_SKIP() << whyUntrusted;
    auto session = NewTlsSession({row.host, pin});
    auto c = Open("echo", session, TTlsUse::Control, "any", row.trusted);
    const Outcome outcome = Handshake(*c->stream);
    if (*row.refusal == '\0') {
        EXPECT_EQ(outcome, Outcome::Done) << c->stream->FailureText();
        return;
    }
    ASSERT_EQ(outcome, Outcome::Failed);
    EXPECT_EQ(c->stream->LastError(), kStreamCertificateRefused);
    const std::string text = c->stream->FailureText();
    EXPECT_NE(text.find(row.refusal), std::string::npos) << text;
    EXPECT_NE(text.find("Otisk SHA-256: " + cert.fingerprint), std::string::npos) << text;
    EXPECT_NE(text.find("subjekt: CN=localhost"), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TlsCertificate,
    ::testing::Values(
        // A pin stands for itself: issuer and name do not count.
        CertificateRow{"PinnedWhateverTheName", "right", "other.example", false, ""},
        CertificateRow{"WrongPin", "wrong", "localhost", false, "otisk není nastavený otisk"},
        CertificateRow{"UntrustedSelfSigned", "", "localhost", false,
                       "není vydán důvěryhodnou certifikační autoritou"},
        CertificateRow{"TrustedAndNamed", "", "localhost", true, ""},
        CertificateRow{"TrustedOtherName", "", "other.example", true,
                       "nepatří serveru other.example"},
        CertificateRow{"TrustedAddressNotInIt", "", "127.0.0.1", true,
                       "nepatří serveru 127.0.0.1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct HandshakeFaultRow {
    const char* name;
    const char* mode;
    Outcome outcome;
    int error; // LastError() after a failure
};

class TlsHandshakeFault : public TlsStreamTest,
                          public ::testing::WithParamInterface<HandshakeFaultRow> {};

// The caller's deadline (300 ms here) ends a silent server's handshake: the
// engine only ever answers "want to read", at once.
TEST_P(TlsHandshakeFault, EndsAsTheServerOrTheDeadlineSays) {
    const HandshakeFaultRow& row = GetParam();
    auto c = Open(row.mode, Pinned());
    double longest = 0;
    const auto start = Clock::now();
    EXPECT_EQ(Handshake(*c->stream, 300, &longest), row.outcome);
    EXPECT_LT(longest, 100) << "a handshake step waited";
    if (row.outcome == Outcome::TimedOut) {
        EXPECT_LT(MsSince(start), 2000);
        EXPECT_EQ(c->stream->Wanted(), sockapi::kReadable);
    }
    EXPECT_EQ(c->stream->LastError(), row.error) << c->stream->FailureText();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TlsHandshakeFault,
    ::testing::Values(HandshakeFaultRow{"Reset", "hsreset", Outcome::Failed, 10054},
                      HandshakeFaultRow{"Closed", "hsclose", Outcome::Failed, kStreamTlsFailed},
                      HandshakeFaultRow{"Silent", "silent", Outcome::TimedOut, WSAEWOULDBLOCK}),
    [](const auto& info) { return std::string(info.param.name); });

struct PeerEndRow {
    const char* mode;
    long last; // the last Receive result
    TStreamEnd end;
};

class TlsPeerEnd : public TlsStreamTest, public ::testing::WithParamInterface<PeerEndRow> {};

TEST_P(TlsPeerEnd, CloseNotifyBareEndAndResetAreToldApart) {
    const PeerEndRow& row = GetParam();
    auto c = Open(row.mode, Pinned());
    ASSERT_EQ(Handshake(*c->stream), Outcome::Done) << c->stream->FailureText();
    EXPECT_EQ(ReadSome(*c->stream, 6), "hello\n");
    ASSERT_TRUE(SendAll(*c->stream, "x"));
    long last = 1;
    EXPECT_EQ(ReadToEnd(*c->stream, &last), "");
    EXPECT_EQ(last, row.last);
    EXPECT_EQ(c->stream->End(), row.end);
    if (row.last < 0) {
        EXPECT_EQ(c->stream->LastError(), 10054);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TlsPeerEnd,
                         ::testing::Values(PeerEndRow{"notify", 0, TStreamEnd::Orderly},
                                           PeerEndRow{"fin", 0, TStreamEnd::WithoutCloseNotify},
                                           PeerEndRow{"reset", -1, TStreamEnd::Reset}),
                         [](const auto& info) { return std::string(info.param.mode); });

// A socket watcher as the connection's: it reports what its stream holds.
class StreamWatcher : public sockevents::TWatcher {
public:
    explicit StreamWatcher(TStream& s) : stream(s) { sockevents::Register(this); }
    ~StreamWatcher() override { sockevents::Unregister(this); }
    sockapi::THandle WatchedFd() const override { return stream.Socket(); }
    short WatchedEvents() const override { return sockapi::kReadable; }
    void Notify(short revents) override { got |= revents; }
    bool Buffered() const override { return stream.Buffered(); }
    TStream& stream;
    short got = 0;
};

// The rest of a record that was read in part waits inside the stream, not on
// the socket: a wait for input must not sleep then, and the delivery of
// socket events notifies the read at once.
TEST_F(TlsStreamTest, DecryptedBytesThatWaitCountAsReadable) {
    auto c = Open("twolines", Pinned());
    ASSERT_EQ(Handshake(*c->stream), Outcome::Done) << c->stream->FailureText();
    EXPECT_EQ(ReadSome(*c->stream, 5), "one\r\n");
    EXPECT_TRUE(c->stream->Buffered());
    EXPECT_FALSE(WaitFor(c->Fd(), sockapi::kReadable, 50)) << "the socket has it after all";
    {
        StreamWatcher watcher(*c->stream);
        sockevents::Deliver(50);
        EXPECT_EQ(watcher.got, sockapi::kReadable);
    }
    char buf[16];
    EXPECT_EQ(c->stream->Receive(buf, sizeof buf, true), 5);
    EXPECT_EQ(c->stream->Receive(buf, sizeof buf, false), 5);
    EXPECT_EQ(std::string(buf, 5), "two\r\n");
    EXPECT_FALSE(c->stream->Buffered());
}

class TlsResumption : public TlsStreamTest, public ::testing::WithParamInterface<const char*> {};

// The data connection resumes the control connection's session (servers
// refuse a data connection that does not). With TLS 1.3 the session arrives
// after the handshake, with the first reply read.
TEST_P(TlsResumption, DataConnectionResumesTheControlSession) {
    auto session = Pinned();
    {
        auto control = Open("echo", session, TTlsUse::Control, GetParam());
        ASSERT_EQ(Handshake(*control->stream), Outcome::Done) << control->stream->FailureText();
        EXPECT_FALSE(control->stream->Resumed());
        ASSERT_TRUE(SendAll(*control->stream, "USER x\r\n"));
        EXPECT_EQ(ReadSome(*control->stream, 8), "USER x\r\n");
        auto data = Open("sink", session, TTlsUse::Data, GetParam());
        ASSERT_EQ(Handshake(*data->stream), Outcome::Done) << data->stream->FailureText();
        const bool resumed = data->stream->Resumed();
        ASSERT_EQ(Drive(*data->stream, 5000, [&] { return data->stream->ShutdownSend(); }),
                  Outcome::Done);
        long last = 1;
        ReadToEnd(*data->stream, &last);
        const auto report = peer->Wait();
        if (testsupport::OnWindows() && nettest::UnderWine() && report.at("reused") == "0")
            GTEST_SKIP() << "Wine's SChannel does not resume sessions (Windows does, with the "
                            "same credentials handle and target name)";
        EXPECT_EQ(report.at("reused"), "1");
        EXPECT_TRUE(resumed);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsResumption, ::testing::Values("any", "1.2"),
                         [](const auto& info) {
                             return std::string(info.param) == "any" ? "Newest" : "Tls12";
                         });
