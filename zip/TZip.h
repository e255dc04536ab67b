// Writes one ZIP archive file: one entry per source file, deflated or
// stored, then the central directory and the end record on closing.
#pragma once
#include "zip/ArchiveResult.h"
#include "zip/RawDeflater.h"
#include "zip/ZipRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class BinaryFile;
}

namespace zip {

// What the format can hold without ZIP64. Offsets and sizes stay below
// 0xFFFFFFFF, the value readers take as "look in a ZIP64 record".
struct TZipLimits {
    std::uint64_t maxOffset = 0xFFFFFFFEu;
    std::uint32_t maxEntries = 65535;
};

class TZip {
public:
    explicit TZip(TZipLimits limits = {});
    ~TZip();
    TZip(const TZip&) = delete;
    TZip& operator=(const TZip&) = delete;

    // Creates (or replaces) the archive file at path.
    ArchiveResult Create(const std::string& path);
    // Adds the file at source (UTF-8 path; null means none given) under name
    // (UTF-8, stored in Windows-1250 with '\' turned into '/').
    ArchiveResult AddFile(const std::string& name, const char* source);
    // Writes the central directory and the end record and closes the file.
    ArchiveResult Close();

    std::size_t EntryCount() const { return entries_.size(); }

private:
    ArchiveResult WriteEntry(EntryRecord& entry, platform::BinaryFile& source);
    bool CopyStored(platform::BinaryFile& source, std::uint32_t& crc, std::uint64_t& read);
    bool CopyDeflated(platform::BinaryFile& source, std::uint32_t& crc, std::uint64_t& read);
    // Appends bytes at the write offset; false when they would pass the
    // format's limits or the output takes fewer of them.
    bool Emit(const void* data, std::size_t size);
    // Cuts the output back to the start of a failed entry so the archive
    // stays valid without it; records an error when that is impossible.
    void DropPartialEntry(std::uint64_t entryStart);
    ArchiveResult WriteCentralDirectory();

    TZipLimits limits_;
    std::unique_ptr<platform::BinaryFile> output_;
    std::uint64_t initialOffset_ = 0;
    std::uint64_t writeOffset_ = 0;
    bool seekable_ = false;
    ArchiveResult recordedError_ = ArchiveOk;
    bool ended_ = false;
    std::vector<EntryRecord> entries_;
    RawDeflater deflater_;
    std::vector<unsigned char> buffer_;
};

} // namespace zip
