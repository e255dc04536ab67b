// The archive as written, read back byte by byte.
#include "ZipTestSupport.h"
#include "zip/Archive.h"

#include <filesystem>
#include <zlib.h>

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

namespace {

constexpr int64_t kJune2021 = 1623760496; // 2021-06-15 12:34:56 UTC

class ZipStructure : public ::testing::Test {
protected:
    std::string Source(const std::string& name, const std::string& bytes) {
        const std::string path = dir / name;
        WriteBytes(path, bytes);
        SetFileTimes(path, kJune2021 + 100, kJune2021);
        return path;
    }
    // One archive of the given sources, each stored under its own name.
    Archive Build(const std::vector<std::pair<std::string, std::string>>& files) {
        ArchiveHandle* h = ArchiveCreate(archivePath);
        EXPECT_NE(h, nullptr);
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(ArchiveAddFile(h, name, Source(name, bytes)), ArchiveOk) << name;
        EXPECT_EQ(ArchiveClose(h), ArchiveOk);
        Archive a;
        EXPECT_TRUE(PassesEverything(archivePath, a));
        return a;
    }

    TempFolder dir;
    std::string archivePath = dir / "out.zip";
};

TEST_F(ZipStructure, EmptyArchiveIsOnlyTheEndRecord) {
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    const std::string bytes = ReadBytes(archivePath);
    EXPECT_EQ(bytes, std::string("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22));
    Archive a;
    EXPECT_TRUE(PassesEverything(archivePath, a));
}

TEST_F(ZipStructure, StoredExtensionInCapitalsIsStoredAndTextIsDeflated) {
    const std::string inner = RandomBytes(3000, 1);
    const std::string text(5000, 'a');
    Archive a = Build({{"DATA.ZIP", inner}, {"notes.txt", text}});
    ASSERT_EQ(a.central.size(), 2u);

    EXPECT_EQ(a.central[0].name, "DATA.ZIP");
    EXPECT_EQ(a.central[0].method, 0);
    EXPECT_EQ(a.central[0].flags, 0x0000);
    EXPECT_EQ(a.central[0].compressedSize, 3000u);
    EXPECT_EQ(a.central[0].uncompressedSize, 3000u);
    EXPECT_EQ(EntryData(a, 0), inner);

    EXPECT_EQ(a.central[1].method, 8);
    EXPECT_EQ(a.central[1].flags, 0x0002);
    EXPECT_EQ(a.central[1].uncompressedSize, 5000u);
    EXPECT_LT(a.central[1].compressedSize, 100u);
    std::string plain;
    ASSERT_TRUE(InflateRaw(EntryData(a, 1), plain));
    EXPECT_EQ(plain, text);
    EXPECT_EQ(a.local[1].dataOffset, 30u + 3000u + 17u + 8u + 30u + 9u + 17u);
}

TEST_F(ZipStructure, MethodFollowsTheLastExtensionInAnyCase) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"a.z", 0},      {"b.Z", 0},  {"c.zoo", 0},  {"d.ARC", 0}, {"e.lzh", 0},
        {"f.Arj", 0},    {"g.gz", 0}, {"h.TGZ", 0},  {".zip", 0},  {"i.zip.txt", 8},
        {"j.txt.gz", 0}, {"zip", 8},  {"k.zipx", 8}, {"l.tar", 8}, {"m.", 8}};
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& c : cases)
        files.push_back({c.first, "content of " + c.first});
    Archive a = Build(files);
    ASSERT_EQ(a.central.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(a.central[i].method, cases[i].second) << cases[i].first;
}

TEST_F(ZipStructure, EmptyFileIsAnEmptyFinalDeflateBlock) {
    Archive a = Build({{"empty.dat", ""}});
    ASSERT_EQ(a.central.size(), 1u);
    EXPECT_EQ(a.central[0].method, 8);
    EXPECT_EQ(a.central[0].compressedSize, 2u);
    EXPECT_EQ(a.central[0].uncompressedSize, 0u);
    EXPECT_EQ(a.central[0].crc, 0u);
    EXPECT_EQ(EntryData(a, 0), std::string("\x03\x00", 2));
}

TEST_F(ZipStructure, EndRecordPointsAtTheDirectoryAndCountsItsBytes) {
    Archive a = Build({{"one.csv", "1;2;3\n"}, {"two.csv", RandomBytes(70000, 2)}, {"x", "x"}});
    ASSERT_EQ(a.central.size(), 3u);
    EXPECT_EQ(a.end.entriesHere, 3);
    EXPECT_EQ(a.end.entriesTotal, 3);
    EXPECT_EQ(a.end.directorySize, (46u + 7 + 9) * 2 + 46 + 1 + 9);
    EXPECT_EQ(a.bytes.compare(a.end.directoryOffset, 4, "PK\x01\x02", 4), 0);
    EXPECT_EQ(a.end.directoryOffset + a.end.directorySize + 22, a.bytes.size());
}

TEST_F(ZipStructure, LocalHeaderHoldsTheFinalCrcAndSizes) {
    const std::string random = RandomBytes(100000, 3);
    Archive a = Build({{"r.bin", random}, {"r.gz", random}});
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(a.local[i].crc,
                  crc32_z(0, reinterpret_cast<const Bytef*>(random.data()), random.size()));
        EXPECT_EQ(a.local[i].uncompressedSize, 100000u);
        EXPECT_EQ(a.local[i].flags & 0x0008, 0);
        EXPECT_EQ(a.local[i].compressedSize, a.central[i].compressedSize);
    }
}

TEST_F(ZipStructure, BackslashBecomesSlash) {
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "data\\2024\\file.txt", Source("file.txt", "abc")), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    EXPECT_EQ(a.central[0].name, "data/2024/file.txt");
    EXPECT_EQ(a.local[0].name, "data/2024/file.txt");
}

TEST_F(ZipStructure, SameNameTwiceGivesTwoEntries) {
    const std::string path = Source("twice.txt", "twice");
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "twice.txt", path), ArchiveOk);
    EXPECT_EQ(ArchiveAddFile(h, "twice.txt", path), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a, /*uniqueNames=*/false));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[0].name, "twice.txt");
    EXPECT_EQ(a.central[1].name, "twice.txt");
    EXPECT_NE(a.central[0].localOffset, a.central[1].localOffset);
}

TEST_F(ZipStructure, MissingSourceIsSkippedAndTheNextOneAdded) {
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "gone.txt", dir / "gone.txt"), ArchiveNoFile);
    EXPECT_EQ(ArchiveAddFile(h, "empty-path.txt", std::string()), ArchiveNoFile);
    EXPECT_EQ(ArchiveAddFile(h, "folder.txt", dir.Path()), ArchiveNoFile);
    EXPECT_EQ(ArchiveAddFile(h, "here.txt", Source("here.txt", "here")), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    ASSERT_EQ(a.central.size(), 1u);
    EXPECT_EQ(a.central[0].name, "here.txt");
    EXPECT_EQ(a.central[0].localOffset, 0u);
}

TEST_F(ZipStructure, BadArgumentsAndHandles) {
    EXPECT_EQ(ArchiveCreate(dir / "no-such-folder/out.zip"), nullptr);
    EXPECT_EQ(ArchiveAddFile(nullptr, "a.txt", "/etc/hostname"), ArchiveBadArgument);
    EXPECT_EQ(ArchiveClose(nullptr), ArchiveBadArgument);

    ArchiveHandle other;
    other.kind = 1;
    EXPECT_EQ(ArchiveAddFile(&other, "a.txt", "/etc/hostname"), ArchiveWrongHandle);
    EXPECT_EQ(ArchiveClose(&other), ArchiveWrongHandle);

    const std::string good = Source("good.txt", "good");
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "", good), ArchiveBadArgument);
    EXPECT_EQ(ArchiveAddFile(h, nullptr, good.c_str()), ArchiveBadArgument);
    EXPECT_EQ(ArchiveAddFile(h, "no-source.txt", nullptr), ArchiveBadArgument);
    EXPECT_EQ(ArchiveAddFile(h, "good.txt", good), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    EXPECT_EQ(a.central.size(), 1u);
}

TEST_F(ZipStructure, AdditionAfterClosingIsRefused) {
    const std::string good = Source("good.txt", "good");
    zip::TZip zip;
    ASSERT_EQ(zip.Create(archivePath), ArchiveOk);
    EXPECT_EQ(zip.AddFile("good.txt", good.c_str()), ArchiveOk);
    EXPECT_EQ(zip.Close(), ArchiveOk);
    EXPECT_EQ(zip.AddFile("late.txt", good.c_str()), ArchiveAlreadyClosed);
    EXPECT_EQ(zip.Close(), ArchiveAlreadyClosed);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    EXPECT_EQ(a.central.size(), 1u);

    zip::TZip never;
    EXPECT_EQ(never.AddFile("good.txt", good.c_str()), ArchiveNoStream);
}

TEST_F(ZipStructure, ExistingArchiveIsReplaced) {
    WriteBytes(archivePath, std::string(100000, 'x'));
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    EXPECT_EQ(ReadBytes(archivePath).size(), 22u);
}

TEST_F(ZipStructure, NamesAreStoredInWindows1250) {
    const std::string czech =
        "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.txt"; // Žluťoučký kůň
    const std::string path = Source("czech.txt", "kun");
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, czech, path), ArchiveOk);
    EXPECT_EQ(ArchiveAddFile(h, "\xE6\x97\xA5\xE6\x9C\xAC.txt", path), ArchiveBadArgument); // 日本
    EXPECT_EQ(ArchiveAddFile(h, "bad\xFF.txt", path), ArchiveBadArgument); // not UTF-8
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    ASSERT_EQ(a.central.size(), 1u);
    EXPECT_EQ(a.central[0].name, "\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2.txt");
    EXPECT_EQ(a.central[0].flags & 0x0800, 0); // no UTF-8 flag
}

// A name that would unpack outside the extracting folder is refused; names
// that merely hold dots are not. The archive stays valid with the rest.
TEST_F(ZipStructure, NamesLeadingOutOfTheFolderAreRefused) {
    const std::string path = Source("n.txt", "n");
    const std::vector<std::pair<std::string, ArchiveResult>> names = {
        {"..\\..\\x.csv", ArchiveBadArgument},
        {"../x.csv", ArchiveBadArgument},
        {"a\\..\\..\\x", ArchiveBadArgument},
        {"..", ArchiveBadArgument},
        {"x\\..", ArchiveBadArgument},
        {"\\x.csv", ArchiveBadArgument},
        {"/etc/x", ArchiveBadArgument},
        {"..x.csv", ArchiveOk},
        {"x...csv", ArchiveOk},
        {"a\\b..\\c.csv", ArchiveOk},
        {".\\x.csv", ArchiveOk}};
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    std::vector<std::string> kept;
    for (const auto& [name, result] : names) {
        EXPECT_EQ(ArchiveAddFile(h, name, path), result) << name;
        if (result == ArchiveOk)
            kept.push_back(name);
    }
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    ASSERT_EQ(a.central.size(), kept.size());
    EXPECT_EQ(a.central[2].name, "a/b../c.csv");
}

TEST_F(ZipStructure, NamesOverTheRecordLimitAreRefused) {
    const std::string path = Source("n.txt", "n");
    const std::string longest = std::string(255, 'n') + ".txt"; // 259 bytes
    const std::string tooLong = std::string(256, 'n') + ".txt";
    // Two-byte UTF-8 letters that are one byte each in Windows-1250: the limit counts stored bytes.
    std::string czech259;
    for (int i = 0; i < 255; ++i)
        czech259 += "\xC5\xA1"; // š
    czech259 += ".txt";
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, tooLong, path), ArchiveBadArgument);
    EXPECT_EQ(ArchiveAddFile(h, longest, path), ArchiveOk);
    EXPECT_EQ(ArchiveAddFile(h, czech259, path), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[0].name, longest);
    EXPECT_EQ(a.central[1].name.size(), 259u);
}

TEST_F(ZipStructure, AttributesMarkReadOnlyAndNeverExecutable) {
    const std::string writable = Source("w.txt", "w");
    const std::string readOnly = Source("r.txt", "r");
    const std::string program = Source("p.txt", "#!/bin/sh\n");
    testsupport::SetReadOnly(readOnly, true);
    // Marked as a program where the system has such a mark.
    std::filesystem::permissions(testsupport::NativePath(program), std::filesystem::perms(0755));
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "w.txt", writable), ArchiveOk);
    EXPECT_EQ(ArchiveAddFile(h, "r.txt", readOnly), ArchiveOk);
    EXPECT_EQ(ArchiveAddFile(h, "p.txt", program), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    ASSERT_EQ(a.central.size(), 3u);
    EXPECT_EQ(a.central[0].externalAttributes, 0x81800020u);
    EXPECT_EQ(a.central[1].externalAttributes, 0x81000021u);
    EXPECT_EQ(a.central[2].externalAttributes, 0x81800020u);
}

TEST_F(ZipStructure, ReadErrorIsNotTakenForTheEnd) {
    // /proc/self/mem is a regular file whose first read fails (EIO).
    if (testsupport::OnWindows())
        GTEST_SKIP() << "needs Linux's /proc/self/mem, a file that opens but cannot be read";
    ArchiveHandle* h = ArchiveCreate(archivePath);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ArchiveAddFile(h, "first.txt", Source("first.txt", "first")), ArchiveOk);
    const size_t before = ReadBytes(archivePath).size();
    EXPECT_EQ(ArchiveAddFile(h, "mem.txt", "/proc/self/mem"), ArchiveReadFailed);
    EXPECT_EQ(ArchiveAddFile(h, "mem.zip", "/proc/self/mem"), ArchiveReadFailed);
    EXPECT_EQ(ReadBytes(archivePath).size(), before);
    EXPECT_EQ(ArchiveAddFile(h, "last.txt", Source("last.txt", "last")), ArchiveOk);
    EXPECT_EQ(ArchiveClose(h), ArchiveOk);
    Archive a;
    ASSERT_TRUE(PassesEverything(archivePath, a));
    ASSERT_EQ(a.central.size(), 2u);
    EXPECT_EQ(a.central[1].name, "last.txt");
}

} // namespace
