#include "ZipTestSupport.h"

#include <zlib.h>

namespace ziptest {

std::string RandomBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

::testing::AssertionResult WellFormed(const std::string& path, Archive& a) {
    std::string error;
    if (!ParseArchive(testsupport::ReadBytes(path), a, error))
        return ::testing::AssertionFailure() << path << ": " << error;
    if (a.end.thisDisk != 0 || a.end.directoryDisk != 0 || a.end.commentLength != 0 ||
        a.end.entriesHere != a.end.entriesTotal)
        return ::testing::AssertionFailure() << "end record fields";
    uint64_t expectedDirectory = 0, expectedDataEnd = 0;
    for (size_t i = 0; i < a.central.size(); ++i) {
        const CentralHeader& c = a.central[i];
        const LocalHeader& l = a.local[i];
        auto fail = [&](const char* what) {
            return ::testing::AssertionFailure()
                   << "entry " << i << " (" << c.name << "): " << what;
        };
        if (c.versionMadeBy != 0x0B17 || c.versionNeeded != 20 || l.versionNeeded != 20)
            return fail("versions");
        if (c.flags != l.flags || (c.flags & 0x0008) != 0)
            return fail("flags differ or bit 3 set");
        if (c.flags != (c.method == 8 ? 0x0002 : 0x0000) || (c.method != 0 && c.method != 8))
            return fail("flags do not match the method");
        if (c.method != l.method || c.time != l.time || c.date != l.date || c.crc != l.crc ||
            c.compressedSize != l.compressedSize || c.uncompressedSize != l.uncompressedSize ||
            c.name != l.name)
            return fail("local header differs from central header");
        if (c.commentLength != 0 || c.diskStart != 0 || c.internalAttributes != 0)
            return fail("comment, disk or internal attributes");
        if (l.extra.size() != 17 || c.extra.size() != 9)
            return fail("extra field lengths");
        if (l.extra.compare(0, 5, "\x55\x54\x0D\x00\x07", 5) != 0 ||
            c.extra.compare(0, 5, "\x55\x54\x05\x00\x07", 5) != 0 ||
            l.extra.compare(5, 4, c.extra, 5, 4) != 0)
            return fail("extended timestamp fields");
        if (c.localOffset != expectedDataEnd)
            return fail("entries are not back to back");
        expectedDataEnd = l.dataOffset + c.compressedSize;
        const std::string data = EntryData(a, i);
        std::string plain = data;
        if (c.method == 8 && !InflateRaw(data, plain))
            return fail("data is not a complete raw deflate stream");
        if (plain.size() != c.uncompressedSize)
            return fail("uncompressed size");
        if (crc32_z(0, reinterpret_cast<const Bytef*>(plain.data()), plain.size()) != c.crc)
            return fail("CRC");
        expectedDirectory += 46 + c.name.size() + 9;
    }
    if (a.end.directoryOffset != expectedDataEnd)
        return ::testing::AssertionFailure() << "directory does not follow the last entry";
    if (a.end.directorySize != expectedDirectory)
        return ::testing::AssertionFailure() << "directory size";
    return ::testing::AssertionSuccess();
}

} // namespace ziptest
