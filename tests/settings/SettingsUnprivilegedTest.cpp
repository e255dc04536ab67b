// File rights of Settings.ini on POSIX systems: a write as an unprivileged
// user into a folder that takes no new file, and the modes and owner of a
// file holding passwords.
#include "SettingsFixture.h"
#include "settings/Unitpom.h"

#include "tests/support/Shell.h"

#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using SettingsStore = SettingsFolder;

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
