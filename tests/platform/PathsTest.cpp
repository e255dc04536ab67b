#include "platform/Paths.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace platform;

TEST(Paths, FileNamePartIsEverythingAfterTheLastSeparator) {
    EXPECT_EQ(ExtractFileName("/data/tano/pacienti.csv"), "pacienti.csv");
    EXPECT_EQ(ExtractFileName("pacienti.csv"), "pacienti.csv");
    EXPECT_EQ(ExtractFileName("/data/tano/"), "");
    EXPECT_EQ(ExtractFileName("/soubor.txt"), "soubor.txt");
}

TEST(Paths, FolderPartKeepsOnlyTheRootsSeparator) {
    EXPECT_EQ(ExtractFileDir("/data/tano/pacienti.csv"), "/data/tano");
    EXPECT_EQ(ExtractFileDir("/pacienti.csv"), "/");
    EXPECT_EQ(ExtractFileDir("pacienti.csv"), "");
    EXPECT_EQ(ExtractFileDir("data/x"), "data");
    EXPECT_EQ(ExtractFilePath("/data/tano/x.csv"), "/data/tano/");
}

TEST(Paths, JoiningAddsOneSeparator) {
    EXPECT_EQ(JoinPath("/data", "a.csv"), "/data/a.csv");
    EXPECT_EQ(JoinPath("/data/", "a.csv"), "/data/a.csv");
    EXPECT_EQ(JoinPath("/", "a.csv"), "/a.csv");
    EXPECT_EQ(JoinPath("", "a.csv"), "a.csv");
    EXPECT_EQ(IncludeTrailingSeparator("/x"), "/x/");
    EXPECT_EQ(IncludeTrailingSeparator(""), "");
}

TEST(Paths, ApplicationDirIsTheExecutablesFolderUnlessOverridden) {
    std::string dir = ApplicationDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.find("/proc/"), std::string::npos);
    SetApplicationDirOverride("/opt/roderuv");
    EXPECT_EQ(ApplicationDir(), "/opt/roderuv/");
    SetApplicationDirOverride("");
    EXPECT_EQ(ApplicationDir(), dir);
}
