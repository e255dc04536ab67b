// A disk that cannot take more data, made real with a file size limit in a
// child process and with a small tmpfs: the writer reports ArchiveWriteFailed,
// cuts the failed entry back and keeps the archive valid.
#include "ZipTestSupport.h"
#include "tests/support/Shell.h"
#include "zip/Archive.h"

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::RunShell;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

struct Addition {
    std::string name, source;
};

// Writes the archive in a child process whose files may not grow past
// limit bytes; returns the result of every addition, then of closing.
std::vector<ArchiveResult> WriteLimited(const std::string& archive,
                                        const std::vector<Addition>& additions, rlim_t limit) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
        struct rlimit rl = {limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            _exit(2);
        std::vector<ArchiveResult> results;
        ArchiveHandle* h = ArchiveCreate(archive);
        if (!h)
            _exit(3);
        for (const auto& a : additions)
            results.push_back(ArchiveAddFile(h, a.name, a.source));
        results.push_back(ArchiveClose(h));
        const size_t bytes = results.size() * sizeof(ArchiveResult);
        _exit(write(fds[1], results.data(), bytes) == static_cast<ssize_t>(bytes) ? 0 : 4);
    }
    close(fds[1]);
    std::vector<ArchiveResult> results(additions.size() + 1);
    const size_t bytes = results.size() * sizeof(ArchiveResult);
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = read(fds[0], reinterpret_cast<char*>(results.data()) + got, bytes - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    if (got != bytes)
        return {};
    return results;
}

class ZipDiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(dir / "small.txt", "id;value\n1;2\n");
        WriteBytes(dir / "big.txt", RandomBytes(1 << 20, 5));
        WriteBytes(dir / "big.zip", RandomBytes(1 << 20, 6));
    }
    TempFolder dir;
};

TEST_F(ZipDiskFull, FailedEntriesAreReportedAndCutBack) {
    const std::string archive = dir / "limited.zip";
    const auto results = WriteLimited(archive,
                                      {{"small.txt", dir / "small.txt"},
                                       {"big.txt", dir / "big.txt"},
                                       {"big.zip", dir / "big.zip"},
                                       {"again.txt", dir / "small.txt"}},
                                      256 * 1024);
    ASSERT_EQ(results, (std::vector<ArchiveResult>{ArchiveOk, ArchiveWriteFailed,
                                                   ArchiveWriteFailed, ArchiveOk, ArchiveOk}));
    Archive a;
    ASSERT_TRUE(PassesEverything(archive, a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[0].name, "small.txt");
    EXPECT_EQ(a.central[1].name, "again.txt");
}

TEST_F(ZipDiskFull, FullDiskInTheDirectoryIsReported) {
    // The entries fit; the central directory does not.
    const std::string archive = dir / "nodir.zip";
    const std::vector<Addition> additions = {{"small.txt", dir / "small.txt"},
                                             {"again.txt", dir / "small.txt"}};
    auto results = WriteLimited(archive, additions, 1 << 20);
    ASSERT_EQ(results, (std::vector<ArchiveResult>{ArchiveOk, ArchiveOk, ArchiveOk}));
    Archive a;
    ASSERT_TRUE(PassesEverything(archive, a));
    const rlim_t entriesEnd = a.end.directoryOffset;
    results = WriteLimited(archive, additions, entriesEnd + 70);
    EXPECT_EQ(results, (std::vector<ArchiveResult>{ArchiveOk, ArchiveOk, ArchiveWriteFailed}));
    EXPECT_EQ(ReadBytes(archive).size(), entriesEnd + 70);
}

TEST_F(ZipDiskFull, SmallTmpfs) {
    const std::string mountPoint = dir / "small-disk";
    ASSERT_EQ(RunShell("mkdir " + testsupport::ShellQuote(mountPoint)), 0);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const std::string archive = mountPoint + "/a.zip";
    ArchiveHandle* h = ArchiveCreate(archive);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "small.txt", dir / "small.txt"), ArchiveOk);
    EXPECT_EQ(ArchiveAddFile(h, "big.txt", dir / "big.txt"), ArchiveWriteFailed);
    EXPECT_EQ(ArchiveAddFile(h, "big.zip", dir / "big.zip"), ArchiveWriteFailed);
    EXPECT_EQ(ArchiveAddFile(h, "again.txt", dir / "small.txt"), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    const std::string copy = dir / "copy.zip";
    WriteBytes(copy, ReadBytes(archive));
    EXPECT_EQ(umount(mountPoint.c_str()), 0);
    Archive a;
    ASSERT_TRUE(PassesEverything(copy, a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[1].name, "again.txt");
}

} // namespace
