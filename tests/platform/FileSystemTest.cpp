#include "platform/FileSystem.h"
#include "tests/support/TempFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace platform;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

TEST(FileSystem, ExistenceAndSizeDistinguishFilesFromFolders) {
    TempFolder dir;
    WriteBytes(dir / "a.csv", "12345");
    EXPECT_TRUE(FileExists(dir / "a.csv"));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_FALSE(DirectoryExists(dir / "a.csv"));
    EXPECT_EQ(FileSize(dir / "a.csv"), 5);
    EXPECT_EQ(FileSize(dir / "missing"), -1);
    EXPECT_EQ(FileSize(""), -1);
}

TEST(FileSystem, SizeIsSixtyFourBit) {
    TempFolder dir;
    std::string path = dir / "sparse";
    WriteBytes(path, "");
    ASSERT_EQ(truncate(path.c_str(), 5LL * 1024 * 1024 * 1024), 0);
    EXPECT_EQ(FileSize(path), 5LL * 1024 * 1024 * 1024);
}

TEST(FileSystem, RenameAndCopyNeverOverwriteUnlessAsked) {
    TempFolder dir;
    WriteBytes(dir / "a", "A");
    WriteBytes(dir / "b", "B");
    EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));
    EXPECT_EQ(ReadBytes(dir / "b"), "B");
    EXPECT_FALSE(CopyFile(dir / "a", dir / "b", false));
    EXPECT_EQ(ReadBytes(dir / "b"), "B");
    EXPECT_TRUE(CopyFile(dir / "a", dir / "b", true));
    EXPECT_EQ(ReadBytes(dir / "b"), "A");
    EXPECT_TRUE(CopyFile(dir / "a", dir / "c", false));
    EXPECT_EQ(ReadBytes(dir / "c"), "A");
    EXPECT_TRUE(RenameFile(dir / "c", dir / "d"));
    EXPECT_FALSE(FileExists(dir / "c"));
    EXPECT_FALSE(CopyFile(dir / "missing", dir / "e", false));
    EXPECT_FALSE(FileExists(dir / "e"));
}

TEST(FileSystem, DeleteRemovesFilesOnly) {
    TempFolder dir;
    WriteBytes(dir / "a", "A");
    EXPECT_TRUE(DeleteFile(dir / "a"));
    EXPECT_FALSE(DeleteFile(dir / "a"));
    ASSERT_TRUE(CreateDir(dir / "sub"));
    EXPECT_FALSE(DeleteFile(dir / "sub"));
    EXPECT_FALSE(CreateDir(dir / "sub"));
    EXPECT_FALSE(CreateDir(dir / "no/such/parent"));
}

TEST(FileSystem, AtomicReplaceKeepsPermissionsAndLeavesNoTemporary) {
    TempFolder dir;
    std::string path = dir / "Settings.ini";
    ASSERT_TRUE(ReplaceFileAtomically(path, "one", 0600));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    chmod(path.c_str(), 0640);
    ASSERT_TRUE(ReplaceFileAtomically(path, "two", 0600));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadBytes(path), "two");
    // A folder in the file's place cannot be replaced, and is left alone.
    ASSERT_TRUE(CreateDir(dir / "blocked"));
    EXPECT_FALSE(ReplaceFileAtomically(dir / "blocked", "x"));
    EXPECT_TRUE(DirectoryExists(dir / "blocked"));
    std::string out;
    testsupport::RunShell("ls -A '" + dir.Path() + "'", &out);
    EXPECT_EQ(out, "Settings.ini\nblocked\n");
}

TEST(FileSystem, FileInfoGivesUtcLastWriteAndOwnerWrite) {
    TempFolder dir;
    std::string path = dir / "f";
    WriteBytes(path, "x");
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    chmod(path.c_str(), 0444);
    FileInfo info;
    ASSERT_TRUE(GetFileInfo(path, info));
    EXPECT_EQ(info.lastWrite, 1234567890);
    EXPECT_EQ(info.lastWriteNsec, 987654321);
    // A copy keeps the last-write time to the nanosecond.
    chmod(path.c_str(), 0644);
    ASSERT_TRUE(CopyFile(path, dir / "copy", false));
    FileInfo copy;
    ASSERT_TRUE(GetFileInfo(dir / "copy", copy));
    EXPECT_EQ(copy.lastWrite, 1234567890);
    EXPECT_EQ(copy.lastWriteNsec, 987654321);
    chmod(path.c_str(), 0444);
    EXPECT_EQ(info.lastAccess, 1000000000);
    EXPECT_FALSE(info.ownerWritable);
    EXPECT_FALSE(GetFileInfo(dir / "missing", info));
}

TEST(FileSystem, ReplaceGoesThroughLinksAndKeepsTheFilesOwner) {
    TempFolder dir;
    ASSERT_TRUE(CreateDir(dir / "real"));
    const std::string target = dir / "real/Settings.ini";
    const std::string link = dir / "Settings.ini";
    WriteBytes(target, "old");
    ASSERT_EQ(symlink("real/Settings.ini", link.c_str()), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
    }
    // The name a temporary file once had: a link planted there is not followed.
    const std::string planted = target + ".tmp" + std::to_string(getpid());
    ASSERT_EQ(symlink((dir / "victim").c_str(), planted.c_str()), 0);

    ASSERT_TRUE(ReplaceFileAtomically(link, "new", 0600, true));
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays";
    EXPECT_EQ(ReadBytes(target), "new");
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "group and others lose their rights";
    EXPECT_TRUE(!root || (st.st_uid == 65534u && st.st_gid == 65534u)) << "the owner stays";
    EXPECT_FALSE(PathExists(dir / "victim"));
}
