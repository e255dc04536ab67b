// A write as an unprivileged user into a folder that takes no new file.
#include "SettingsFixture.h"
#include "settings/Unitpom.h"

#include "tests/support/Shell.h"

#include <sys/stat.h>
#include <unistd.h>

using SettingsStore = SettingsFolder;

TEST_F(SettingsStore, WriteFailureInAFolderThatTakesNoNewFile) {
    // Run as an unprivileged user against a file it may read but whose folder
    // it cannot write; skipped where no such user switch is possible.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    WriteIni("[General]\r\nLogin=old\r\n");
    chmod(dir.Path().c_str(), 0755);
    chmod(IniPath().c_str(), 0644);
    std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
    char exe[4096];
    ssize_t n = readlink(self.c_str(), exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string out;
    int rc = testsupport::RunShell(
        "cd / && RODERUV_SETTINGS_DIR='" + dir.Path() +
            "' setpriv --reuid=65534 --regid=65534 --clear-groups '" + std::string(exe) +
            "' --gtest_filter=UnprivilegedWriter.* --gtest_also_run_disabled_tests 2>&1",
        &out);
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
