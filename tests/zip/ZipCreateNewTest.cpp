// An archive under a fixed name in a folder others may write to is made only
// where nothing is: a file, a folder, a link or a FIFO planted under the name
// is left exactly as it was.
#include "ZipTestSupport.h"
#include "platform/FileSystem.h"
#include "zip/Archive.h"

#include <functional>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

TEST(ZipCreateNew, LeavesWhatIsThereAlone) {
    testsupport::TempFolder dir;
    const std::string path = dir / "_ftp_file.zip";
    const std::string victim = dir / "victim";
    WriteBytes(victim, "keep me");
    int reader = -1;
    const std::vector<std::pair<const char*, std::function<void()>>> rows = {
        {"older file", [&] { WriteBytes(path, "keep me"); }},
        {"folder", [&] { platform::CreateDir(path); }},
#ifndef _WIN32
        {"link to another file", [&] { ::symlink(victim.c_str(), path.c_str()); }},
        {"link leading nowhere", [&] { ::symlink((dir / "nowhere").c_str(), path.c_str()); }},
        {"FIFO with a reader",
         [&] {
             ::mkfifo(path.c_str(), 0600);
             reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
         }},
#endif
    };
    for (const auto& [name, plant] : rows) {
        std::filesystem::remove_all(testsupport::NativePath(path));
        plant();
        EXPECT_EQ(ArchiveCreateNew(path), nullptr) << name;
        EXPECT_EQ(ReadBytes(victim), "keep me") << name;
        EXPECT_FALSE(platform::PathExists(dir / "nowhere")) << name;
        EXPECT_TRUE(!platform::FileExists(path) || ReadBytes(path) == "keep me") << name;
    }
#ifndef _WIN32
    char c;
    EXPECT_LE(::read(reader, &c, 1), 0) << "nothing went into the FIFO";
    ::close(reader);
#endif
    // Where nothing is, it is an ordinary archive.
    std::filesystem::remove_all(testsupport::NativePath(path));
    ArchiveHandle* h = ArchiveCreateNew(path);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "victim", victim), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive archive;
    EXPECT_TRUE(WellFormed(path, archive));
}
