#include "platform/FileSystem.h"
#include "platform/BinaryFile.h"
#include "tests/support/Files.h"
#include "tests/support/System.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

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
    std::filesystem::resize_file(testsupport::NativePath(path), 5LL * 1024 * 1024 * 1024);
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

TEST(FileSystem, AtomicReplaceLeavesNoTemporaryAndSparesFoldersAndReadOnlyFiles) {
    TempFolder dir;
    std::string path = dir / "Settings.ini";
    ASSERT_TRUE(ReplaceFileAtomically(path, "one", 0600));
    ASSERT_TRUE(ReplaceFileAtomically(path, "two", 0600));
    EXPECT_EQ(ReadBytes(path), "two");
    // A folder in the file's place cannot be replaced, and is left alone.
    ASSERT_TRUE(CreateDir(dir / "blocked"));
    EXPECT_FALSE(ReplaceFileAtomically(dir / "blocked", "x"));
    EXPECT_TRUE(DirectoryExists(dir / "blocked"));
    // Nor is a file its owner made read-only.
    testsupport::SetReadOnly(path, true);
    EXPECT_FALSE(ReplaceFileAtomically(path, "three"));
    EXPECT_EQ(ReadBytes(path), "two");
    EXPECT_EQ(testsupport::ListFolder(dir.Path(), ' '), "Settings.ini blocked ");
}

TEST(FileSystem, AtomicReplaceKeepsPermissions) {
    if (testsupport::OnWindows())
        GTEST_SKIP() << "no file modes on Windows: a new file takes its folder's access rights";
    namespace fs = std::filesystem;
    TempFolder dir;
    std::string path = dir / "Settings.ini";
    ASSERT_TRUE(ReplaceFileAtomically(path, "one", 0600));
    const auto native = testsupport::NativePath(path);
    EXPECT_EQ(fs::status(native).permissions(), fs::perms(0600));
    fs::permissions(native, fs::perms(0640));
    ASSERT_TRUE(ReplaceFileAtomically(path, "two", 0600));
    EXPECT_EQ(fs::status(native).permissions(), fs::perms(0640));
}

TEST(FileSystem, FileInfoGivesUtcLastWriteAndOwnerWrite) {
    TempFolder dir;
    std::string path = dir / "f";
    WriteBytes(path, "x");
    testsupport::SetFileTimes(path, 1000000000, 1234567890, 987654300);
    testsupport::SetReadOnly(path, true);
    FileInfo info;
    ASSERT_TRUE(GetFileInfo(path, info));
    EXPECT_EQ(info.lastWrite, 1234567890);
    EXPECT_EQ(info.lastWriteNsec, 987654300);
    // A copy keeps the last-write time to the nanosecond.
    testsupport::SetReadOnly(path, false);
    ASSERT_TRUE(CopyFile(path, dir / "copy", false));
    FileInfo copy;
    ASSERT_TRUE(GetFileInfo(dir / "copy", copy));
    EXPECT_EQ(copy.lastWrite, 1234567890);
    EXPECT_EQ(copy.lastWriteNsec, 987654300);
    testsupport::SetReadOnly(path, true);
    EXPECT_EQ(info.lastAccess, 1000000000);
    EXPECT_FALSE(info.ownerWritable);
    EXPECT_FALSE(GetFileInfo(dir / "missing", info));
    auto open = BinaryFile::OpenForReading(path);
    ASSERT_TRUE(open);
    FileInfo fromHandle;
    ASSERT_TRUE(open->GetInfo(fromHandle));
    EXPECT_EQ(fromHandle.lastWrite, 1234567890);
    // Read again: on Linux "created" is the status-change time, which the
    // mode changes above have moved (across a second, now and then).
    FileInfo byPath;
    ASSERT_TRUE(GetFileInfo(path, byPath));
    EXPECT_EQ(fromHandle.created, byPath.created);
    EXPECT_FALSE(fromHandle.ownerWritable);
}

// The identity of the handle a file was read through is its path's; a file
// put in its place with the same size and times differs, and so does the
// same file rewritten with its times put back.
TEST(FileSystem, IdentityTellsAReplacedOrRewrittenFile) {
    TempFolder dir;
    const std::string path = dir / "data.csv";
    const auto identityAfter = [&](const char* bytes, bool replace) {
        WriteBytes(replace ? dir / "new" : path, bytes);
        testsupport::SetFileTimes(replace ? dir / "new" : path, 1000000000, 1234567890, 500);
        EXPECT_TRUE(!replace || (DeleteFile(path) && RenameFile(dir / "new", path)));
        FileIdentity fromPath, fromHandle;
        auto open = BinaryFile::OpenForReading(path);
        EXPECT_TRUE(open && open->GetIdentity(fromHandle) && GetFileIdentity(path, fromPath));
        EXPECT_EQ(fromHandle, fromPath);
        return fromPath;
    };
    FileIdentity first = identityAfter("1;a", false);
    const FileIdentity replaced = identityAfter("2;b", true);
    EXPECT_FALSE(replaced == first) << "another file in its place";
    EXPECT_FALSE(identityAfter("3;c", false) == replaced) << "rewritten in place";
    EXPECT_FALSE(GetFileIdentity(dir / "missing", first));
}

TEST(FileSystem, CzechNamesThroughEveryOperation) {
    TempFolder dir;
    const std::string name = "Příliš žluťoučký kůň.csv";
    const std::string moved = "úpěl ďábelské ódy.csv";
    const std::string path = dir / name;
    auto file = BinaryFile::CreateForWriting(path);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Write("12345", 5), 5u);
    ASSERT_TRUE(file->Close());
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(FileSize(path), 5);
    FileInfo info;
    EXPECT_TRUE(GetFileInfo(path, info));
    EXPECT_EQ(info.size, 5);
    ASSERT_TRUE(RenameFile(path, dir / moved));
    ASSERT_TRUE(CopyFile(dir / moved, path, false));
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_EQ(bytes, "12345");
    ASSERT_TRUE(CreateDir(dir / "Čtvrtletí"));
    // The names on disk are the letters themselves, not code-page stand-ins.
    EXPECT_EQ(testsupport::ListFolder(dir.Path(), '|'), name + "|" + moved + "|Čtvrtletí|");
    EXPECT_TRUE(DeleteFile(dir / moved));
    EXPECT_FALSE(PathExists(dir / moved));
    EXPECT_TRUE(DirectoryExists(dir / "Čtvrtletí"));
}
