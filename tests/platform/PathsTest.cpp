#include "platform/Paths.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/System.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct PathCase {
    bool windows; // the system whose rules the case shows
    std::string path;
    std::string fileName;
    std::string fileDir;
    std::string filePath;
};

// Each system's own rules: on Windows the name follows the last backslash or
// colon, and a drive root keeps its backslash.
const PathCase kPathCases[] = {
    {false, "/data/tano/pacienti.csv", "pacienti.csv", "/data/tano", "/data/tano/"},
    {false, "pacienti.csv", "pacienti.csv", "", ""},
    {false, "/data/tano/", "", "/data/tano", "/data/tano/"},
    {false, "/soubor.txt", "soubor.txt", "/", "/"},
    {false, "data/x", "x", "data", "data/"},
    {false, "C:\\a\\b.txt", "C:\\a\\b.txt", "", ""},
    {true, "C:\\Data\\Tano\\pacienti.csv", "pacienti.csv", "C:\\Data\\Tano", "C:\\Data\\Tano\\"},
    {true, "C:\\pacienti.csv", "pacienti.csv", "C:\\", "C:\\"},
    {true, "C:pacienti.csv", "pacienti.csv", "C:", "C:"},
    {true, "\\soubor.txt", "soubor.txt", "\\", "\\"},
    {true, "_ftp_file.zip", "_ftp_file.zip", "", ""},
    {true, "\\\\server\\share\\a.csv", "a.csv", "\\\\server\\share", "\\\\server\\share\\"},
    {true, "C:\\Data\\", "", "C:\\Data", "C:\\Data\\"},
    {true, "/data/tano/a.csv", "/data/tano/a.csv", "", ""},
};

} // namespace

TEST(Paths, FileAndFolderPartsFollowTheSystemsRules) {
    int checked = 0;
    for (const auto& c : kPathCases) {
        if (c.windows != testsupport::OnWindows())
            continue;
        EXPECT_EQ(ExtractFileName(c.path), c.fileName) << c.path;
        EXPECT_EQ(ExtractFileDir(c.path), c.fileDir) << c.path;
        EXPECT_EQ(ExtractFilePath(c.path), c.filePath) << c.path;
        ++checked;
    }
    EXPECT_GE(checked, 6);
}

TEST(Paths, JoiningAddsOneSeparator) {
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(sep, testsupport::OnWindows() ? "\\" : "/");
    EXPECT_EQ(JoinPath(sep + "data", "a.csv"), sep + "data" + sep + "a.csv");
    EXPECT_EQ(JoinPath(sep + "data" + sep, "a.csv"), sep + "data" + sep + "a.csv");
    EXPECT_EQ(JoinPath(sep, "a.csv"), sep + "a.csv");
    EXPECT_EQ(JoinPath("", "a.csv"), "a.csv");
    EXPECT_EQ(IncludeTrailingSeparator(sep + "x"), sep + "x" + sep);
    EXPECT_EQ(IncludeTrailingSeparator(""), "");
}

TEST(Paths, TempDirIsTheUsersAndEndsWithSeparator) {
    // POSIX: $TMPDIR (without it, the user's own folder: TempDirTest). Windows: the folder
    // GetTempPathW names, which is %TMP% when set.
    const char* variable = testsupport::OnWindows() ? "TMP" : "TMPDIR";
    const std::string folder = testsupport::OnWindows() ? "C:\\Dočasné" : "/var/tmp";
    {
        testsupport::ScopedEnv env(variable, folder);
        EXPECT_EQ(TempDir(), folder + kPathSeparator);
    }
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), kPathSeparator);
}

TEST(Paths, ApplicationDirIsTheExecutablesFolderUnlessOverridden) {
    std::string dir = ApplicationDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), kPathSeparator);
    EXPECT_EQ(dir.find("/proc/"), std::string::npos);
    EXPECT_TRUE(testsupport::OnWindows() ? dir.find(":\\") == 1 : dir.front() == '/') << dir;
    const std::string other = testsupport::OnWindows() ? "C:\\RODERUV" : "/opt/roderuv";
    SetApplicationDirOverride(other);
    EXPECT_EQ(ApplicationDir(), other + kPathSeparator);
    SetApplicationDirOverride("");
    EXPECT_EQ(ApplicationDir(), dir);
}
