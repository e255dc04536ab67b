// Archives read by tools nobody on this project wrote: they must accept
// them and extract exactly the source bytes.
#include "ZipTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/Shell.h"
#include "zip/Archive.h"

#include <map>

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::RunShell;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

std::string CsvText(size_t rows) {
    std::string out = "datum;pacient;kod;hodnota\n";
    for (size_t i = 0; i < rows; ++i)
        out += "2024-03-" + std::to_string(1 + i % 28) + ";" + std::to_string(100000 + i * 7) +
               ";C" + std::to_string(i % 97) + ";" + std::to_string((i * 31) % 1000) + ".5\n";
    return out;
}

TEST(ZipInterop, ToolsExtractTheSourceBytes) {
    TempFolder dir;
    const std::map<std::string, std::string> sources = {
        {"text.csv", CsvText(20000)},
        {"random.bin", RandomBytes(300000, 7)},
        {"empty.txt", ""},
        {"zeros.dat", std::string(1 << 20, '\0')},
        {"big.bin", RandomBytes(5 << 20, 9)},
        {"inner.zip", RandomBytes(4000, 11)},
        {"one.txt", "x"},
    };
    ASSERT_EQ(RunShell("mkdir " + testsupport::ShellQuote(dir / "src")), 0);
    const std::string archive = dir / "all.zip";
    ArchiveHandle* h = ArchiveCreate(archive);
    ASSERT_NE(h, nullptr);
    for (const auto& [name, bytes] : sources) {
        WriteBytes(dir / ("src/" + name), bytes);
        EXPECT_EQ(ArchiveAddFile(h, name, dir / ("src/" + name)), ArchiveOk) << name;
    }
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);

    Archive a;
    ASSERT_TRUE(PassesEverything(archive, a));
    EXPECT_EQ(a.central.size(), sources.size());
    const std::string info = ZipinfoVerbose(archive);
    size_t utLines = 0;
    for (size_t at = info.find("UT extra field modtime"); at != std::string::npos;
         at = info.find("UT extra field modtime", at + 1))
        ++utLines;
    EXPECT_EQ(utLines, 2 * sources.size()) << info; // zipinfo prints it in local and UTC form

    ASSERT_EQ(RunShell("unzip -q " + testsupport::ShellQuote(archive) + " -d " +
                       testsupport::ShellQuote(dir / "unzip")),
              0);
    ASSERT_EQ(RunShell("7z x -y -o" + testsupport::ShellQuote(dir / "7z") + " " +
                       testsupport::ShellQuote(archive) + " >/dev/null"),
              0);
    ASSERT_EQ(RunShell("cd " + testsupport::ShellQuote(dir.Path()) +
                       " && /usr/bin/python3 -c 'import zipfile; "
                       "zipfile.ZipFile(\"all.zip\").extractall(\"py\")'"),
              0);
    for (const auto& [name, bytes] : sources) {
        EXPECT_EQ(ReadBytes(dir / ("unzip/" + name)), bytes) << "unzip " << name;
        EXPECT_EQ(ReadBytes(dir / ("7z/" + name)), bytes) << "7z " << name;
        EXPECT_EQ(ReadBytes(dir / ("py/" + name)), bytes) << "python " << name;
    }
}

TEST(ZipInterop, ZipinfoReadsTheExtendedTimestampAsUtc) {
    TempFolder dir;
    const std::string source = dir / "data.csv";
    WriteBytes(source, "a;b\n");
    SetFileTimes(source, 1623760596, 1623760496); // modified 2021-06-15 12:34:56 UTC
    const std::string archive = dir / "times.zip";
    ArchiveHandle* h = ArchiveCreate(archive);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "data.csv", source), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    testsupport::ScopedEnv tz("TZ", "EST5EDT");
    EXPECT_NE(ZipinfoVerbose(archive).find("(UT extra field modtime): 2021 Jun 15 12:34:56 UTC"),
              std::string::npos)
        << ZipinfoVerbose(archive);
}

} // namespace
