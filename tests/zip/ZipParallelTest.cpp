// Entries larger than one block, deflated on worker threads: one valid raw
// deflate stream that every outside tool reads, the same bytes as ever for
// entries of one block or less, and every failure handled as with one thread.
#include "ZipTestSupport.h"
#include "platform/FileSystem.h"
#include "zip/Archive.h"
#include "zip/DeflateWorkers.h"

#include <zlib.h>

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

constexpr size_t kBlock = zip::kDeflateBlockSize;
constexpr unsigned kThreads = 3;

std::string Text(size_t size) {
    std::string out;
    for (size_t i = 0; out.size() < size; ++i)
        out += "2024-05-" + std::to_string(1 + i % 28) + ";P" + std::to_string(1000 + i * 37) +
               ";C" + std::to_string(i % 89) + ";" + std::to_string((i * 7919) % 1000) + "\n";
    out.resize(size);
    return out;
}

// Text and random bytes in turn, so blocks and their dictionaries straddle both.
std::string Mixed(size_t size) {
    std::string out;
    for (uint32_t part = 0; out.size() < size; ++part)
        out += part % 2 ? RandomBytes(50000, part) : Text(70000);
    out.resize(size);
    return out;
}

struct Size {
    const char* name;
    size_t bytes;
};
const Size kSizes[] = {{"empty", 0},
                       {"one-below-a-block", kBlock - 1},
                       {"one-block", kBlock},
                       {"one-above-a-block", kBlock + 1},
                       {"many-blocks", 9 * kBlock + 4321},
                       {"one-over-many-blocks", 16 * kBlock + 1}};

struct Kind {
    const char* name;
    std::string (*make)(size_t);
};
const Kind kKinds[] = {
    {"text", Text}, {"random", [](size_t n) { return RandomBytes(n, 3); }}, {"mixed", Mixed}};

// Each size of each kind into one archive with one thread (as the writer has
// always compressed) and one with several.
TEST(ZipParallel, EverySizeAndKindReadsBackEverywhere) {
    TempFolder dir;
    std::vector<std::string> sources, names;
    for (const Kind& kind : kKinds)
        for (const Size& size : kSizes) {
            names.push_back(std::string(kind.name) + "-" + size.name + ".txt");
            sources.push_back(kind.make(size.bytes));
            WriteBytes(dir / names.back(), sources.back());
        }
    const size_t threadsBefore = ThreadsOfProcess();
    Archive archives[2];
    for (unsigned threads : {1u, kThreads}) {
        const std::string path = dir / (std::to_string(threads) + ".zip");
        ArchiveHandle* h = ArchiveCreate(path);
        ASSERT_NE(h, nullptr);
        h->zip->SetThreadCount(threads);
        for (const std::string& name : names)
            EXPECT_EQ(ArchiveAddFile(h, name, dir / name), ArchiveOk) << name;
        // Started once for the archive, not once per entry.
        EXPECT_EQ(ThreadsOfProcess(), threadsBefore + (threads > 1 ? threads : 0));
        EXPECT_EQ(ArchiveClose(h), ArchiveOk);
        EXPECT_EQ(ThreadsOfProcess(), threadsBefore);
        ASSERT_TRUE(threads == 1 ? WellFormed(path, archives[0])
                                 : PassesEverything(path, archives[1]));
    }
    const Archive& one = archives[0];
    const Archive& many = archives[1];
    ASSERT_EQ(many.central.size(), sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        std::string plain;
        ASSERT_TRUE(InflateRaw(EntryData(many, i), plain)) << names[i];
        EXPECT_TRUE(plain == sources[i]) << names[i];
        // Up to one block the same entry as ever; beyond it split into blocks.
        const bool same = EntryData(one, i) == EntryData(many, i) &&
                          one.central[i].crc == many.central[i].crc &&
                          one.central[i].flags == many.central[i].flags &&
                          one.central[i].compressedSize == many.central[i].compressedSize;
        EXPECT_EQ(same, sources[i].size() <= kBlock) << names[i];
    }
}

TEST(ZipParallel, EventsRunWhileTheWorkersCompress) {
    TempFolder dir;
    WriteBytes(dir / "big.txt", Text(32 * kBlock));
    ArchiveHandle* h = ArchiveCreate(dir / "a.zip");
    ASSERT_NE(h, nullptr);
    h->zip->SetThreadCount(kThreads);
    int pumped = 0;
    ArchiveSetEventPump(h, [&] { ++pumped; });
    EXPECT_EQ(ArchiveAddFile(h, "big.txt", dir / "big.txt"), ArchiveOk);
    EXPECT_GT(pumped, 0);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
}

// A source that passes the size limit part-way is cut back; later entries go on.
TEST(ZipParallel, SourcePastTheSizeLimitIsCutBack) {
    TempFolder dir;
    WriteBytes(dir / "first.bin", RandomBytes(2 * kBlock, 1));
    WriteBytes(dir / "second.bin", RandomBytes(4 * kBlock, 2));
    WriteBytes(dir / "small.txt", "small");
    const size_t threadsBefore = ThreadsOfProcess();
    {
        zip::TZip zip(zip::TZipLimits{6 * kBlock, 65535});
        zip.SetThreadCount(kThreads);
        ASSERT_EQ(zip.Create(dir / "a.zip"), ArchiveOk);
        EXPECT_EQ(zip.AddFile("first.bin", (dir / "first.bin").c_str()), ArchiveOk);
        // (By its size: on Windows the archive being written is open to
        // nobody else.)
        const int64_t afterFirst = platform::FileSize(dir / "a.zip");
        EXPECT_EQ(zip.AddFile("second.bin", (dir / "second.bin").c_str()), ArchiveFull);
        EXPECT_EQ(platform::FileSize(dir / "a.zip"), afterFirst);
        EXPECT_EQ(zip.AddFile("small.txt", (dir / "small.txt").c_str()), ArchiveOk);
        EXPECT_EQ(zip.Close(), ArchiveOk);
        EXPECT_EQ(ThreadsOfProcess(), threadsBefore);
    }
    Archive a;
    ASSERT_TRUE(PassesEverything(dir / "a.zip", a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[1].name, "small.txt");
}

} // namespace
