#include "zip/ZipRecords.h"

namespace zip {
namespace {

void Put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

void Put32At(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

template <std::size_t N> void Append(std::string& out, const std::array<unsigned char, N>& bytes) {
    out.append(reinterpret_cast<const char*>(bytes.data()), N);
}

} // namespace

void FillTimestampFields(EntryRecord& entry, std::uint32_t modified, std::uint32_t accessed,
                         std::uint32_t created) {
    // Tag 0x5455 ("UT"), data size, flags 0x07: all three times present.
    auto& local = entry.localExtra;
    local = {0x55, 0x54, 13, 0, 0x07};
    Put32At(&local[5], modified);
    Put32At(&local[9], accessed);
    Put32At(&local[13], created);
    auto& central = entry.centralExtra;
    central = {0x55, 0x54, 5, 0, 0x07};
    Put32At(&central[5], modified);
}

std::string LocalHeaderBytes(const EntryRecord& entry) {
    std::string out;
    out.reserve(kLocalHeaderSize + entry.name.size() + kLocalExtraSize);
    out.append("PK\x03\x04", 4);
    Put16(out, kVersionNeeded);
    Put16(out, entry.localFlags);
    Put16(out, entry.method);
    Put32(out, entry.dosDateTime);
    Put32(out, entry.crc);
    Put32(out, entry.compressedSize);
    Put32(out, entry.uncompressedSize);
    Put16(out, static_cast<std::uint16_t>(entry.name.size()));
    Put16(out, static_cast<std::uint16_t>(kLocalExtraSize));
    out += entry.name;
    Append(out, entry.localExtra);
    return out;
}

std::string CentralHeaderBytes(const EntryRecord& entry) {
    std::string out;
    out.reserve(kCentralHeaderSize + entry.name.size() + kCentralExtraSize);
    out.append("PK\x01\x02", 4);
    Put16(out, kVersionMadeBy);
    Put16(out, kVersionNeeded);
    Put16(out, entry.flags);
    Put16(out, entry.method);
    Put32(out, entry.dosDateTime);
    Put32(out, entry.crc);
    Put32(out, entry.compressedSize);
    Put32(out, entry.uncompressedSize);
    Put16(out, static_cast<std::uint16_t>(entry.name.size()));
    Put16(out, static_cast<std::uint16_t>(kCentralExtraSize));
    Put16(out, 0); // comment length
    Put16(out, 0); // disk number start
    Put16(out, 0); // internal attributes
    Put32(out, entry.externalAttributes);
    Put32(out, entry.localHeaderOffset);
    out += entry.name;
    Append(out, entry.centralExtra);
    return out;
}

std::string EndRecordBytes(std::uint16_t entries, std::uint32_t directorySize,
                           std::uint32_t directoryOffset) {
    std::string out;
    out.reserve(kEndRecordSize);
    out.append("PK\x05\x06", 4);
    Put16(out, 0); // this disk
    Put16(out, 0); // disk of the central directory
    Put16(out, entries);
    Put16(out, entries);
    Put32(out, directorySize);
    Put32(out, directoryOffset);
    Put16(out, 0); // comment length
    return out;
}

} // namespace zip
