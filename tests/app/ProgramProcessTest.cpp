// The real program in processes of its own, as cron or a service manager
// runs it: an unattended run started while another hangs, requests from the
// system to end the program during a run and outside one, and the exit
// status of each way an unattended run ends.
#include "AppFixture.h"

#include "app/RunLock.h"
#include "app/TerminationWatch.h"
#include "platform/FileSystem.h"
#include "settings/Unitpom.h"
#include "tests/support/FakeFtpServer.h"
#include "tests/support/GpgHome.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/System.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;

class Program : public AppFixture {
protected:
    Program() {
        gpg.SetUpApplicationFolder(tmp.Path());
        EXPECT_TRUE(platform::CopyFile(RODERUV_PROGRAM, exe, true));
        testsupport::RunShell("chmod +x " + testsupport::ShellQuote(exe));
        WriteGoodSettings();
        WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(silent.Port()));
        WriteSettingInteger("FilesMoveTo", 1);
        WriteSettingInteger("PocetSouboru", 1);
        WriteSettingString("Files", "File0", DataFile("léčba.csv", data));
        silent.SilentGreeting(50000); // connects, then nothing: a hung run
    }
    ~Program() override {
        for (pid_t pid : started)
            if (::kill(pid, SIGKILL) == 0)
                ::waitpid(pid, nullptr, 0);
    }

    // The program without a display; env (and setpriv, for an unprivileged
    // user) replaces itself, keeping the pid.
    pid_t Start(const char* arg, bool unprivileged = false) {
        const std::string tmpdir = "TMPDIR=" + tmp.Path();
        std::vector<const char*> argv;
        if (unprivileged)
            argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        argv.insert(argv.end(), {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM=offscreen", tmpdir.c_str(), exe.c_str()});
        if (arg != nullptr)
            argv.push_back(arg);
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawnp(&pid, argv[0], nullptr, nullptr,
                                 const_cast<char* const*>(argv.data()), environ),
                  0);
        started.push_back(pid);
        return pid;
    }

    // Polls until done() or the limit.
    static bool Until(const std::function<bool()>& done, std::chrono::seconds limit) {
        for (auto until = std::chrono::steady_clock::now() + limit;;) {
            if (done())
                return true;
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(20ms);
        }
    }
    // Waits for the end: the exit status, -1 when it did not exit within the
    // limit or was killed.
    static int ExitStatus(pid_t pid, std::chrono::seconds limit) {
        int status = -1;
        return Until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit) &&
                       WIFEXITED(status)
                   ? WEXITSTATUS(status)
                   : -1;
    }
    static bool EndsWithZero(pid_t pid, std::chrono::seconds limit) {
        return ExitStatus(pid, limit) == 0;
    }
    // True once the process has its handler for the signal in place.
    static bool Catches(pid_t pid, int signal) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
        return false;
    }
    // Journal lines holding the text (after their real-clock stamps).
    long Count(const std::string& text) const {
        const auto lines = JournalLines();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.size() >= text.size() &&
                   l.compare(l.size() - text.size(), text.size(), text) == 0;
        });
    }

    const std::string exe = tmp / "roderuv";
    const std::string data = testsupport::RandomBytes(50000, 3);
    testsupport::FakeFtpServer silent{60000};
    std::vector<pid_t> started;
    testsupport::GpgHome gpg; // after tmp: its agents end before the folder goes
};

// A run hangs on a server that never greets. The next scheduled run finds it
// going, does nothing and ends with status 0; then a request to end stops the
// hung run within seconds, the waits cancelled and the data file untouched.
TEST_F(Program, SecondRunWhileOneHangsThenTheHungOneIsStopped) {
    const pid_t hung = Start("/auto");
    ASSERT_TRUE(Until([&] { return silent.Connections() >= 1; }, 60s));

    EXPECT_TRUE(EndsWithZero(Start("/auto"), 60s));
    EXPECT_EQ(Count(kRunInProgressJournal), 1);
    EXPECT_EQ(Count("Start "), 1) << "the second run wrote nothing else";

    ASSERT_EQ(::kill(hung, SIGTERM), 0);
    EXPECT_TRUE(EndsWithZero(hung, 5s));
    EXPECT_EQ(Count(kRunStoppedJournal), 1);
    const std::string last = JournalLines().back();
    EXPECT_EQ(last.substr(last.find(' ', last.find(' ') + 1) + 1), kRunStoppedJournal)
        << "the cancelled wait's own failure is not journalled after it";
    EXPECT_EQ(silent.Connections(), 1);
    EXPECT_TRUE(silent.Commands().empty());
    EXPECT_TRUE(testsupport::ReadBytes(tmp / "léčba.csv") == data);
}

// A journal that is a FIFO nobody reads holds nothing: the run goes on to
// the server, and a request to end stops it there as ever.
TEST_F(Program, FifoJournalNeitherHoldsTheRunNorItsEnd) {
    ASSERT_EQ(::mkfifo(JournalPath().c_str(), 0600), 0);
    const pid_t run = Start("/auto");
    ASSERT_TRUE(Until([&] { return silent.Connections() >= 1; }, 20s));
    ASSERT_TRUE(Until([&] { return Catches(run, SIGTERM); }, 5s));
    ASSERT_EQ(::kill(run, SIGTERM), 0);
    EXPECT_TRUE(EndsWithZero(run, 5s));
    EXPECT_TRUE(testsupport::ReadBytes(tmp / "léčba.csv") == data);
}

// An unprivileged user cannot make the lock file in the application folder:
// the run does not start without it, and the journal says why.
TEST_F(Program, LockThatCannotBeMadeStopsTheRun) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    testsupport::WriteBytes(JournalPath(), "");
    ASSERT_EQ(::chown(JournalPath().c_str(), 65534, 65534), 0);
    ::chmod((tmp / "Settings.ini").c_str(), 0644);
    EXPECT_TRUE(EndsWithZero(Start("/auto", true), 30s));
    EXPECT_EQ(Count("Odesílání zrušeno - zámek " + tmp / "roderuv.lock" +
                    " nelze použít: soubor nelze vytvořit ani otevřít pro zápis."),
              1)
        << JournalBytes();
    EXPECT_EQ(Count("Start "), 0);
    EXPECT_EQ(silent.Connections(), 0);
}

// A request while gpg hangs (it started a child): gpg and its child end at
// once, nothing stays in the clear, the journal says the run was stopped.
TEST_F(Program, RequestWhileGpgHangsEndsGpgAndItsChild) {
    testsupport::WriteBytes(tmp / "gpg.exe",
                            "#!/bin/sh\n[ \"$1\" = --version ] && exit 0\ncd \"$(dirname "
                            "\"$0\")\"; sleep 60 & echo $! > child.pid; wait\n");
    const std::string pidFile = tmp / "child.pid";
    const pid_t run = Start("/auto");
    ASSERT_TRUE(Until([&] { return platform::FileSize(pidFile) > 0; }, 60s));
    ASSERT_EQ(::kill(run, SIGTERM), 0);
    EXPECT_TRUE(EndsWithZero(run, 5s));
    EXPECT_EQ(Count(kRunStoppedJournal), 1);
    EXPECT_TRUE(testsupport::ProcessEnded(std::stol(testsupport::ReadBytes(pidFile)), 3000));
    for (const auto& entry : std::filesystem::directory_iterator(tmp.Path()))
        EXPECT_EQ(entry.path().string().find(".zip"), std::string::npos) << entry.path();
    EXPECT_EQ(silent.Connections(), 0);
    EXPECT_TRUE(testsupport::ReadBytes(tmp / "léčba.csv") == data);
}

// Outside a run a request just ends the program, with status 0.
TEST_F(Program, RequestOutsideARunEndsTheProgram) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const pid_t pid = Start(nullptr);
        ASSERT_TRUE(Until([&] { return Catches(pid, signal); }, 30s));
        ::kill(pid, signal);
        EXPECT_TRUE(EndsWithZero(pid, 10s)) << signal;
    }
}

// ---- the exit status a scheduler sees ------------------------------------------

struct ExitRow {
    const char* name;
    const char* exitCode; // the setting's text; empty: no key
    int arrangement;      // the status whose way to end the run is made
    int status;
};

void PrintTo(const ExitRow& row, std::ostream* os) {
    *os << row.name;
}

// One unattended run of the real program, made to end as the row says.
class ExitStatusRun : public Program, public testing::WithParamInterface<ExitRow> {
protected:
    void Arrange(int status) {
        if (status == 0 || status == 10 || status == 11)
            UseRealServer();
        if (status == 7)
            UseFake(ftp.Greeting("421 Busy.").Close());
        if (status == 8)
            UseFake(LoggedIn().Reply("STOR *", "553 Not allowed."));
        if (status == 9)
            UseFake(LoggedIn().Store("STOR *").Reply("SIZE *", "213 12"));
        if (status == 1)
            WriteSettingString("General", "Login", "");
        if (status == 3)
            WriteSettingInteger("PocetSouboru", 0);
        if (status == 10) { // and a listed file that is not there
            WriteSettingInteger("PocetSouboru", 2);
            WriteSettingString("Files", "File1", tmp / "chybí.csv");
        }
        if (status == 11) { // no dated folder can be made under a file
            WriteSettingInteger("FilesMoveTo", 2);
            WriteSettingString("General", "FilesMoveToDir", DataFile("f", "x") + "/");
        }
        if (status == 2 || status == 4)
            std::filesystem::remove(tmp / (status == 2 ? "gpg.exe" : "léčba.csv"));
        if (status == 5 || status == 13) // an old archive that cannot go; no lock file
            std::filesystem::create_directories(tmp /
                                                (status == 5 ? "_ftp_file.zip/x" : "roderuv.lock"));
        if (status == 6) // answers the check, fails to encrypt
            testsupport::WriteBytes(tmp / "gpg.exe", "#!/bin/sh\n[ \"$1\" = --version ]\n");
        if (status == 12) {
            ASSERT_EQ(held.TryAcquire(tmp / "roderuv.lock"), platform::LockOutcome::Acquired);
        }
    }
    testsupport::FakeFtpServer& LoggedIn() {
        return ftp.LogIn("user", "heslo").Reply("TYPE L 8", "200 Type set.").Pasv();
    }
    void UseFake(const testsupport::FakeFtpServer& server) {
        WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(server.Port()));
    }
    void UseRealServer() {
        std::string why;
        real = testsupport::RealFtpServer::Start(testsupport::RealFtpKind::Pyftpdlib, &why);
        ASSERT_TRUE(real) << why;
        WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(real->Port()));
        WriteSettingString("General", "Login", real->User());
        WriteSettingString("General", "Heslo", EncodePassword(real->Password()));
    }
    testsupport::FakeFtpServer ftp;
    std::unique_ptr<testsupport::RealFtpServer> real;
    platform::FileLock held;
};

TEST_P(ExitStatusRun, EndsWithTheStatusOfWhereItStopped) {
    if (*GetParam().exitCode != '\0')
        WriteSettingString("General", "ExitCode", GetParam().exitCode);
    Arrange(GetParam().arrangement);
    const pid_t run = Start("/auto");
    if (GetParam().status == 14) { // stopped while the server is silent
        ASSERT_TRUE(Until([&] { return silent.Connections() >= 1 && Catches(run, SIGTERM); }, 60s));
        ASSERT_EQ(::kill(run, SIGTERM), 0);
    }
    EXPECT_EQ(ExitStatus(run, 60s), GetParam().status) << JournalBytes();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExitStatusRun,
    testing::Values(ExitRow{"Sent", "1", 0, 0}, ExitRow{"NoKeyKeepsZero", "", 1, 0},
                    ExitRow{"ZeroKeepsZero", "0", 4, 0}, ExitRow{"Settings", "1", 1, 1},
                    ExitRow{"GnuPG", "1", 2, 2}, ExitRow{"ListEmpty", "1", 3, 3},
                    ExitRow{"NoUsableFile", "1", 4, 4}, ExitRow{"Archive", "1", 5, 5},
                    ExitRow{"Encryption", "1", 6, 6}, ExitRow{"Connection", "yes", 7, 7},
                    ExitRow{"Upload", "1", 8, 8}, ExitRow{"CheckOfTheUpload", "1", 9, 9},
                    ExitRow{"SentButAFileMissing", "1", 10, 10},
                    ExitRow{"SentButNotMoved", "1", 11, 11}, ExitRow{"AnotherRun", "1", 12, 12},
                    ExitRow{"LockUnusable", "1", 13, 13}, ExitRow{"Stopped", "1", 14, 14}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
