// The fault table: whole unattended send runs on the real window with every
// real stage (the ZIP writer, real GnuPG with a throwaway key) against the
// scripted FTP server, one test per fault. Each row checks the journal line
// by line, that no box was shown (AutoMode) and the end was requested, and
// that every data file is still in place with its content unchanged. The
// rows delete the data files after a good upload (FilesMoveTo 1), so "still
// in place" is a real check; the two rows that must succeed check that the
// files are gone and that the server got the right bytes.
#include "WholeRunFixture.h"

#include "app/TerminationWatch.h"
#include "net/SockError.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/System.h"
#include "ui/Application.h"
#include "ui/Timer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using testsupport::FakeFtpServer;
using testsupport::Lines;
using testsupport::Pace;
using testsupport::StoreOptions;

const std::string kStor = std::string("STOR ") + WholeRunFixture::kEncryptedName;
const std::string kSize = std::string("SIZE ") + WholeRunFixture::kEncryptedName;

// A small tmpfs mounted for one test (root only); unmounted by the destructor.
class SmallDisk {
public:
    SmallDisk(const std::string& dir, const std::string& size) : dir_(dir) {
        ::mkdir(dir.c_str(), 0755);
        if (::geteuid() != 0) {
            why_ = "mounting a small tmpfs needs root";
            return;
        }
        const std::string options = "size=" + size + ",mode=0777";
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            why_ = std::string("mount tmpfs failed: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const std::string& WhyNot() const { return why_; }

private:
    std::string dir_;
    bool mounted_ = false;
    std::string why_;
};

class FaultRun : public WholeRunFixture {
protected:
    FaultRun() {
        PutDataFiles({
            {tmp / "data/pacienti.csv", "id;jméno;diagnóza\r\n1;Jiří Novák;C50\r\n"},
            {tmp / "data/léčba.csv", "léčba;dávka\r\nchemoterapie;3\r\n"},
            // Random bytes do not shrink: the encrypted file is larger than
            // 64 KiB and larger than the small disks below.
            {tmp / "data/výsledky.bin", testsupport::RandomBytes(200000, 9)},
        });
        UseFake(ftp);
        WriteSettingInteger("FilesMoveTo", 1);
    }

    // Adds the SIZE step once the encrypted file exists: its size is known
    // only then. Checked from a timer of the window's thread, which runs
    // whenever the run lets events run.
    void AnswerSizeWhenConnecting(FakeFtpServer& server, Pace pace = {}) {
        auto* timer = new ui::Timer();
        timer->OnTick([this, timer, &server, pace] {
            // The first tick after gpg ended falls into the pause that
            // follows it, when the file is complete.
            if (!form || !GpgEnded())
                return;
            server.Reply(kSize, "213 " + std::to_string(EncryptedSize()), pace);
            timer->Stop();
        });
        timer->Start(20);
        sizeTimer.reset(timer);
    }

    // The encrypted file is complete: gpg has ended, and the archive it
    // read is gone.
    bool GpgEnded() const {
        return platform::FileSize(Encrypted()) > 0 &&
               !platform::PathExists(tmp / "temp/20260305.zip");
    }

    FakeFtpServer ftp;
    std::unique_ptr<ui::Timer> sizeTimer;
};

// ---- greeting and log-in ---------------------------------------------------

TEST_F(FaultRun, Greeting421) {
    ftp.Greeting("421 Too many connections, try later.").Close();
    RunAuto();
    ExpectFailed(ConnectFailed("421 Too many connections, try later.", true));
    EXPECT_EQ(ftp.Verify(), "");
}

// The greeting never comes and the client's time-out is 0: the run waits
// without end, the window keeps working (a timer fires during the wait), and
// closing the window stops the run as a request from the system does, in an
// unattended run and in one the operator started: the wait and the program
// end, the journal says the run was stopped, and no box follows. The server
// would close the connection after 12 s; the run must end long before that.
class WindowClosedRun : public FaultRun, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(StartedBy, WindowClosedRun, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Operator" : "Cron"; });

TEST_P(WindowClosedRun, GreetingNeverSentThenTheWindowIsClosed) {
    WriteSettingInteger("TimeOut", 0);
    FakeFtpServer silent(20000);
    WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(silent.Port()));
    silent.SilentGreeting(12000);
    int ticksWhileWaiting = 0;
    bool closed = false;
    std::optional<std::chrono::steady_clock::time_point> waiting;
    ui::Timer watch;
    watch.OnTick([&] {
        if (!form || silent.Connections() < 1 || closed)
            return;
        if (!waiting)
            waiting = std::chrono::steady_clock::now();
        ++ticksWhileWaiting;
        if (MsSince(*waiting) >= 1500) {
            closed = true;
            ui::testing::PressCloseBox(*form);
        }
    });
    watch.Start(50);
    const int64_t ms = GetParam() ? RunInteractive() : RunAuto();
    watch.Stop();

    EXPECT_TRUE(closed);
    EXPECT_GE(ticksWhileWaiting, 10) << "the window's timers ran while the run waited";
    // About 2.5 s to the connection, 1.5 s of waiting, then the end.
    EXPECT_LT(ms, 8000) << "closing the window must end the wait";
    ExpectEndRequestedWithoutBoxes();
    ExpectAllInPlace();
    const auto journal = Journal();
    ASSERT_EQ(journal.size(), UpToConnect().size() + 1);
    EXPECT_EQ(std::vector<std::string>(journal.begin(), journal.end() - 1), UpToConnect());
    EXPECT_EQ(journal.back(), kRunStoppedJournal);
    EXPECT_EQ(silent.Connections(), 1);
    EXPECT_TRUE(silent.Commands().empty());
}

// ---- a server that goes silent, with TimeOut set ------------------------------

struct SilenceCase {
    const char* name;
    int commandsBeforeSilence; // the silence starts once the server has read these
    bool upload;               // the upload fails, not the connection
    void (*script)(FakeFtpServer& ftp);
};

void PrintTo(const SilenceCase& c, std::ostream* os) {
    *os << c.name;
}

class Silence : public FaultRun, public testing::WithParamInterface<SilenceCase> {};

// With TimeOut 1 the run ends about a second after the server fell silent,
// journals the client's time-out text and leaves every data file in place.
TEST_P(Silence, EndsAfterTheTimeOut) {
    WriteSettingInteger("TimeOut", 1);
    GetParam().script(ftp);
    std::optional<std::chrono::steady_clock::time_point> silent;
    ui::Timer watch;
    watch.OnTick([&] {
        if (!silent && ftp.Connections() >= 1 &&
            static_cast<int>(ftp.Commands().size()) >= GetParam().commandsBeforeSilence)
            silent = std::chrono::steady_clock::now();
    });
    watch.Start(10);
    RunAuto();
    const int64_t waited = silent ? MsSince(*silent) : -1;
    watch.Stop();

    EXPECT_GE(waited, 900) << "the run waited the time-out";
    EXPECT_LT(waited, 4000) << "and not much longer";
    const std::string text = "Timed out waiting for the server's reply";
    if (GetParam().upload)
        ExpectFailed(Plus(UpToConnect(), {"Transfer souboru...", "Upload ", "Chyba při uploadu.",
                                          text, "Soubor neodeslán."}));
    else
        ExpectFailed(ConnectFailed(text, false));
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_EQ(static_cast<int>(ftp.Commands().size()), GetParam().commandsBeforeSilence)
        << "nothing is sent after the time-out, not even QUIT";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Silence,
    testing::Values(
        SilenceCase{"NoGreeting", 0, false, [](FakeFtpServer& f) { f.SilentGreeting(2500); }},
        SilenceCase{"SilentAfterUser", 1, false,
                    [](FakeFtpServer& f) { f.Reply("USER user", ""); }},
        SilenceCase{"SilentAfterStor", 5, true,
                    [](FakeFtpServer& f) { FaultRun::LogIn(f).Pasv().Reply(kStor, ""); }},
        // A line every 400 ms never ends the reply: one time-out from the
        // command (or the connection) bounds all of it.
        SilenceCase{"GreetingOneLineEvery400ms", 0, false,
                    [](FakeFtpServer& f) {
                        f.Greeting("220-Welcome", Pace{0, -1, 400});
                    }},
        SilenceCase{"UserReplyOneLineEvery400ms", 1, false,
                    [](FakeFtpServer& f) {
                        f.Reply("USER user", "331-Password required", Pace{0, -1, 400});
                    }}),
    [](const testing::TestParamInfo<SilenceCase>& info) { return std::string(info.param.name); });

TEST_F(FaultRun, LogIn530) {
    ftp.Reply("USER user", "331 Password required.")
        .Reply("PASS heslo", "530 Login incorrect.")
        .Reply("QUIT", "221 Goodbye.");
    RunAuto();
    ExpectFailed(ConnectFailed("530 Login incorrect.", true));
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FaultRun, Type504) {
    ftp.LogIn("user", "heslo").Reply("TYPE L 8", "504 Command not implemented for that parameter.");
    RunAuto();
    ExpectFailed(ConnectFailed("504 Command not implemented for that parameter.", true));
    EXPECT_EQ(ftp.Verify(), "");
}

// ---- passive mode and the store command -------------------------------------

TEST_F(FaultRun, Pasv500) {
    LogIn(ftp).Reply("PASV", "500 PASV not understood.");
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_TRUE(ftp.StoredData().empty());
}

TEST_F(FaultRun, Malformed227) {
    LogIn(ftp).Reply("PASV", "227 Entering Passive Mode (127,0,0,1).");
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
    EXPECT_TRUE(ftp.StoredData().empty());
}

TEST_F(FaultRun, Stor550) {
    LogIn(ftp).Pasv().Reply(kStor, "550 Permission denied.");
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FaultRun, Stor425) {
    LogIn(ftp).Pasv().Reply(kStor, "425 Can't open data connection.");
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
}

// ---- the final reply after the data ------------------------------------------

struct FinalCase {
    const char* name;
    std::string final;
};

void PrintTo(const FinalCase& c, std::ostream* os) {
    *os << c.name;
}

class FinalReply : public FaultRun, public testing::WithParamInterface<FinalCase> {};

TEST_P(FinalReply, FailsTheUpload) {
    StoreOptions store;
    store.final = GetParam().final;
    LogIn(ftp).Pasv().Store(kStor, store);
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
    // The data itself went over whole: only the reply says it failed.
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_TRUE(ftp.StoredData()[0] == testsupport::ReadBytes(Encrypted()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FinalReply,
    testing::Values(FinalCase{"Final451", "451 Local error in processing."},
                    FinalCase{"Final426", "426 Connection closed; transfer aborted."},
                    FinalCase{"Final552", "552 Exceeded storage allocation."},
                    FinalCase{"Final552MultiLine",
                              Lines({"552-Exceeded storage allocation.", " Your quota is 64 KiB.",
                                     "552 Upload refused."})}),
    [](const testing::TestParamInfo<FinalCase>& info) { return std::string(info.param.name); });

// The server resets the data connection after 64 KiB and then claims 226:
// the client must notice the reset and never report the upload as done.
TEST_F(FaultRun, DataResetAfter64KiBThen226) {
    StoreOptions store;
    store.dropAfter = 65536;
    store.final = "226 Transfer complete.";
    LogIn(ftp).Pasv().Store(kStor, store);
    RunAuto();
    ExpectFailed(UploadFailed());
    ASSERT_EQ(ftp.StoredData().size(), 1u);
    EXPECT_LT(ftp.StoredData()[0].size(), static_cast<std::size_t>(EncryptedSize()));
}

TEST_F(FaultRun, ControlClosedBeforeTheFinalReply) {
    StoreOptions store;
    store.closeControl = true;
    LogIn(ftp).Pasv().Store(kStor, store);
    RunAuto();
    ExpectFailed(UploadFailed());
    EXPECT_EQ(ftp.Verify(), "");
}

TEST_F(FaultRun, SizeMismatch) {
    LogIn(ftp).Pasv().Store(kStor).Reply(kSize, "213 12");
    RunAuto();
    ExpectFailed(
        Plus(Sent(), {"Velikost souboru na serveru 12 bytů", "Transfer souboru se nezdařil."}));
    EXPECT_EQ(ftp.Verify(), "");
    ExpectStoredIsTheEncryptedFile(ftp);
}

// ---- what proves an upload; every reply read strictly --------------------------

// A reply a step must not go on with, or an upload nothing proves: the run
// fails at that step and every data file stays.
enum class FailsAt { Connect, Upload, Check };

struct RejectCase {
    const char* name;
    void (*script)(FakeFtpServer& ftp);
    FailsAt at;
    std::string message; // the connect error, or the size check's reason
};

void PrintTo(const RejectCase& c, std::ostream* os) {
    *os << c.name;
}

class Rejected : public FaultRun, public testing::WithParamInterface<RejectCase> {};

TEST_P(Rejected, DataFilesStay) {
    WriteSettingInteger("TimeOut", 5);
    GetParam().script(ftp);
    RunAuto();
    std::string message = GetParam().message;
    const bool replyLine = message.size() >= 2 && message.substr(message.size() - 2) == "\r\n";
    if (replyLine)
        message.resize(message.size() - 2);
    if (GetParam().at == FailsAt::Connect)
        ExpectFailed(ConnectFailed(message, replyLine));
    else if (GetParam().at == FailsAt::Upload)
        ExpectFailed(UploadFailed());
    else
        ExpectFailed(Plus(Sent(), {"Velikost souboru na serveru nelze ověřit: " + message,
                                   "Transfer souboru se nezdařil."}));
}

// The measured fault: the server reads N bytes, says 226, and resets the
// data connection 0.2 s later; SIZE then cannot tell.
StoreOptions ReadsThen226ThenReset(long long n) {
    StoreOptions o;
    o.dropAfter = n;
    o.finalBeforeDataClose = true;
    o.dataCloseDelayMs = 200;
    return o;
}

const std::string kInvalid = "Invalid reply from the server: ";

INSTANTIATE_TEST_SUITE_P(
    Rows, Rejected,
    testing::Values(
        RejectCase{"Reads64KiBThen226ThenResetSize502",
                   [](FakeFtpServer& f) {
                       FaultRun::LogIn(f).Pasv().Store(kStor, ReadsThen226ThenReset(65536));
                   },
                   FailsAt::Upload, ""},
        RejectCase{"Reads31795Then226ThenResetSize550",
                   [](FakeFtpServer& f) {
                       FaultRun::LogIn(f)
                           .Pasv()
                           .Store(kStor, ReadsThen226ThenReset(31795))
                           .Reply(kSize, "550 No such file.");
                   },
                   FailsAt::Upload, ""},
        RejectCase{
            "SizeGarbage",
            [](FakeFtpServer& f) { FaultRun::LogIn(f).Pasv().Store(kStor).Reply(kSize, "ok"); },
            FailsAt::Check, kInvalid + "ok"},
        RejectCase{
            "SizeClosesTheConnection",
            [](FakeFtpServer& f) { FaultRun::LogIn(f).Pasv().Store(kStor).ReplyAndClose(kSize); },
            FailsAt::Check, "Connection closed by the server"},
        RejectCase{"Greeting331", [](FakeFtpServer& f) { f.Greeting("331 Password first."); },
                   FailsAt::Connect, "331 Password first.\r\n"},
        RejectCase{
            "TypeGarbage",
            [](FakeFtpServer& f) { f.LogIn("user", "heslo").Reply("TYPE L 8", "Type set."); },
            FailsAt::Connect, kInvalid + "Type set.\r\n"},
        RejectCase{
            "Type150",
            [](FakeFtpServer& f) { f.LogIn("user", "heslo").Reply("TYPE L 8", "150 Type set."); },
            FailsAt::Connect, "150 Type set.\r\n"},
        RejectCase{"TypeNulInTheCode",
                   [](FakeFtpServer& f) {
                       f.LogIn("user", "heslo").Reply("TYPE L 8", std::string("2") + '\0' + "00");
                   },
                   FailsAt::Connect, kInvalid + "2?00\r\n"},
        RejectCase{"EndlessUserReply",
                   [](FakeFtpServer& f) {
                       f.Reply("USER user", "331-Password required", Pace{0, -1, 0});
                   },
                   FailsAt::Connect, "Reply longer than 65536 bytes"},
        RejectCase{"Pasv350WithAPort",
                   [](FakeFtpServer& f) {
                       FaultRun::LogIn(f).Pasv("PASV", "350 ({hostport})").Store(kStor);
                   },
                   FailsAt::Upload, ""},
        RejectCase{"Pasv150WithAPort",
                   [](FakeFtpServer& f) {
                       FaultRun::LogIn(f).Pasv("PASV", "150 ({hostport})").Store(kStor);
                   },
                   FailsAt::Upload, ""}),
    [](const testing::TestParamInfo<RejectCase>& info) { return std::string(info.param.name); });

// ---- odd replies -------------------------------------------------------------

// Every reply arrives one byte at a time, 20 ms apart: slow but correct, so
// the run succeeds and the data files are deleted.
TEST_F(FaultRun, RepliesOneByteEvery20msSucceed) {
    const Pace slow{0, 20};
    ftp.Greeting("220 Hi.", slow);
    LogIn(ftp, slow).Pasv("PASV", "227 ({hostport})").Store(kStor);
    AnswerSizeWhenConnecting(ftp, slow);
    RunAuto();
    ExpectEndRequestedWithoutBoxes();
    EXPECT_EQ(ftp.Verify(10000), "");
    ExpectStoredIsTheEncryptedFile(ftp);
    const std::string e = std::to_string(EncryptedSize());
    EXPECT_EQ(Journal(),
              Plus(Sent(), {"Velikost souboru na serveru " + e + " bytů",
                            "Data odeslána v pořádku...", "Probíhá mazání souborů - 3 souborů",
                            "Datové soubory smazány. ", std::string(kSuccess) + "\t\t"}));
    ExpectAllDeleted();
}

TEST_F(FaultRun, OverLongReplyLine) {
    ftp.Reply("USER user", "331 " + std::string(70000, 'x'));
    RunAuto();
    ExpectFailed(ConnectFailed("Reply line longer than 65536 bytes", false));
    ASSERT_FALSE(ftp.Commands().empty());
    EXPECT_EQ(ftp.Commands()[0], "USER user");
}

// A reply with a NUL byte is no reply; the journal shows it with a '?'.
TEST_F(FaultRun, NulByteInAReply) {
    ftp.Reply("USER user", "331 Password required.")
        .Reply("PASS heslo", std::string("530 Login\0 incorrect.", 21))
        .Reply("QUIT", "221 Goodbye.");
    RunAuto();
    ExpectFailed(ConnectFailed("Invalid reply from the server: 530 Login? incorrect.", true));
    EXPECT_EQ(ftp.Verify(), "");
}

// ---- proxy -------------------------------------------------------------------

TEST_F(FaultRun, ProxyRefusesOpen) {
    WriteSettingString("General", "FTPServer", "ftp.registr.example");
    UseOpenProxy("127.0.0.1", std::to_string(ftp.Port()));
    ftp.ReplyAndClose("OPEN ftp.registr.example", "421 Cannot connect to ftp.registr.example.");
    RunAuto();
    // The proxy's answer to OPEN is judged as a greeting is.
    ExpectFailed(ConnectFailed("421 Cannot connect to ftp.registr.example.", true));
    EXPECT_TRUE(ftp.StoredData().empty());
}

// ---- explicit TLS --------------------------------------------------------------

// FTPS=1 against what real servers will not do: a server or a proxy without
// TLS, faults of the handshake, refused PBSZ or PROT, a data connection that
// cannot resume, settings nobody can read. Every row fails but the ones that
// prove the way through (directly and through a relaying proxy); nothing
// goes in the clear after a failed AUTH TLS but QUIT.
enum class FtpsEnds { Connect, Upload, Sent };
using Commands = std::vector<std::string>;

struct FtpsCase {
    const char* name;
    void (*script)(FakeFtpServer& ftp);
    FtpsEnds ends;
    std::string message; // the connect error (CR LF: a reply line), or the upload's reason
    // What the server read (none: not checked; empty: not even connected).
    std::optional<Commands> commands;
    const char* ftps = "1";    // the FTPS setting
    const char* pin = nullptr; // FTPSCertificate (null: the fake's fingerprint)
    bool proxy = false;        // through the OPEN proxy (the fake) to ftp.registr.example
};

void PrintTo(const FtpsCase& c, std::ostream* os) {
    *os << c.name;
}

// AUTH TLS with its handshake, the log-in, PBSZ 0 and PROT P, "TYPE L 8".
FakeFtpServer& TlsLogIn(FakeFtpServer& f) {
    return f.AuthTls()
        .LogIn("user", "heslo")
        .Reply("PBSZ 0", "200 PBSZ=0")
        .Reply("PROT P", "200 Protection set to Private")
        .Reply("TYPE L 8", "200 Type set.");
}

StoreOptions DataTlsStore(testsupport::DataTls how) {
    StoreOptions o;
    o.dataTls = how;
    return o;
}

const Commands kTlsCommands = {"AUTH TLS", "USER user", "PASS heslo", "PBSZ 0", "PROT P",
                               "TYPE L 8", "PASV",      kStor,        kSize};

class FtpsFault : public FaultRun, public testing::WithParamInterface<FtpsCase> {};

TEST_P(FtpsFault, EndsAsExpected) {
    const FtpsCase& row = GetParam();
    WriteSettingInteger("TimeOut", 2);
    WriteSettingString("General", "FTPS", row.ftps);
    if (row.proxy) {
        WriteSettingString("General", "FTPServer", "ftp.registr.example");
        UseOpenProxy("127.0.0.1", std::to_string(ftp.Port()));
    }
    row.script(ftp);
    WriteSettingString("General", "FTPSCertificate",
                       row.pin ? row.pin : ftp.CertificateFingerprint());
    if (row.ends == FtpsEnds::Sent)
        AnswerSizeWhenConnecting(ftp);
    RunAuto();

    std::string message = row.message;
    const bool replyLine = message.ends_with("\r\n");
    if (replyLine)
        message.resize(message.size() - 2);
    if (row.ends == FtpsEnds::Connect) {
        ExpectFailed(ConnectFailed(message, replyLine));
        EXPECT_TRUE(ftp.StoredData().empty());
    } else if (row.ends == FtpsEnds::Upload) {
        ExpectFailed(Plus(UpToConnect(), {"Transfer souboru...", "Upload ", "Chyba při uploadu.",
                                          message, "Soubor neodeslán."}));
    } else {
        ExpectEndRequestedWithoutBoxes();
        ExpectStoredIsTheEncryptedFile(ftp);
        const std::string e = std::to_string(EncryptedSize());
        EXPECT_EQ(Journal(),
                  Plus(Sent(), {"Velikost souboru na serveru " + e + " bytů",
                                "Data odeslána v pořádku...", "Probíhá mazání souborů - 3 souborů",
                                "Datové soubory smazány. ", std::string(kSuccess) + "\t\t"}));
        ExpectAllDeleted();
        ASSERT_EQ(ftp.DataTlsReports().size(), 1u);
        EXPECT_TRUE(ftp.DataTlsReports()[0].resumed);
        EXPECT_EQ(ftp.DataTlsReports()[0].end, "close_notify") << "the upload ends with ours";
    }
    EXPECT_EQ(ftp.Verify(), "");
    if (row.commands) {
        EXPECT_EQ(ftp.Commands(), *row.commands);
    }
    if (row.commands && row.commands->empty()) {
        EXPECT_EQ(ftp.Connections(), 0) << "a setting nobody can read stops the run before";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FtpsFault,
    testing::Values(
        FtpsCase{"ServerWithoutTls",
                 [](FakeFtpServer& f) {
                     f.Reply("AUTH TLS", "500 AUTH not understood.").Reply("QUIT", "221 Bye.");
                 },
                 FtpsEnds::Connect, "500 AUTH not understood.\r\n", Commands{"AUTH TLS", "QUIT"}},
        FtpsCase{"AuthTlsAnswered334",
                 [](FakeFtpServer& f) {
                     f.Reply("AUTH TLS", "334 ADAT must follow.").Reply("QUIT", "221 Bye.");
                 },
                 FtpsEnds::Connect, "334 ADAT must follow.\r\n", Commands{"AUTH TLS", "QUIT"}},
        FtpsCase{
            "HandshakeReset", [](FakeFtpServer& f) { f.AuthTls(testsupport::TlsHandshake::Reset); },
            FtpsEnds::Connect, "Navázání TLS se serverem selhalo: 10054:Connection reset by peer",
            Commands{"AUTH TLS"}},
        FtpsCase{"HandshakeClosed",
                 [](FakeFtpServer& f) { f.AuthTls(testsupport::TlsHandshake::Close); },
                 FtpsEnds::Connect, "Server ukončil spojení během navazování TLS",
                 Commands{"AUTH TLS"}},
        FtpsCase{"HandshakeSilent",
                 [](FakeFtpServer& f) { f.AuthTls(testsupport::TlsHandshake::Silent); },
                 FtpsEnds::Connect, kTimedOutTlsHandshake, Commands{"AUTH TLS"}},
        FtpsCase{"PbszRefused",
                 [](FakeFtpServer& f) {
                     f.AuthTls()
                         .LogIn("user", "heslo")
                         .Reply("PBSZ 0", "503 PBSZ not accepted.")
                         .Reply("QUIT", "221 Bye.");
                 },
                 FtpsEnds::Connect, "503 PBSZ not accepted.\r\n",
                 Commands{"AUTH TLS", "USER user", "PASS heslo", "PBSZ 0", "QUIT"}},
        FtpsCase{"ProtRefused",
                 [](FakeFtpServer& f) {
                     f.AuthTls()
                         .LogIn("user", "heslo")
                         .Reply("PBSZ 0", "200 PBSZ=0")
                         .Reply("PROT P", "536 Requested PROT level not supported.")
                         .Reply("QUIT", "221 Bye.");
                 },
                 FtpsEnds::Connect, "536 Requested PROT level not supported.\r\n",
                 Commands{"AUTH TLS", "USER user", "PASS heslo", "PBSZ 0", "PROT P", "QUIT"}},
        FtpsCase{"DataNotResumed",
                 [](FakeFtpServer& f) {
                     TlsLogIn(f).Pasv().Store(kStor,
                                              DataTlsStore(testsupport::DataTls::RefuseResumption));
                 },
                 FtpsEnds::Upload,
                 "522 SSL connection failed: session reuse required (datové spojení TLS "
                 "neobnovilo relaci řídicího spojení)",
                 std::nullopt},
        FtpsCase{"DataHandshakeReset",
                 [](FakeFtpServer& f) {
                     TlsLogIn(f).Pasv().Store(kStor,
                                              DataTlsStore(testsupport::DataTls::ResetHandshake));
                 },
                 FtpsEnds::Upload,
                 "Navázání TLS se serverem selhalo: 10054:Connection reset by peer", std::nullopt},
        FtpsCase{"ResumedDataSent",
                 [](FakeFtpServer& f) {
                     TlsLogIn(f).Pasv().Store(kStor,
                                              DataTlsStore(testsupport::DataTls::RequireReuse));
                 },
                 FtpsEnds::Sent, "", kTlsCommands},
        // The proxy relays: TLS is end to end with the server, whose
        // certificate is the one pinned; the data goes to the proxy's address.
        FtpsCase{"ThroughRelayingProxy",
                 [](FakeFtpServer& f) {
                     f.Reply("OPEN ftp.registr.example", "220 Registry FTP server ready.");
                     TlsLogIn(f).Pasv().Store(kStor,
                                              DataTlsStore(testsupport::DataTls::RequireReuse));
                 },
                 FtpsEnds::Sent, "", std::nullopt, "1", nullptr, true},
        FtpsCase{"ProxyWithoutTls",
                 [](FakeFtpServer& f) {
                     f.Reply("OPEN ftp.registr.example", "220 Registry FTP server ready.")
                         .Reply("AUTH TLS", "502 Command not implemented.")
                         .Reply("QUIT", "221 Bye.");
                 },
                 FtpsEnds::Connect, "502 Command not implemented.\r\n",
                 Commands{"OPEN ftp.registr.example", "AUTH TLS", "QUIT"}, "1", nullptr, true},
        FtpsCase{"UnknownFtpsValue", [](FakeFtpServer&) {}, FtpsEnds::Connect,
                 "Neplatné nastavení FTPS=ano (0 nebo prázdné: bez TLS, 1: šifrované spojení TLS)",
                 Commands{}, "ano"},
        FtpsCase{"MalformedPin", [](FakeFtpServer&) {}, FtpsEnds::Connect,
                 "Nastavení FTPSCertificate: Neplatný otisk certifikátu \"AB:CD\": má 4 "
                 "šestnáctkových číslic, otisk SHA-256 jich má 64",
                 Commands{}, "1", "AB:CD"}),
    [](const testing::TestParamInfo<FtpsCase>& info) { return std::string(info.param.name); });

// ---- local faults --------------------------------------------------------------

// gpg.exe fails, hangs or is stopped: its status, not the file it may leave,
// decides. Nothing is sent, every data file stays, the temporary folder is
// left empty (no archive in the clear, no partial output), nothing gpg
// started lives on, and the journal says why before the failure.
struct GpgCase {
    const char* name;
    // Stands in for gpg.exe past the GnuPG check ($4 is the dated archive; a
    // child writes its pid into child.pid); empty: real gpg, whose home
    // knows the test key under another name.
    const char* script;
    std::vector<std::string> reason; // how the lines before the failure end
    int timeOut = 0;
    bool closeWindow = false; // closed once gpg has run a second
};

void PrintTo(const GpgCase& c, std::ostream* os) {
    *os << c.name;
}

class GpgFails : public FaultRun, public testing::WithParamInterface<GpgCase> {};

TEST_P(GpgFails, NothingIsSentAndNothingStays) {
    const GpgCase& row = GetParam();
    const std::string script = tmp / "failing-gpg.sh";
    testsupport::WriteBytes(script, std::string("#!/bin/sh\n[ \"$1\" = --version ] && exit 0\n"
                                                "cd \"$(dirname \"$0\")\"\n") +
                                        row.script);
    ::chmod(script.c_str(), 0755);
    if (*row.script)
        gpg.SetUpApplicationFolder(tmp.Path(), "5E2B7C19", script);
    else
        gpg.SetUpApplicationFolder(tmp.Path(), "0BADC0DE");
    WriteSettingInteger("TimeOut", row.timeOut);
    testsupport::ScopedEnv english("LC_ALL", "C");
    const auto child = [&] { return std::atol(testsupport::ReadBytes(tmp / "child.pid").c_str()); };
    int ticks = 0; // while gpg's child runs
    ui::Timer watch;
    watch.OnTick([&] {
        if (platform::FileExists(tmp / "child.pid") && !testsupport::ProcessEnded(child(), 0) &&
            ++ticks == 20 && row.closeWindow)
            ui::testing::PressCloseBox(*form);
    });
    watch.Start(50);
    EXPECT_LT(RunAuto(), 15000) << "gpg's wait ends by itself";
    watch.Stop();

    const auto journal = Journal();
    // A stopped run ends with the stop; a failed one with the stage's message.
    auto expected = Plus(
        UpToEncrypt(), {row.closeWindow ? std::string(kRunStoppedJournal)
                                        : "Šifrovaní se nezdařilo. Výsledný soubor " + Encrypted() +
                                              " neexistuje nebo má nulovou velikost."});
    ASSERT_EQ(journal.size(), expected.size() + row.reason.size())
        << testing::PrintToString(journal);
    const auto reason = journal.end() - 1 - static_cast<std::ptrdiff_t>(row.reason.size());
    for (std::size_t i = 0; i < row.reason.size(); ++i)
        EXPECT_TRUE(reason[i].ends_with(row.reason[i])) << reason[i];
    expected.insert(expected.end() - 1, reason, journal.end() - 1);
    ExpectFailed(expected);
    EXPECT_TRUE(std::filesystem::is_empty(tmp / "temp")) << "no archive in the clear, no output";
    EXPECT_EQ(ftp.Connections(), 0);
    if (platform::FileExists(tmp / "child.pid")) {
        EXPECT_GE(ticks, 10) << "the window's timers ran while gpg ran";
        EXPECT_TRUE(testsupport::ProcessEnded(child(), 3000)) << "gpg's child lives on";
    }
}

const char* const kSleeper = "sleep 60 & echo $! > child.pid; wait\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, GpgFails,
    testing::Values(
        GpgCase{"ExitsNonZeroWithoutOutput", "exit 2\n", {}},
        GpgCase{"PartialOutputThenExit2", "head -c 1000 \"$4\" > \"$4.gpg\"; exit 2\n", {}},
        GpgCase{"PartialOutputThenKilled", "head -c 1000 \"$4\" > \"$4.gpg\"; kill -KILL $$\n", {}},
        // The last lines of its error output, as much as fits, in the
        // journal's code page (what it lacks as '?').
        GpgCase{"SaysWhy",
                "printf 'gpg: %03000d\\n%0500d\\n' 0 0 >&2\n"
                "echo 'gpg: klíč nenalezen ✓' >&2; exit 2\n",
                {"Hlášení GNU PG: gpg: klíč nenalezen ?"}},
        GpgCase{"HangsPastTheTimeOut",
                kSleeper,
                {"Program gpg.exe neskončil do 1 s a byl ukončen."},
                1},
        // What gpg said before it was ended does not follow the stop.
        GpgCase{"WindowClosedWhileItRuns",
                "echo 'gpg: working' >&2; sleep 60 & echo $! > child.pid; wait\n",
                {},
                0,
                true},
        GpgCase{"LeavesAChildRunning",
                "(sleep 60; echo late > \"$4.gpg\") & echo $! > child.pid\n"
                "head -c 1000 \"$4\" > \"$4.gpg\"; sleep 1; exit 2\n",
                {}},
        GpgCase{"MissingRecipientKey",
                "",
                {"gpg: 5E2B7C19: skipped: No public key", ": encryption failed: No public key"}}),
    [](const testing::TestParamInfo<GpgCase>& info) { return std::string(info.param.name); });

// A data file rewritten between archiving and the post-send handling, with
// the same size and within the same second, is not the file that was sent:
// it stays, the others go, and the run says not all could be handled. Moved
// files keep their last-write time to the nanosecond.
class RewrittenAfterArchiving : public FaultRun, public testing::WithParamInterface<int> {};

TEST_P(RewrittenAfterArchiving, StaysInPlace) {
    const int mode = GetParam();
    WriteSettingInteger("FilesMoveTo", mode);
    WriteSettingString("General", "FilesMoveToDir", tmp / "moved/");
    ::mkdir((tmp / "moved").c_str(), 0755);
    const auto setTime = [](const std::string& path, long nsec) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {1772700000, nsec}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    for (std::size_t i = 0; i < files.size(); ++i)
        setTime(files[i].first, 100000000 + static_cast<long>(i) * 11111);
    auto& [changed, content] = files[0];
    content[0] = content[0] == 'X' ? 'Y' : 'X';
    ui::Timer rewrite;
    rewrite.OnTick([&] {
        if (!GpgEnded())
            return;
        testsupport::WriteBytes(changed, content);
        setTime(changed, 600000000);
        rewrite.Stop();
    });
    rewrite.Start(20);
    LogIn(ftp).Pasv().Store(kStor);
    AnswerSizeWhenConnecting(ftp);
    RunAuto();

    const std::string e = std::to_string(EncryptedSize());
    EXPECT_EQ(Journal(), Plus(Sent(), {"Velikost souboru na serveru " + e + " bytů",
                                       "Data odeslána v pořádku...",
                                       mode == 1 ? "Probíhá mazání souborů - 3 souborů"
                                                 : "Probíhá přesun souborů - 3 souborů",
                                       mode == 1 ? "Datové soubory se nepodařilo smazány. "
                                                 : "Datové soubory nebyly přesunuty. ",
                                       std::string(kSuccess) + "\t\t"}));
    EXPECT_EQ(testsupport::ReadBytes(changed), content);
    for (std::size_t i = 1; i < files.size(); ++i) {
        EXPECT_FALSE(platform::FileExists(files[i].first));
        const auto& [path, bytes] = files[i];
        platform::FileInfo moved;
        if (mode == 2 &&
            platform::GetFileInfo(tmp / "moved/20260305/" + platform::ExtractFileName(path), moved))
            EXPECT_EQ(std::make_pair(moved.lastWrite, moved.lastWriteNsec),
                      std::make_pair(int64_t{1772700000}, 100000000 + static_cast<int>(i) * 11111));
        else
            EXPECT_NE(mode, 2) << path << " was not moved";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RewrittenAfterArchiving, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? "Deleting" : "Moving";
                         });

// ---- data files the archive does not hold distinctly ---------------------------

// Root reads every file: for the run, its thread gives up the capabilities
// that let it, so a file of mode 0 is unreadable to it too.
struct WithoutReadingEverything {
    WithoutReadingEverything() {
        if (::syscall(SYS_capget, &header, saved) != 0)
            return;
        std::copy(saved, saved + 2, less);
        less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped = ::syscall(SYS_capset, &header, less) == 0;
    }
    ~WithoutReadingEverything() {
        if (dropped)
            ::syscall(SYS_capset, &header, saved);
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{}, less[2]{};
    bool dropped = false;
};

// Runs that succeed although the archive does not hold every data file as
// a file of its own: those stay, the others are deleted or moved.
class NotHeldDistinctly : public FaultRun {
protected:
    void Run(int mode) {
        mode_ = mode;
        WriteSettingInteger("FilesMoveTo", mode);
        WriteSettingString("General", "FilesMoveToDir", tmp / "moved/");
        ::mkdir((tmp / "moved").c_str(), 0755);
        LogIn(ftp).Pasv().Store(kStor);
        AnswerSizeWhenConnecting(ftp);
        sent_ = files; // a file replaced during the run has new content after it
        RunAuto();
    }
    // The archive stage's lines up to its count, the files numbered in kept
    // in place with their content, and the members numbered sent.
    void ExpectSentKeeping(std::vector<std::string> lines, const std::vector<std::size_t>& kept,
                           const std::vector<std::size_t>& members) {
        ExpectEndRequestedWithoutBoxes();
        lines.push_back("Zazipováno celkem " + std::to_string(members.size()));
        const auto journal = Journal();
        const auto at = journal.begin() + static_cast<std::ptrdiff_t>(UpToArchive().size());
        EXPECT_EQ(std::vector<std::string>(at, std::min(journal.end(), at + lines.size())), lines);
        ExpectEndsWith(journal, {mode_ == 1 ? "Datové soubory se nepodařilo smazány. "
                                            : "Datové soubory nebyly přesunuty. ",
                                 std::string(kSuccess) + "\t\t"});
        for (std::size_t i = 0; i < files.size(); ++i) {
            const auto& [path, content] = files[i];
            const bool stays = std::count(kept.begin(), kept.end(), i) != 0;
            EXPECT_TRUE(stays ? testsupport::ReadBytes(path) == content
                              : !platform::FileExists(path))
                << path;
            EXPECT_EQ(
                platform::FileExists(tmp / "moved/20260305/" + platform::ExtractFileName(path)),
                !stays && mode_ == 2)
                << path;
        }
        ASSERT_EQ(ftp.StoredData().size(), 1u);
        testsupport::WriteBytes(tmp / "stored.gpg", ftp.StoredData()[0]);
        std::swap(files, sent_);
        ExpectArrived(tmp / "stored.gpg", members);
        std::swap(files, sent_);
    }
    int mode_ = 1;
    DataFiles sent_;
};

// Two files of one name (letter case aside): both are members, but the
// registry cannot tell them apart.
class SameNameTwice : public NotHeldDistinctly, public testing::WithParamInterface<int> {};

TEST_P(SameNameTwice, BothStay) {
    ::mkdir((tmp / "data/druhá").c_str(), 0755);
    files.push_back({tmp / "data/druhá/PACIENTI.csv", "id;jméno\r\n2;Eva Malá\r\n"});
    PutDataFiles(files);
    Run(GetParam());
    ExpectSentKeeping({"Soubory " + files[0].first + ", " + files[3].first +
                       " mají v archivu stejný název, nebudou smazány ani přesunuty."},
                      {0, 3}, {0, 1, 2, 3});
}

INSTANTIATE_TEST_SUITE_P(Rows, SameNameTwice, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? "Deleting" : "Moving";
                         });

// Replaced during the encryption by a file of the same size and the same
// last-write time, renamed over it.
TEST_F(NotHeldDistinctly, FileReplacedByRenameStays) {
    auto& [replaced, content] = files[0];
    ui::Timer replace;
    replace.OnTick([&] {
        struct stat st {};
        if (!platform::FileExists(Encrypted()) || ::stat(replaced.c_str(), &st) != 0)
            return;
        content[0] = content[0] == 'X' ? 'Y' : 'X';
        testsupport::WriteBytes(tmp / "new.csv", content);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::utimensat(AT_FDCWD, (tmp / "new.csv").c_str(), times, 0);
        ::rename((tmp / "new.csv").c_str(), replaced.c_str());
        replace.Stop();
    });
    replace.Start(20);
    Run(1);
    ExpectSentKeeping({}, {0}, {0, 1, 2});
}

// Past the writer's 4 GiB (sparse: refused before it is read).
TEST_F(NotHeldDistinctly, FileTooLargeForTheArchiveStays) {
    const std::string big = tmp / "data/velký.csv";
    testsupport::WriteBytes(big, "");
    ASSERT_EQ(::truncate(big.c_str(), off_t{5} << 30), 0);
    WriteSettingInteger("PocetSouboru", 4);
    WriteSettingString("Files", "File3", big);
    Run(1);
    ExpectSentKeeping(
        {"Soubor " + big + " je větší než 4 GB, archiv ZIP jej nepojme; nebude odeslán."}, {},
        {0, 1, 2});
    EXPECT_EQ(platform::FileSize(big), int64_t{5} << 30);
}

// Unreadable to the run (to root too, as above).
TEST_F(NotHeldDistinctly, UnreadableFileStays) {
    ::chmod(files[1].first.c_str(), 0);
    {
        WithoutReadingEverything unprivileged;
        ASSERT_FALSE(std::ifstream(files[1].first)) << "the run must not be able to read it";
        Run(1);
    }
    ExpectSentKeeping({"Soubor " + files[1].first +
                       " nelze číst (je otevřen jiným programem nebo k němu chybí právo), nebude "
                       "odeslán."},
                      {1}, {0, 2});
}

// The temporary directory is a 64 KiB disk: the archive does not fit.
TEST_F(FaultRun, FullDiskInTheTemporaryDirectory) {
    SmallDisk disk(tmp / "temp", "64k");
    if (!disk.Mounted())
        GTEST_SKIP() << "no small disk for the temporary directory: " << disk.WhyNot();
    RunAuto();
    const std::string archive = tmp / "temp/_ftp_file.zip";
    ExpectFailed(
        Plus(UpToArchive(), {"Zazipováno celkem 2", "Zazipováno celkem 0; celková velikost 0 bytů",
                             "Zipování se nezdařilo. Výsledný soubor " + archive +
                                 " neexistuje nebo má nulovou velikost."}));
    EXPECT_FALSE(platform::FileExists(archive)) << "no half-written archive is left";
    EXPECT_EQ(ftp.Connections(), 0);
}

// The journal lives on a disk that fills up during the run: the run still
// sends the data and handles the data files, and the journal keeps what it
// held before.
TEST_F(FaultRun, JournalOnAFullDisk) {
    SmallDisk disk(tmp / "logdisk", "4k");
    if (!disk.Mounted())
        GTEST_SKIP() << "no small disk for the journal: " << disk.WhyNot();
    const std::string journal = tmp / "logdisk/journal.log";
    std::string earlier;
    for (int i = 0; earlier.size() < 3900; ++i)
        earlier += "5.3.2026 8:0:0 earlier line " + std::to_string(i) + "\r\n";
    testsupport::WriteBytes(journal, earlier);
    WriteSettingString("General", "CestaLog", journal);
    LogIn(ftp).Pasv().Store(kStor);
    AnswerSizeWhenConnecting(ftp);
    RunAuto();

    ExpectEndRequestedWithoutBoxes();
    EXPECT_EQ(ftp.Verify(), "");
    ExpectStoredIsTheEncryptedFile(ftp);
    ExpectAllDeleted();
    const std::string now = testsupport::ReadBytes(journal);
    EXPECT_EQ(now.substr(0, earlier.size()), earlier) << "the earlier journal is kept";
    EXPECT_LE(now.size(), 4096u);
}

} // namespace
