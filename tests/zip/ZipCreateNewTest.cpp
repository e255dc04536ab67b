// A fixed name in a folder others may write to: the archive is made only
// where nothing is, and whatever was planted there stays as it was.
#include "ZipTestSupport.h"
#include "platform/FileSystem.h"
#include "zip/Archive.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace ziptest;
using testsupport::ReadBytes;

TEST(ZipCreateNew, LeavesWhatIsThereAlone) {
    testsupport::TempFolder dir;
    const std::string path = dir / "_ftp_file.zip";
    const std::string victim = dir / "victim";
    testsupport::WriteBytes(victim, "keep me");
    testsupport::WriteBytes(path, "keep me");
    EXPECT_EQ(ArchiveCreateNew(path), nullptr);
    EXPECT_EQ(ReadBytes(path), "keep me");
#ifndef _WIN32
    platform::DeleteFile(path);
    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
    EXPECT_EQ(ArchiveCreateNew(path), nullptr);
    EXPECT_EQ(ReadBytes(victim), "keep me");
#endif
    platform::DeleteFile(path);
    ArchiveHandle* h = ArchiveCreateNew(path);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "victim", victim), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive archive;
    EXPECT_TRUE(WellFormed(path, archive));
}
