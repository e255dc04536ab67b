// The archive's fixed records (local header, central directory header, end
// record) as little-endian bytes.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace zip {

inline constexpr std::uint16_t kVersionMadeBy = 0x0B17;
inline constexpr std::uint16_t kVersionNeeded = 20;
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagMaximumCompression = 0x0002;
inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kLocalExtraSize = 17;
inline constexpr std::size_t kCentralExtraSize = 9;
inline constexpr std::size_t kMaxNameBytes = 259;

// One entry, kept from its addition until the central directory is written.
struct EntryRecord {
    std::uint16_t flags = 0;
    std::uint16_t localFlags = 0;
    std::uint16_t method = kMethodDeflated;
    std::uint32_t dosDateTime = 0; // time low 16 bits, date high 16 bits
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
    std::string name; // stored bytes, '/' separated, Windows-1250
    std::array<unsigned char, kLocalExtraSize> localExtra{};
    std::array<unsigned char, kCentralExtraSize> centralExtra{};
};

// The 17-byte extended-timestamp field (modification, access, creation) and
// its 9-byte central copy (modification only).
void FillTimestampFields(EntryRecord& entry, std::uint32_t modified, std::uint32_t accessed,
                         std::uint32_t created);

// Fixed part, name and extra field of each header, in file order.
std::string LocalHeaderBytes(const EntryRecord& entry);
std::string CentralHeaderBytes(const EntryRecord& entry);
std::string EndRecordBytes(std::uint16_t entries, std::uint32_t directorySize,
                           std::uint32_t directoryOffset);

} // namespace zip
