// The store's key forms, defaults, passwords and write failures.
#include "SettingsFixture.h"
#include "settings/Unitpom.h"

#include "platform/FileSystem.h"

#include <sys/stat.h>

using SettingsStore = SettingsFolder;

TEST_F(SettingsStore, IntegerForms) {
    WriteIni("[General]\r\nHex=0x10\r\nHexUpper=0X1f\r\nMixed=12abc\r\nEmpty=\r\nNeg=-3\r\n"
             "Short=0x\r\nBadHex=0xZZ\r\nHuge=99999999999\r\nPlus=+7\r\n");
    EXPECT_EQ(ReadSettingInteger("Hex", 5), 16);
    EXPECT_EQ(ReadSettingInteger("HexUpper", 5), 31);
    EXPECT_EQ(ReadSettingInteger("Mixed", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Empty", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Neg", 5), -3);
    EXPECT_EQ(ReadSettingInteger("Short", 5), 5);
    EXPECT_EQ(ReadSettingInteger("BadHex", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Huge", 5), 5);
    EXPECT_EQ(ReadSettingInteger("Plus", 5), 7);
    EXPECT_EQ(ReadSettingInteger("Missing", 5), 5);
}

TEST_F(SettingsStore, IntegersAreWrittenAsDecimalTextInGeneral) {
    WriteSettingInteger("FilesMoveTo", 2);
    WriteSettingInteger("Delta", -15);
    WriteSettingString("", "PocetSouboru", "3"); // empty section means General
    EXPECT_EQ(ReadSettingInteger("PocetSouboru", 0), 3);
    EXPECT_EQ(IniBytes(), "[General]\r\nFilesMoveTo=2\r\nDelta=-15\r\nPocetSouboru=3\r\n");
}

TEST_F(SettingsStore, ProxyFlagAsTextAndAsInteger) {
    WriteIni("[General]\r\nProxy=1\r\n");
    EXPECT_NE(ReadSettingInteger("Proxy", 0), 0);
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "1");
    WriteIni("[General]\r\nProxy=0\r\n");
    EXPECT_EQ(ReadSettingInteger("Proxy", 0), 0);
    WriteIni("[General]\r\n");
    EXPECT_EQ(ReadSettingInteger("Proxy", 0), 0);
    EXPECT_EQ(ReadSettingString("", "Proxy", ""), "");
}

TEST_F(SettingsStore, NewFileIsReadableByItsOwnerOnly) {
    WriteSettingString("", "Heslo", EncodePassword("tajne"));
    struct stat st;
    ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsStore, PasswordsRoundTripAndKeepTheirStoredForm) {
    for (std::string pw : {"", "a", "ab", "abc", "heslo", "Příliš žluťoučký kůň"}) {
        WriteSettingString("", "Heslo", EncodePassword(pw));
        EXPECT_EQ(DecodePassword(ReadSettingString("", "Heslo", "")), pw) << pw;
    }
    WriteIni("");
    WriteSettingString("", "Heslo", EncodePassword("heslo"));
    EXPECT_EQ(IniBytes(), "[General]\r\nHeslo=aGVzbG8=\r\n");
    // 57 bytes: 76 characters and the line break stay part of the value.
    std::string pw57(57, 'x');
    WriteIni("");
    WriteSettingString("", "Heslo", EncodePassword(pw57));
    std::string b64 = IniBytes().substr(std::string("[General]\r\nHeslo=").size());
    EXPECT_EQ(b64.size(), 76u + 4u);
    EXPECT_EQ(b64.substr(76), "\r\n\r\n");
    EXPECT_EQ(DecodePassword(ReadSettingString("", "Heslo", "")), pw57);
    // Longer ones are kept on one line so that all of them survive.
    std::string pw100;
    for (int i = 0; i < 100; ++i)
        pw100 += static_cast<char>('A' + i % 26);
    pw100 += "ěščřžýáíé";
    WriteSettingString("", "Heslo", EncodePassword(pw100));
    WriteSettingString("", "After", "1");
    EXPECT_EQ(DecodePassword(ReadSettingString("", "Heslo", "")), pw100);
    EXPECT_EQ(ReadSettingString("", "After", ""), "1");
}

TEST_F(SettingsStore, TextOutsideWindows1250IsRefusedBeforeWriting) {
    WriteIni("[General]\r\nLogin=old\r\n");
    EXPECT_THROW(WriteSettingString("", "Login", "Ωmega"), ESettingsError);
    EXPECT_THROW(EncodePassword("пароль"), ESettingsError);
    EXPECT_EQ(IniBytes(), "[General]\r\nLogin=old\r\n");
}

TEST_F(SettingsStore, WriteFailureNamesTheFileAndKeepsTheOldContent) {
    // A folder in the file's place cannot be written, even by root.
    ASSERT_TRUE(platform::CreateDir(IniPath()));
    ASSERT_TRUE(platform::CreateDir(IniPath() + "/keep"));
    try {
        WriteSettingString("", "Login", "novak");
        FAIL() << "no error raised";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniPath());
    }
    EXPECT_EQ(ReadSettingString("", "Login", "dflt"), "dflt");
}

// Runs the given disabled tests of this binary as an unprivileged user, with
// the settings folder in RODERUV_SETTINGS_DIR; its exit status.
int RunAsNobody(const std::string& folder, const std::string& filter, std::string& out) {
    std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
    char exe[4096];
    ssize_t n = readlink(self.c_str(), exe, sizeof exe - 1);
    if (n <= 0)
        return -1;
    exe[n] = 0;
    return testsupport::RunShell("cd / && RODERUV_SETTINGS_DIR='" + folder +
                                     "' setpriv --reuid=65534 --regid=65534 --clear-groups '" +
                                     std::string(exe) + "' --gtest_filter=" + filter +
                                     " --gtest_also_run_disabled_tests 2>&1",
                                 &out);
}

TEST_F(SettingsStore, WriteFailureInAFolderThatTakesNoNewFile) {
    // Run as an unprivileged user against a file it may read but whose folder
    // it cannot write; skipped where no such user switch is possible.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    WriteIni("[General]\r\nLogin=old\r\n");
    chmod(dir.Path().c_str(), 0755);
    chmod(IniPath().c_str(), 0644);
    std::string out;
    int rc = RunAsNobody(dir.Path(), "UnprivilegedWriter.DISABLED_WriteRaises", out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("Unable to write to " + IniPath()), std::string::npos) << out;
    EXPECT_EQ(IniBytes(), "[General]\r\nLogin=old\r\n");
}

// Runs only inside the child started above, as the unprivileged user.
TEST(UnprivilegedWriter, DISABLED_WriteRaises) {
    const char* folder = getenv("RODERUV_SETTINGS_DIR");
    ASSERT_NE(folder, nullptr);
    platform::SetApplicationDirOverride(folder);
    EXPECT_EQ(ReadSettingString("", "Login", ""), "old");
    try {
        WriteSettingString("", "Login", "new");
        ADD_FAILURE() << "no error raised";
    } catch (const ESettingsError& e) {
        std::printf("%s\n", e.what());
    }
}

// A file holding a password loses the rights of group and others when it is
// written; another file keeps its bits.
TEST_F(SettingsStore, PasswordsMakeTheFileTheOwnersOnly) {
    for (const auto& [ini, before, after] : std::vector<std::tuple<std::string, mode_t, mode_t>>{
             {"[General]\r\nHeslo=aGVzbG8=\r\n", 0644, 0600},
             {"[General]\r\nProxyHeslo=eA==\r\n", 0604, 0600},
             {"[General]\r\nHeslo=\r\nProxyHeslo=\r\n", 0644, 0644},
             {"[Files]\r\nHeslo=x\r\n", 0640, 0640}}) {
        WriteIni(ini);
        chmod(IniPath().c_str(), before);
        WriteSettingString("", "Login", "novak");
        struct stat st;
        ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, after) << ini;
    }
}

// The owner writes a file whose group it is not in: it cannot keep that
// group (and need not), and the write still succeeds.
TEST_F(SettingsStore, OwnerOutsideTheFilesGroupStillWritesIt) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    WriteIni("[General]\r\nHeslo=aGVzbG8=\r\n");
    ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(IniPath().c_str(), 65534, 0), 0);
    chmod(IniPath().c_str(), 0640);
    std::string out;
    EXPECT_EQ(RunAsNobody(dir.Path(), "UnprivilegedWriter.DISABLED_WriteSucceeds", out), 0) << out;
    EXPECT_EQ(IniBytes(), "[General]\r\nHeslo=aGVzbG8=\r\nLogin=new\r\n");
    struct stat st;
    ASSERT_EQ(stat(IniPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, 65534u);
}

TEST(UnprivilegedWriter, DISABLED_WriteSucceeds) {
    platform::SetApplicationDirOverride(getenv("RODERUV_SETTINGS_DIR"));
    WriteSettingString("", "Login", "new");
}

TEST_F(SettingsStore, BatchGivesTheSameFileAsTheSingleOperations) {
    const std::string start = "[General]\r\nLogin=novak\r\nPocetSouboru=5\r\n\r\n[Files]\r\n"
                              "File0=/old/a\r\n[Other]\r\nX=1\r\n";
    auto steps = [](auto erase, auto write) {
        erase("Files");
        write("General", "PocetSouboru", "2");
        write("Files", "File0", "/data/léčba.csv");
        write("Files", "File1", "/data/b.csv");
        write("", "LastFolder", "/data");
    };
    WriteIni(start);
    steps([](const std::string& s) { EraseSettingSection(s); },
          [](const std::string& s, const std::string& k, const std::string& v) {
              WriteSettingString(s, k, v);
          });
    const std::string single = IniBytes();

    WriteIni(start);
    SettingsBatch batch;
    steps([&](const std::string& s) { batch.EraseSection(s); },
          [&](const std::string& s, const std::string& k, const std::string& v) {
              batch.WriteString(s, k, v);
          });
    EXPECT_EQ(IniBytes(), start) << "nothing is written before Commit";
    batch.Commit();
    EXPECT_EQ(IniBytes(), single);
    EXPECT_EQ(ReadSettingStrings("Files", {"File1", "File0", "File9"}, "-"),
              (std::vector<std::string>{"/data/b.csv", "/data/léčba.csv", "-"}));
}

TEST_F(SettingsStore, BatchWithoutAFileCreatesItOnlyWhenItWrites) {
    {
        SettingsBatch erasing;
        erasing.EraseSection("Files");
        erasing.Commit();
    }
    EXPECT_FALSE(platform::FileExists(IniPath()));
    SettingsBatch batch;
    batch.EraseSection("Files");
    batch.WriteString("General", "PocetSouboru", "0");
    batch.Commit();
    EXPECT_EQ(IniBytes(), "[General]\r\nPocetSouboru=0\r\n");
}

TEST_F(SettingsStore, FailedBatchLeavesTheOldFileWhole) {
    WriteIni("[General]\r\nPocetSouboru=1\r\n[Files]\r\nFile0=/a\r\n");
    SettingsBatch batch;
    batch.EraseSection("Files");
    batch.WriteString("General", "PocetSouboru", "1");
    EXPECT_THROW(batch.WriteString("Files", "File0", "Ωmega"), ESettingsError);
    // The caller leaves without Commit: the file is as before.
    EXPECT_EQ(IniBytes(), "[General]\r\nPocetSouboru=1\r\n[Files]\r\nFile0=/a\r\n");
    ASSERT_TRUE(platform::DeleteFile(IniPath()));
    ASSERT_TRUE(platform::CreateDir(IniPath()));
    EXPECT_THROW(SettingsBatch(), ESettingsError);
}
