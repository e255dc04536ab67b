// The folder for a run's temporary files: $TMPDIR, else the user's own folder
// below /tmp, which is refused (never replaced by another) when it is not
// safely the user's.
#include "platform/Paths.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

struct TempCase {
    const char* name;
    std::function<void(const std::string& dir)> make; // what lies at the folder's name
    bool accepted;
};

void PrintTo(const TempCase& c, std::ostream* os) {
    *os << c.name;
}

class PrivateTemp : public testing::TestWithParam<TempCase> {
protected:
    PrivateTemp() { SetTempRootOverride(root.Path()); }
    ~PrivateTemp() override { SetTempRootOverride(""); }
    testsupport::TempFolder root;
};

TEST_P(PrivateTemp, IsUsedOnlyWhenItIsTheUsersOwn) {
    testsupport::ScopedEnv restore("TMPDIR", "");
    ::unsetenv("TMPDIR");
    const std::string dir = root / ("roderuv-" + std::to_string(::geteuid()));
    EXPECT_EQ(TempDir(), dir + "/");
    GetParam().make(dir);
    if (IsSkipped() || HasFatalFailure())
        return;
    struct stat before {};
    const bool existed = ::lstat(dir.c_str(), &before) == 0;

    EXPECT_EQ(PrepareTempDir(), GetParam().accepted);
    struct stat after {};
    ASSERT_EQ(::lstat(dir.c_str(), &after), 0);
    if (GetParam().accepted) {
        EXPECT_TRUE(S_ISDIR(after.st_mode));
        EXPECT_EQ(after.st_mode & 07777, 0700u);
        EXPECT_EQ(after.st_uid, ::geteuid());
    } else {
        ASSERT_TRUE(existed);
        EXPECT_EQ(after.st_mode, before.st_mode) << "a refused folder is left as it is";
        EXPECT_EQ(after.st_uid, before.st_uid);
    }
    // $TMPDIR, when set, is used as it is.
    ::setenv("TMPDIR", (root / "elsewhere").c_str(), 1);
    EXPECT_EQ(TempDir(), root / "elsewhere/");
    EXPECT_TRUE(PrepareTempDir());
}

auto Mkdir(mode_t mode) {
    return [mode](const std::string& dir) {
        ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(dir.c_str(), mode), 0);
    };
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PrivateTemp,
    testing::Values(TempCase{"Missing", [](const std::string&) {}, true},
                    TempCase{"OwnPrivate", Mkdir(0700), true},
                    TempCase{"OwnWithoutWriteRight", Mkdir(0500), true},
                    TempCase{"GroupReadable", Mkdir(0750), false},
                    TempCase{"OthersWritable", Mkdir(0703), false},
                    TempCase{"LinkToAPrivateFolder",
                             [](const std::string& dir) {
                                 Mkdir(0700)(dir + "-real");
                                 ASSERT_EQ(::symlink((dir + "-real").c_str(), dir.c_str()), 0);
                             },
                             false},
                    TempCase{"PlainFile",
                             [](const std::string& dir) { testsupport::WriteBytes(dir, "x"); },
                             false},
                    TempCase{"AnotherUsersFolder",
                             [](const std::string& dir) {
                                 if (::geteuid() != 0)
                                     GTEST_SKIP() << "giving a folder away needs root";
                                 Mkdir(0700)(dir);
                                 ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
                             },
                             false}),
    [](const testing::TestParamInfo<TempCase>& info) { return std::string(info.param.name); });

} // namespace
