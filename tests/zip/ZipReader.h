// Reads back an archive's records byte by byte, independently of the writer,
// so the tests can check every field the format fixes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

struct LocalHeader {
    uint16_t versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
    std::string name, extra;
    uint64_t dataOffset = 0;
};

struct CentralHeader {
    uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
    uint16_t commentLength = 0, diskStart = 0, internalAttributes = 0;
    uint32_t externalAttributes = 0, localOffset = 0;
    std::string name, extra;
};

struct EndRecord {
    uint16_t thisDisk = 0, directoryDisk = 0, entriesHere = 0, entriesTotal = 0;
    uint32_t directorySize = 0, directoryOffset = 0;
    uint16_t commentLength = 0;
};

struct Archive {
    std::string bytes;
    EndRecord end;
    std::vector<CentralHeader> central;
    std::vector<LocalHeader> local; // one per central header, read at its offset
};

uint16_t Get16(const std::string& b, uint64_t at);
uint32_t Get32(const std::string& b, uint64_t at);

// Parses the archive; on a structural fault returns false with a reason.
bool ParseArchive(const std::string& bytes, Archive& archive, std::string& error);

// The entry's data bytes as stored in the file.
std::string EntryData(const Archive& archive, size_t index);
// Inflates a raw deflate stream; false when it is not a complete valid stream.
bool InflateRaw(const std::string& compressed, std::string& out);

} // namespace ziptest
