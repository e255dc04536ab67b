// What the format cannot hold (4 GiB sizes and offsets, 65,535 entries) is
// refused, each with its own result, and the archive stays valid without it.
#include "ZipTestSupport.h"
#include "platform/FileSystem.h"
#include "zip/Archive.h"

#include <chrono>
#include <filesystem>

using namespace ziptest;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

// Without opening it: the writer shares the archive with nobody.
int64_t SizeOf(const std::string& path) {
    return platform::FileSize(path);
}

TEST(ZipLimits, SourceOf4GiBIsRefusedUpFront) {
    TempFolder dir;
    // Sparse: takes no disk space, and must never be read.
    for (const auto& [name, size] : {std::pair<const char*, uint64_t>{"huge.txt", 1ull << 32},
                                     {"almost.txt", 4294967295ull}}) {
        WriteBytes(dir / name, "");
        std::filesystem::resize_file(testsupport::NativePath(dir / name), size);
    }
    WriteBytes(dir / "small.txt", "small");
    const std::string archive = dir / "a.zip";
    ArchiveHandle* h = ArchiveCreate(archive);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "small.txt", dir / "small.txt"), ArchiveOk);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ArchiveAddFile(h, "huge.txt", dir / "huge.txt"), ArchiveSourceTooLarge);
    EXPECT_EQ(ArchiveAddFile(h, "huge.zip", dir / "huge.txt"), ArchiveSourceTooLarge);
    EXPECT_EQ(ArchiveAddFile(h, "almost.txt", dir / "almost.txt"), ArchiveSourceTooLarge);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(ArchiveAddFile(h, "small2.txt", dir / "small.txt"), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archive, a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[1].name, "small2.txt");
}

TEST(ZipLimits, EntryThatWouldPassTheOffsetLimitIsCutBack) {
    TempFolder dir;
    WriteBytes(dir / "first.bin", RandomBytes(150000, 1));
    WriteBytes(dir / "second.bin", RandomBytes(100000, 2));
    WriteBytes(dir / "second.zip", RandomBytes(100000, 2));
    WriteBytes(dir / "small.txt", "small");
    const std::string archive = dir / "a.zip";
    // The same checks as at 4 GiB, with a limit a test can reach quickly.
    zip::TZip zip(zip::TZipLimits{200000, 65535});
    ASSERT_EQ(zip.Create(archive), ArchiveOk);
    EXPECT_EQ(zip.AddFile("first.bin", (dir / "first.bin").c_str()), ArchiveOk);
    const int64_t afterFirst = SizeOf(archive);
    // Deflated: found out while writing, then cut back to where it began.
    EXPECT_EQ(zip.AddFile("second.bin", (dir / "second.bin").c_str()), ArchiveFull);
    EXPECT_EQ(SizeOf(archive), afterFirst);
    // Stored: its size is known, so it is refused before anything is written.
    EXPECT_EQ(zip.AddFile("second.zip", (dir / "second.zip").c_str()), ArchiveFull);
    EXPECT_EQ(SizeOf(archive), afterFirst);
    EXPECT_EQ(zip.AddFile("small.txt", (dir / "small.txt").c_str()), ArchiveOk);
    EXPECT_EQ(zip.Close(), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archive, a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[1].name, "small.txt");
    EXPECT_EQ(a.central[1].localOffset, afterFirst);
}

TEST(ZipLimits, The65536thEntryIsRefused) {
    if (testsupport::OnWindows())
        GTEST_SKIP() << "65,535 opens through Wine's server take minutes; the count is checked "
                        "by the same code in the Linux run";
    TempFolder dir;
    WriteBytes(dir / "e", "");
    const std::string source = dir / "e";
    const std::string archive = dir / "many.zip";
    ArchiveHandle* h = ArchiveCreate(archive);
    ASSERT_NE(h, nullptr);
    int failures = 0;
    for (int i = 0; i < 65535; ++i)
        failures += ArchiveAddFile(h, std::to_string(i), source) != ArchiveOk;
    EXPECT_EQ(failures, 0);
    const int64_t full = SizeOf(archive);
    EXPECT_EQ(ArchiveAddFile(h, "65535", source), ArchiveTooManyEntries);
    EXPECT_EQ(SizeOf(archive), full);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archive, a));
    EXPECT_EQ(a.end.entriesTotal, 65535);
    EXPECT_EQ(a.central.back().name, "65534");
}

} // namespace
