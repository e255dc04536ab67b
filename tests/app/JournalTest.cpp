// The run journal: bytes, time stamps, the "only the result" mode, the cut
// at 100,000 bytes and journals that cannot be written.
#include "AppFixture.h"
#include "FakeStages.h"

#include "platform/FileSystem.h"
#include "settings/Unitpom.h"

#include <cstdlib>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

class Journal : public AppFixture {
protected:
    Journal() {
        Stages() = FakeStages{};
        form = MakeForm();
        form->LogEnabled = true;
        form->LogPath = JournalPath();
    }
    ~Journal() override { Stages() = FakeStages{}; }

    std::unique_ptr<TForm1> form;
};

TEST_F(Journal, LinesAreWindows1250WithCrLf) {
    form->WriteLog("Kontrola nastavení", true);
    form->WriteLog("bez času", false);
    form->WriteLog("a\nb", false);
    EXPECT_EQ(JournalBytes(), "5.3.2026 9:5:7 Kontrola nastaven\xED\r\n"
                              "bez \xE8"
                              "asu\r\n"
                              "a\r\nb\r\n");
}

TEST_F(Journal, CzechLettersTakeOneByteEach) {
    form->WriteLog("ěščřžýáíéůúťďňĚŠČŘŽÝÁÍÉŮÚŤĎŇ", false);
    EXPECT_EQ(JournalBytes().size(), 28u + 2u);
    EXPECT_EQ(JournalLines(), (std::vector<std::string>{"ěščřžýáíéůúťďňĚŠČŘŽÝÁÍÉŮÚŤĎŇ"}));
}

TEST_F(Journal, CharacterOutsideTheCodePageBecomesAQuestionMark) {
    form->WriteLog("Soubor /data/漢.dat neexistuje.", false);
    EXPECT_EQ(JournalLines(), (std::vector<std::string>{"Soubor /data/?.dat neexistuje."}));
}

TEST_F(Journal, TimeStampHasNoLeadingZeros) {
    platform::SetClockSource([] { return platform::DateTime{2026, 11, 12, 14, 30, 0}; });
    form->WriteLog("x", true);
    platform::SetClockSource([] { return platform::DateTime{2027, 1, 2, 0, 0, 9}; });
    form->WriteLog("y", true);
    EXPECT_EQ(JournalLines(),
              (std::vector<std::string>{"12.11.2026 14:30:0 x", "2.1.2027 0:0:9 y"}));
}

TEST_F(Journal, DisabledWritesNothing) {
    form->LogEnabled = false;
    form->WriteLog("x", true);
    EXPECT_FALSE(platform::FileExists(JournalPath()));
}

TEST_F(Journal, OnlyTheResultModeKeepsTheLastLine) {
    form->LogDelete = true;
    form->WriteLog("first", true);
    form->WriteLog("second", true);
    EXPECT_EQ(JournalBytes(), "5.3.2026 9:5:7 second\r\n");
}

TEST_F(Journal, UnwritablePathsAreSkippedSilently) {
    for (const std::string& path :
         {std::string(), tmp / "no-such-folder/log.txt", tmp.Path() /* a folder */}) {
        form->LogPath = path;
        form->WriteLog("x", true);
        form->TrimLog();
    }
    EXPECT_TRUE(prompts.Requests().empty());
}

TEST_F(Journal, RunWithUnusableJournalBehavesAsWithoutJournal) {
    WriteGoodSettings();
    PutGpg();
    WriteSettingString("General", "CestaLog", tmp / "missing/Log.log");
    form->ListFiles->Add(DataFile("a.dat"));
    Stages().connectResult = false;
    Stages().connectError = "Connection Failed";
    ui::testing::Press(*form->ButtonStart);
    EXPECT_EQ(prompts.Messages(),
              (std::vector<std::string>{"Chyba při připojování k FTP serveru: Connection Failed"}));
    EXPECT_FALSE(platform::DirectoryExists(tmp / "missing"));
}

TEST_F(Journal, UseLogOffTouchesNoFile) {
    WriteGoodSettings(false);
    PutGpg();
    testsupport::WriteBytes(JournalPath(), std::string(150000, 'x'));
    form->ListFiles->Add(DataFile("a.dat"));
    ui::testing::Press(*form->ButtonStart);
    EXPECT_EQ(JournalBytes(), std::string(150000, 'x')) << "not written, not trimmed";
}

TEST_F(Journal, DeleteLogRunLeavesOneLine) {
    WriteGoodSettings();
    WriteSettingInteger("DeleteLog", 1);
    PutGpg();
    form->ListFiles->Add(DataFile("a.dat"));
    ui::testing::Press(*form->ButtonStart);
    EXPECT_EQ(JournalBytes(), "5.3.2026 9:5:7 Odesl\xE1n\xED dat na FTP server prob\xEChlo v "
                              "po\xF8\xE1"
                              "dku. Program bude ukon\xE8"
                              "en. \t\t\r\n");
}

// A journal of size n made of numbered CR LF lines of 10 bytes each.
std::string Filler(std::size_t n) {
    std::string s;
    int i = 0;
    while (s.size() < n) {
        char line[16];
        std::snprintf(line, sizeof line, "%08d\r\n", i++);
        s += line;
    }
    s.resize(n);
    return s;
}

TEST_F(Journal, BelowTheLimitTheJournalStaysWhole) {
    const std::string old = Filler(99999);
    testsupport::WriteBytes(JournalPath(), old);
    form->TrimLog();
    EXPECT_EQ(JournalBytes(), old);
}

TEST_F(Journal, AtTheLimitTheLast10000BytesAreKeptWithTheSeparator) {
    const std::string old = Filler(100000);
    testsupport::WriteBytes(JournalPath(), old);
    form->TrimLog();
    EXPECT_EQ(JournalBytes(), old.substr(90000) + "\r\n" + std::string(41, '-') + "\r\n");
}

TEST_F(Journal, CutInsideALineBreakStillGivesCrLf) {
    // The kept part starts with the LF of a CR LF pair: it is read as a line
    // break and written back as CR LF.
    const std::string tail = "\n" + std::string(9997, 'b') + "\r\n";
    testsupport::WriteBytes(JournalPath(), std::string(89999, 'a') + "\r" + tail);
    form->TrimLog();
    EXPECT_EQ(JournalBytes(), "\r" + tail + "\r\n" + std::string(41, '-') + "\r\n");
}

TEST_F(Journal, TrimReplacesTheFileThroughARename) {
#ifdef _WIN32
    GTEST_SKIP() << "tells the new file by its inode number, which Windows files have not";
#else
    testsupport::WriteBytes(JournalPath(), Filler(120000));
    struct stat before {};
    ASSERT_EQ(::stat(JournalPath().c_str(), &before), 0);
    form->TrimLog();
    struct stat after {};
    ASSERT_EQ(::stat(JournalPath().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed over the old one";
    EXPECT_EQ(after.st_size, 10000 + 45);
    // Nothing is left beside it.
    std::string listing;
    testsupport::RunShell("ls -A '" + tmp.Path() + "'", &listing);
    EXPECT_EQ(listing, "journal.log\n");
#endif
}

// A journal reached through a link is cut where it lies, the link kept; one
// in a folder that takes no new file (here for an unprivileged user) is cut
// in place rather than left to grow.
TEST_F(Journal, TrimFollowsALinkAndWorksWhereNoNewFileCanBeMade) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links and an unprivileged user (setpriv) are POSIX";
#else
    const std::string old = Filler(120000);
    const std::string trimmed = old.substr(110000) + "\r\n" + std::string(41, '-') + "\r\n";
    ::mkdir((tmp / "real").c_str(), 0755);
    const std::string target = tmp / "real/journal.log";
    testsupport::WriteBytes(target, old);
    ASSERT_EQ(::symlink(target.c_str(), JournalPath().c_str()), 0);
    form->TrimLog();
    EXPECT_TRUE(std::filesystem::is_symlink(JournalPath()));
    EXPECT_EQ(testsupport::ReadBytes(target), trimmed);

    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    testsupport::WriteBytes(target, old);
    ::chmod(tmp.Path().c_str(), 0755);
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    std::string out;
    const int rc =
        testsupport::RunShell("cd / && RODERUV_JOURNAL=" + testsupport::ShellQuote(JournalPath()) +
                                  " setpriv --reuid=65534 --regid=65534 --clear-groups /proc/" +
                                  std::to_string(::getpid()) +
                                  "/exe --gtest_filter=Journal.DISABLED_TrimAsAnotherUser "
                                  "--gtest_also_run_disabled_tests 2>&1",
                              &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(testsupport::ReadBytes(target), trimmed);
#endif
}

TEST_F(Journal, DISABLED_TrimAsAnotherUser) {
    form->LogPath = std::getenv("RODERUV_JOURNAL");
    form->TrimLog();
}

TEST_F(Journal, RunTrimsBeforeItsHeader) {
    WriteGoodSettings();
    PutGpg();
    const std::string old = Filler(100000);
    testsupport::WriteBytes(JournalPath(), old);
    ui::testing::Press(*form->ButtonStart); // empty list
    const std::string bytes = JournalBytes();
    const std::string kept = old.substr(90000) + "\r\n" + std::string(41, '-') + "\r\n";
    ASSERT_EQ(bytes.substr(0, kept.size()), kept);
    EXPECT_EQ(bytes.substr(kept.size(), 110),
              std::string(53, '-') + "\r\n" + std::string(53, '-') + "\r\n");
}

} // namespace
