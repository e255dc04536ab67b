// An output that cannot seek (a named pipe): the writer records the error
// instead of writing headers it cannot correct afterwards.
#include "ZipTestSupport.h"
#include "platform/Clock.h"
#include "tests/support/Shell.h"
#include "zip/Archive.h"

#include <sys/stat.h>

using namespace ziptest;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

TEST(ZipFifo, OutputThatCannotSeekRecordsTheError) {
    TempFolder dir;
    const std::string fifo = dir / "pipe.zip";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(testsupport::RunShell("timeout 10 cat " + testsupport::ShellQuote(fifo) + " > " +
                                    testsupport::ShellQuote(dir / "captured") + " &"),
              0);
    ArchiveHandle* h = nullptr;
    for (int i = 0; i < 250 && !h; ++i) { // until the reader has opened its end
        h = ArchiveCreate(fifo);
        if (!h)
            platform::SleepMs(20);
    }
    ASSERT_NE(h, nullptr);
    const std::string good = dir / "good.txt";
    WriteBytes(good, "good");
    EXPECT_EQ(ArchiveAddFile(h, "good.txt", good), ArchiveCannotSeek);
    EXPECT_EQ(ArchiveAddFile(h, "good.txt", good), ArchiveErrorRecorded);
    EXPECT_EQ(ArchiveClose(h), ArchiveCannotSeek);
}

} // namespace
