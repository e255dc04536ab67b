// Files held open by another program: what reading, replacing, copying and
// deleting do under Windows' share modes.
#include "platform/BinaryFile.h"
#include "platform/FileSystem.h"
#include "platform/RunLock.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <windows.h>
#undef DeleteFile // platform's own, not the system's ANSI/wide macros
#undef CopyFile

using namespace platform;
using platform::FileLock;
using platform::LockOutcome;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

// Another opener of a file, as another program would hold it.
class HeldOpen {
public:
    HeldOpen(const std::string& path, DWORD access, DWORD share) {
        h_ = CreateFileW(testsupport::NativePath(path).c_str(), access, share, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~HeldOpen() {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

TEST(Sharing, ASourceBeingWrittenIsNotReadButOtherReadersShare) {
    TempFolder dir;
    const std::string path = dir / "data.csv";
    WriteBytes(path, "a;b\n");
    {
        // A program still writing the file: reading it half-written is refused.
        HeldOpen writer(path, GENERIC_WRITE, kShareAll);
        ASSERT_TRUE(writer.Valid());
        EXPECT_FALSE(BinaryFile::OpenForReading(path));
    }
    {
        // Held with no sharing at all: its size and identity are still known,
        // so the file check does not take it for empty.
        HeldOpen exclusive(path, GENERIC_WRITE, 0);
        ASSERT_TRUE(exclusive.Valid());
        FileIdentity identity;
        EXPECT_EQ(FileSize(path), 4);
        EXPECT_TRUE(GetFileIdentity(path, identity));
    }
    {
        // Another reader: both read.
        HeldOpen reader(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(reader.Valid());
        auto file = BinaryFile::OpenForReading(path);
        ASSERT_TRUE(file);
        char buf[8];
        EXPECT_EQ(file->Read(buf, sizeof buf), 4);
        // While we read, nobody starts writing it.
        HeldOpen lateWriter(path, GENERIC_WRITE, kShareAll);
        EXPECT_FALSE(lateWriter.Valid());
    }
}

TEST(Sharing, TheArchiveBeingWrittenIsOpenToNobodyElse) {
    TempFolder dir;
    const std::string path = dir / "_ftp_file.zip";
    auto archive = BinaryFile::CreateForWriting(path);
    ASSERT_TRUE(archive);
    EXPECT_FALSE(HeldOpen(path, GENERIC_READ, kShareAll).Valid());
    EXPECT_FALSE(BinaryFile::CreateForWriting(path));
    EXPECT_FALSE(DeleteFile(path));
    ASSERT_TRUE(archive->Close());
    EXPECT_TRUE(DeleteFile(path));
}

TEST(Sharing, SettingsHeldWithoutShareDeleteAreNotReplacedAndStayWhole) {
    TempFolder dir;
    const std::string path = dir / "Settings.ini";
    WriteBytes(path, "[General]\r\nLogin=old\r\n");
    {
        HeldOpen other(path, GENERIC_READ, FILE_SHARE_READ);
        ASSERT_TRUE(other.Valid());
        EXPECT_FALSE(ReplaceFileAtomically(path, "[General]\r\nLogin=new\r\n"));
        // Our own reading shares everything, so it still works.
        std::string bytes;
        EXPECT_TRUE(ReadFileBytes(path, bytes));
        EXPECT_EQ(bytes, "[General]\r\nLogin=old\r\n");
    }
    EXPECT_EQ(ReadBytes(path), "[General]\r\nLogin=old\r\n");
    EXPECT_EQ(testsupport::ListFolder(dir.Path(), ' '), "Settings.ini ");
    EXPECT_TRUE(ReplaceFileAtomically(path, "[General]\r\nLogin=new\r\n"));
    EXPECT_EQ(ReadBytes(path), "[General]\r\nLogin=new\r\n");
}

TEST(Sharing, ADataFileInUseIsNeitherDeletedNorOverwrittenByACopy) {
    TempFolder dir;
    const std::string path = dir / "data.csv";
    WriteBytes(path, "data");
    WriteBytes(dir / "other.csv", "other");
    {
        HeldOpen user(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(user.Valid());
        EXPECT_FALSE(DeleteFile(path));
        EXPECT_FALSE(CopyFile(dir / "other.csv", path, false));
    }
    EXPECT_EQ(ReadBytes(path), "data");
    EXPECT_TRUE(DeleteFile(path));
}

TEST(Sharing, ACopyOfAReadOnlyFileIsFlushedAndKeepsTheAttribute) {
    TempFolder dir;
    const std::string path = dir / "data.csv";
    WriteBytes(path, "data");
    ASSERT_TRUE(SetFileAttributesW(testsupport::NativePath(path).c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFile(path, dir / "copy.csv", false));
    EXPECT_EQ(ReadBytes(dir / "copy.csv"), "data");
    FileInfo info;
    ASSERT_TRUE(GetFileInfo(dir / "copy.csv", info));
    EXPECT_FALSE(info.ownerWritable);
    EXPECT_FALSE(DeleteFile(path)); // read-only files are not deleted
}

// The run lock: a second holder (another handle, as another process has) is
// refused until the first lets go; the file itself stays open to others.
TEST(Sharing, TheRunLockIsRefusedToASecondHolderUntilReleased) {
    TempFolder dir;
    const std::string path = dir / "roderuv.lock";
    FileLock first, second;
    ASSERT_EQ(first.TryAcquire(path), LockOutcome::Acquired);
    EXPECT_EQ(second.TryAcquire(path), LockOutcome::HeldElsewhere);
    first.Release();
    EXPECT_EQ(second.TryAcquire(path), LockOutcome::Acquired);
}
