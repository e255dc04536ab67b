// A read error part-way through a source deflated on worker threads (Linux:
// /proc/self/mem over a mapping that ends) is not taken for its end.
#include "ZipTestSupport.h"
#include "zip/Archive.h"
#include "zip/DeflateWorkers.h"

#include <fcntl.h>
#include <sys/mman.h>

using namespace ziptest;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

constexpr size_t kBlock = zip::kDeflateBlockSize;
constexpr unsigned kThreads = 3;

#if !defined(__SANITIZE_THREAD__) // ThreadSanitizer refuses a mapping at address 0
TEST(ZipParallel, ReadErrorPartWayIsNotTakenForTheEnd) {
    // /proc/self/mem read from offset 0 gives the bytes mapped at address 0,
    // then fails (EIO) where the mapping ends: a read error after some blocks.
    TempFolder dir;
    WriteBytes(dir / "small.txt", "small");
    std::string text;
    for (size_t i = 0; text.size() < 5 * kBlock; ++i)
        text += "2024-05-" + std::to_string(1 + i % 28) + ";P" + std::to_string(i * 37) + "\n";
    text.resize(5 * kBlock);
    WriteBytes(dir / "mapped.txt", text);
    constexpr uint32_t kNoMapping = 0xFFFFFFFF;
    const auto results = ResultsFromChild(5, [&]() -> std::vector<uint32_t> {
        const int fd = open((dir / "mapped.txt").c_str(), O_RDONLY);
        if (fd < 0 ||
            mmap(nullptr, 5 * kBlock, PROT_READ, MAP_FIXED | MAP_PRIVATE, fd, 0) == MAP_FAILED)
            return {kNoMapping, 0, 0, 0, 0};
        const size_t threadsBefore = ThreadsOfProcess();
        ArchiveHandle* h = ArchiveCreate(dir / "a.zip");
        if (!h)
            return {};
        h->zip->SetThreadCount(kThreads);
        std::vector<uint32_t> r;
        r.push_back(ArchiveAddFile(h, "first.txt", dir / "small.txt"));
        r.push_back(ArchiveAddFile(h, "mem.txt", "/proc/self/mem"));
        r.push_back(ArchiveAddFile(h, "last.txt", dir / "small.txt"));
        r.push_back(ArchiveClose(h));
        r.push_back(static_cast<uint32_t>(ThreadsOfProcess() - threadsBefore));
        return r;
    });
    if (!results.empty() && results[0] == kNoMapping)
        GTEST_SKIP() << "cannot map address 0 here (needs CAP_SYS_RAWIO)";
    ASSERT_EQ(results,
              (std::vector<uint32_t>{ArchiveOk, ArchiveReadFailed, ArchiveOk, ArchiveOk, 0}));
    Archive a;
    ASSERT_TRUE(PassesEverything(dir / "a.zip", a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[1].name, "last.txt");
}
#endif

} // namespace
