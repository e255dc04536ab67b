// The folder for a run's temporary files: $TMPDIR, else the user's own folder
// below /tmp; when that is not safely theirs, it is left alone and a fresh
// private folder beside it serves the run, removed again afterwards.
#include "platform/Paths.h"
#include "tests/support/Files.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace platform;

TEST(PrivateTemp, UsedOnlyWhenItIsTheUsersOwn) {
    const auto folder = [](mode_t mode) {
        return [mode](const std::string& dir) {
            return ::mkdir(dir.c_str(), 0700) == 0 && ::chmod(dir.c_str(), mode) == 0;
        };
    };
    const std::vector<std::tuple<const char*, std::function<bool(const std::string&)>, bool>> rows =
        {
            {"missing", [](const std::string&) { return true; }, true},
            {"own, no write right", folder(0500), true},
            {"group may read", folder(0750), false},
            {"others may write", folder(0703), false},
            {"link to a private folder",
             [&](const std::string& dir) {
                 return folder(0700)(dir + "-real") &&
                        ::symlink((dir + "-real").c_str(), dir.c_str()) == 0;
             },
             false},
            {"plain file",
             [](const std::string& dir) {
                 testsupport::WriteBytes(dir, "x");
                 return true;
             },
             false},
            {"another user's folder",
             [&](const std::string& dir) {
                 return folder(0700)(dir) &&
                        (::geteuid() != 0 || ::chown(dir.c_str(), 65534, 65534) == 0);
             },
             ::geteuid() != 0},
        };
    testsupport::ScopedEnv restore("TMPDIR", "");
    for (const auto& [name, make, accepted] : rows) {
        ::unsetenv("TMPDIR");
        testsupport::TempFolder root;
        SetTempRootOverride(root.Path());
        const std::string dir = root / ("roderuv-" + std::to_string(::geteuid()));
        EXPECT_EQ(TempDir(), dir + "/") << name;
        ASSERT_TRUE(make(dir)) << name;
        struct stat before {};
        struct stat after {};
        ::lstat(dir.c_str(), &before);
        EXPECT_TRUE(PrepareTempDir()) << name;
        ASSERT_EQ(::lstat(dir.c_str(), &after), 0) << name;
        const std::string used = TempDir();
        struct stat fresh {};
        ASSERT_EQ(::lstat(used.c_str(), &fresh), 0) << name;
        EXPECT_TRUE(S_ISDIR(fresh.st_mode) && (fresh.st_mode & 07777) == 0700 &&
                    fresh.st_uid == ::geteuid())
            << name;
        EXPECT_EQ(RefusedTempDir(), accepted ? "" : dir) << name;
        if (!accepted) {
            EXPECT_TRUE(after.st_mode == before.st_mode && after.st_uid == before.st_uid)
                << name << ": left as it is";
            EXPECT_EQ(used.rfind(dir + "-", 0), 0u) << name << ": a fresh folder beside it";
            testsupport::WriteBytes(used + "_ftp_file.zip", "x");
            ReleaseTempDir();
            EXPECT_NE(::access(used.c_str(), F_OK), 0) << name << ": removed after the run";
            EXPECT_EQ(TempDir(), dir + "/") << name;
        }
        // $TMPDIR, when set, is used as it is.
        ::setenv("TMPDIR", (root / "elsewhere").c_str(), 1);
        EXPECT_EQ(TempDir(), root / "elsewhere/");
        EXPECT_TRUE(PrepareTempDir());
        SetTempRootOverride("");
    }
}
