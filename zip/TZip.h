// Writes one ZIP archive file: one entry per source file, deflated or
// stored, then the central directory and the end record on closing.
#pragma once
#include "zip/ArchiveResult.h"
#include "zip/DeflateWorkers.h"
#include "zip/RawDeflater.h"
#include "zip/ZipRecords.h"

#include <chrono>
#include <cstdint>
#include <functional>
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
    // Creates the archive file only when nothing is at path yet (a file, a
    // link or a FIFO there is left alone): for a fixed name in a folder
    // others may write to.
    ArchiveResult CreateNew(const std::string& path);
    // Adds the file at source (UTF-8 path; null means none given) under name
    // (UTF-8, stored in Windows-1250 with '\' turned into '/').
    ArchiveResult AddFile(const std::string& name, const char* source);
    // The same from a file the caller opened, read from its start; the
    // caller can then tell from the same handle which file was read.
    ArchiveResult AddFile(const std::string& name, platform::BinaryFile& source);
    // Writes the central directory and the end record and closes the file.
    ArchiveResult Close();

    std::size_t EntryCount() const { return entries_.size(); }

    // Threads that deflate an entry larger than one block: 1 compresses every
    // entry as one stream on the calling thread; 0 takes the machine's cores.
    // The default is the cores, or RODERUV_ZIP_THREADS when that is set.
    // At most 8 are used.
    void SetThreadCount(unsigned threads);
    unsigned ThreadCount() const { return threadCount_; }

    // Called while an addition waits for the worker threads, at least every
    // few tens of milliseconds, so the caller can let its window's events
    // run. Empty: nothing is called.
    void SetEventPump(std::function<void()> pump) { eventPump_ = std::move(pump); }

private:
    ArchiveResult Begin(std::unique_ptr<platform::BinaryFile> output);
    // The checks before any source is opened; stored := the name as stored.
    ArchiveResult CheckAddition(const std::string& name, std::string& stored) const;
    ArchiveResult AddOpened(std::string stored, platform::BinaryFile& source);
    ArchiveResult WriteEntry(EntryRecord& entry, platform::BinaryFile& source);
    bool CopyStored(platform::BinaryFile& source, std::uint32_t& crc, std::uint64_t& read);
    bool CopyDeflated(platform::BinaryFile& source, std::uint32_t& crc, std::uint64_t& read);
    // One stream on this thread, starting with the blocks already read.
    bool DeflateSerial(platform::BinaryFile& source, const std::vector<DeflateBlock*>& preRead,
                       bool sourceEnded, std::uint32_t& crc, std::uint64_t& read);
    // Blocks on the worker threads, written in order as they come back.
    bool DeflateParallel(platform::BinaryFile& source, DeflateBlock* first, DeflateBlock* second,
                         std::uint32_t& crc, std::uint64_t& read);
    // Reads until the block is full or the source ends; false on a read
    // error or when the source passes the size limit.
    bool FillBlock(platform::BinaryFile& source, DeflateBlock& block, std::uint64_t& read);
    DeflateBlock* TakeBlock();
    void FreeAllBlocks();
    bool StartWorkers();
    void StopWorkers();
    void PumpEvents();
    // Appends bytes at the write offset; false when they would pass the
    // format's limits (ArchiveFull) or the output takes fewer of them.
    bool Emit(const void* data, std::size_t size);
    // Notes why the entry being written failed, other than a short write;
    // returns false.
    bool EntryFailed(ArchiveResult why);
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
    ArchiveResult entryFailure_ = ArchiveOk; // of the entry being written
    bool ended_ = false;
    std::vector<EntryRecord> entries_;
    RawDeflater deflater_;
    std::vector<unsigned char> buffer_;

    unsigned threadCount_ = 1;
    std::function<void()> eventPump_;
    std::chrono::steady_clock::time_point lastPump_{};
    // Blocks are reused from entry to entry; declared before the workers so
    // that the workers are gone before the blocks they may hold.
    std::vector<std::unique_ptr<DeflateBlock>> blocks_;
    std::vector<DeflateBlock*> spareBlocks_;
    std::vector<unsigned char> dictionaryTail_;
    std::unique_ptr<DeflateWorkers> workers_; // started at the first entry that needs them
};

} // namespace zip
