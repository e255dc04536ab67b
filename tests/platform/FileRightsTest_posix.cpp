// Owners, modes and links of the files the program replaces, and special
// files where a data file is expected (POSIX only).
#include "platform/FileSystem.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

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

// A FIFO is no data file: copying one is refused at once instead of waiting
// in open() for a writer that never comes.
TEST(FileSystem, CopyRefusesAFifoWithoutWaiting) {
    TempFolder dir;
    const std::string fifo = dir / "data.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto copy = std::async(std::launch::async, [&] { return CopyFile(fifo, dir / "copy", false); });
    if (copy.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        ADD_FAILURE() << "the copy waited for a writer";
        const int writer = open(fifo.c_str(), O_WRONLY); // ends that wait
        if (writer >= 0)
            close(writer);
    }
    EXPECT_FALSE(copy.get());
    EXPECT_FALSE(FileExists(dir / "copy"));
}
