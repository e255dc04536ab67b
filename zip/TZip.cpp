#include "zip/TZip.h"

#include "platform/BinaryFile.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "zip/MemberName.h"
#include "zip/ZipTimes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <thread>
#include <zlib.h>

namespace zip {
namespace {

constexpr std::size_t kCopyBufferSize = 16384;
constexpr unsigned kMaxThreads = 8;
// How long the calling thread waits for a worker before it lets events run.
constexpr std::chrono::milliseconds kPumpInterval{20};

unsigned MachineThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, kMaxThreads);
}

unsigned DefaultThreads() {
    if (const char* value = std::getenv("RODERUV_ZIP_THREADS")) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(value, &end, 10);
        if (end != value && *end == '\0')
            return n == 0 ? MachineThreads()
                          : static_cast<unsigned>(std::min<unsigned long>(n, kMaxThreads));
    }
    return MachineThreads();
}

// Already-compressed formats are stored rather than deflated again.
bool IsStoredExtension(const std::string& name) {
    static const char* const kStored[] = {".z",   ".zip", ".zoo", ".arc",
                                          ".lzh", ".arj", ".gz",  ".tgz"};
    const auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* candidate : kStored)
        if (ext == candidate)
            return true;
    return false;
}

std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}

} // namespace

TZip::TZip(TZipLimits limits)
    : limits_(limits), buffer_(kCopyBufferSize), threadCount_(DefaultThreads()) {}

TZip::~TZip() = default;

void TZip::SetThreadCount(unsigned threads) {
    threadCount_ = threads == 0 ? MachineThreads() : std::min(threads, kMaxThreads);
    if (workers_ && workers_->Count() != threadCount_)
        StopWorkers(); // started again, with the new count, when needed
}

ArchiveResult TZip::Create(const std::string& path) {
    if (output_ || ended_)
        return ArchiveWrongHandle;
    return Begin(platform::BinaryFile::CreateForWriting(path));
}

ArchiveResult TZip::CreateNew(const std::string& path) {
    if (output_ || ended_)
        return ArchiveWrongHandle;
    return Begin(platform::BinaryFile::CreateNew(path));
}

ArchiveResult TZip::Begin(std::unique_ptr<platform::BinaryFile> output) {
    output_ = std::move(output);
    if (!output_)
        return ArchiveNoFile;
    seekable_ = output_->CanSeek();
    initialOffset_ = 0;
    writeOffset_ = 0;
    return ArchiveOk;
}

ArchiveResult TZip::CheckAddition(const std::string& name, std::string& stored) const {
    if (recordedError_ != ArchiveOk)
        return ArchiveErrorRecorded;
    if (ended_)
        return ArchiveAlreadyClosed;
    if (!output_)
        return ArchiveNoStream;
    if (name.empty())
        return ArchiveBadArgument;

    // The name goes into the archive in Windows-1250; a name that code page
    // cannot hold, or one longer than the record allows, is refused rather
    // than stored mangled or cut short, and so is one that would unpack
    // outside the extracting folder.
    auto converted = platform::Utf8ToCp1250(name);
    if (!converted || converted->size() > kMaxNameBytes || !IsSafeMemberName(name))
        return ArchiveBadArgument;
    stored = std::move(*converted);
    std::replace(stored.begin(), stored.end(), '\\', '/');
    return ArchiveOk;
}

ArchiveResult TZip::AddFile(const std::string& name, const char* source) {
    std::string stored;
    if (const ArchiveResult refused = CheckAddition(name, stored); refused != ArchiveOk)
        return refused;
    if (!source)
        return ArchiveBadArgument;
    auto input = platform::BinaryFile::OpenForReading(source);
    if (!input)
        return ArchiveNoFile;
    return AddOpened(std::move(stored), *input);
}

ArchiveResult TZip::AddFile(const std::string& name, platform::BinaryFile& source) {
    std::string stored;
    if (const ArchiveResult refused = CheckAddition(name, stored); refused != ArchiveOk)
        return refused;
    return AddOpened(std::move(stored), source);
}

ArchiveResult TZip::AddOpened(std::string stored, platform::BinaryFile& input) {
    platform::FileInfo info;
    if (!input.GetInfo(info) || info.size < 0 || !input.Seek(0))
        return ArchiveNoFile;

    // Refuse up front what the format cannot hold, before a byte is read or
    // written; the archive goes on without it.
    const std::uint64_t expectedSize = static_cast<std::uint64_t>(info.size);
    const std::uint64_t headerSize = kLocalHeaderSize + stored.size() + kLocalExtraSize;
    const bool storedMethod = IsStoredExtension(stored);
    if (entries_.size() >= limits_.maxEntries)
        return ArchiveTooManyEntries;
    if (expectedSize > limits_.maxOffset)
        return ArchiveSourceTooLarge;
    const std::uint64_t entryStart = initialOffset_ + writeOffset_;
    if (entryStart + headerSize + (storedMethod ? expectedSize : 0) > limits_.maxOffset)
        return ArchiveFull;

    EntryRecord entry;
    entry.flags = kFlagDataDescriptor;
    entry.localFlags = kFlagDataDescriptor;
    entry.method = storedMethod ? kMethodStored : kMethodDeflated;
    entry.dosDateTime = DosDateTimeFromUtc(info.lastWrite);
    entry.crc = 0;
    entry.compressedSize = storedMethod ? static_cast<std::uint32_t>(expectedSize) : 0;
    entry.uncompressedSize = static_cast<std::uint32_t>(expectedSize);
    entry.externalAttributes = ExternalAttributes(info.ownerWritable);
    entry.localHeaderOffset = static_cast<std::uint32_t>(entryStart);
    entry.name = std::move(stored);
    FillTimestampFields(entry, ExtendedTimeFromUtc(info.lastWrite),
                        ExtendedTimeFromUtc(info.lastAccess), ExtendedTimeFromUtc(info.created));

    ArchiveResult result;
    try {
        result = WriteEntry(entry, input);
    } catch (...) {
        // Out of memory, or the event pump threw: the archive stays valid
        // without this entry.
        DropPartialEntry(entryStart);
        throw;
    }
    if (result != ArchiveOk) {
        DropPartialEntry(entryStart);
        return recordedError_ != ArchiveOk ? recordedError_ : result;
    }
    entries_.push_back(std::move(entry));
    return ArchiveOk;
}

ArchiveResult TZip::WriteEntry(EntryRecord& entry, platform::BinaryFile& source) {
    entryFailure_ = ArchiveOk;
    const auto failure = [this] {
        return entryFailure_ != ArchiveOk ? entryFailure_ : ArchiveWriteFailed;
    };
    const std::string header = LocalHeaderBytes(entry);
    if (!Emit(header.data(), header.size()))
        return failure();

    const std::uint64_t dataStart = writeOffset_;
    std::uint32_t crc = UpdateCrc(0, nullptr, 0);
    std::uint64_t read = 0;
    const bool ok = entry.method == kMethodStored ? CopyStored(source, crc, read)
                                                  : CopyDeflated(source, crc, read);
    if (!ok)
        return failure();

    // The size read wins over the size seen when opening (the file may have
    // changed in between); both must still fit the 32-bit fields.
    if (read > limits_.maxOffset)
        return ArchiveSourceTooLarge;
    entry.crc = crc;
    entry.compressedSize = static_cast<std::uint32_t>(writeOffset_ - dataStart);
    entry.uncompressedSize = static_cast<std::uint32_t>(read);

    // The output can seek: put the final CRC and sizes into the local header
    // instead of a data descriptor, and clear the descriptor flag.
    entry.flags = static_cast<std::uint16_t>(entry.flags & ~kFlagDataDescriptor);
    if (entry.method == kMethodDeflated)
        entry.flags |= kFlagMaximumCompression;
    entry.localFlags = entry.flags;
    if (!seekable_)
        return ArchiveCannotSeek;
    const std::string finalHeader = LocalHeaderBytes(entry);
    if (!output_->Seek(static_cast<std::int64_t>(entry.localHeaderOffset))) {
        recordedError_ = ArchiveCannotSeek;
        return ArchiveCannotSeek;
    }
    const bool rewritten =
        output_->Write(finalHeader.data(), finalHeader.size()) == finalHeader.size();
    if (!output_->Seek(static_cast<std::int64_t>(initialOffset_ + writeOffset_))) {
        recordedError_ = ArchiveCannotSeek;
        return ArchiveCannotSeek;
    }
    return rewritten ? ArchiveOk : ArchiveWriteFailed;
}

bool TZip::CopyStored(platform::BinaryFile& source, std::uint32_t& crc, std::uint64_t& read) {
    for (;;) {
        const std::int64_t n = source.Read(buffer_.data(), buffer_.size());
        if (n < 0)
            return EntryFailed(ArchiveReadFailed); // not to pass for the end of the file
        if (n == 0)
            return true;
        const auto count = static_cast<std::size_t>(n);
        crc = UpdateCrc(crc, buffer_.data(), count);
        read += count;
        if (read > limits_.maxOffset)
            return EntryFailed(ArchiveSourceTooLarge);
        if (!Emit(buffer_.data(), count))
            return false;
    }
}

bool TZip::CopyDeflated(platform::BinaryFile& source, std::uint32_t& crc, std::uint64_t& read) {
    if (threadCount_ <= 1)
        return DeflateSerial(source, {}, false, crc, read);

    // However the entry ends, its blocks are free again afterwards (the
    // parallel path has made sure by then that no worker holds one).
    struct FreeBlocks {
        TZip& zip;
        ~FreeBlocks() { zip.FreeAllBlocks(); }
    } freeBlocks{*this};

    // Read up to two blocks first: a source of one block or less is
    // compressed as one stream, byte for byte as with a single thread.
    DeflateBlock* first = TakeBlock();
    if (!FillBlock(source, *first, read))
        return false;
    if (first->inputSize < kDeflateBlockSize)
        return DeflateSerial(source, {first}, true, crc, read);
    DeflateBlock* second = TakeBlock();
    if (!FillBlock(source, *second, read))
        return false;
    if (second->inputSize == 0)
        return DeflateSerial(source, {first}, true, crc, read);
    if (!StartWorkers())
        return DeflateSerial(source, {first, second}, false, crc, read);
    return DeflateParallel(source, first, second, crc, read);
}

bool TZip::DeflateSerial(platform::BinaryFile& source, const std::vector<DeflateBlock*>& preRead,
                         bool sourceEnded, std::uint32_t& crc, std::uint64_t& read) {
    if (!deflater_.Start())
        return false;
    const RawDeflater::Sink sink = [this](const unsigned char* data, std::size_t size) {
        return Emit(data, size);
    };
    // Fed in pieces of the copy buffer's size, as the source is read below.
    for (const DeflateBlock* block : preRead) {
        for (std::size_t at = 0; at < block->inputSize; at += kCopyBufferSize) {
            const std::size_t count = std::min(kCopyBufferSize, block->inputSize - at);
            crc = UpdateCrc(crc, block->input.data() + at, count);
            if (!deflater_.Feed(block->input.data() + at, count, false, sink))
                return false;
        }
    }
    if (sourceEnded)
        return deflater_.Feed(buffer_.data(), 0, true, sink);
    for (;;) {
        const std::int64_t n = source.Read(buffer_.data(), buffer_.size());
        if (n < 0)
            return EntryFailed(ArchiveReadFailed);
        const auto count = static_cast<std::size_t>(n);
        crc = UpdateCrc(crc, buffer_.data(), count);
        read += count;
        if (read > limits_.maxOffset)
            return EntryFailed(ArchiveSourceTooLarge);
        if (!deflater_.Feed(buffer_.data(), count, count == 0, sink))
            return false;
        if (count == 0)
            return true;
    }
}

bool TZip::DeflateParallel(platform::BinaryFile& source, DeflateBlock* first, DeflateBlock* second,
                           std::uint32_t& crc, std::uint64_t& read) {
    // Whatever way this ends, no worker may still hold a block afterwards.
    struct CancelOnExit {
        DeflateWorkers& workers;
        ~CancelOnExit() { workers.Cancel(); }
    } cancel{*workers_};

    // Enough blocks in flight to keep every worker busy while the finished
    // ones are written; no more, so memory does not grow with the source.
    const std::size_t maxInFlight = 2 * static_cast<std::size_t>(workers_->Count());
    std::deque<DeflateBlock*> inFlight;
    dictionaryTail_.resize(kDeflateDictionarySize);
    std::size_t tailSize = 0;
    const auto submit = [&](DeflateBlock* block, bool last) {
        block->last = last;
        block->dictionary.resize(kDeflateDictionarySize);
        std::copy_n(dictionaryTail_.data(), tailSize, block->dictionary.data());
        block->dictionarySize = tailSize;
        // Only the last block can be shorter than a dictionary.
        tailSize = std::min(block->inputSize, kDeflateDictionarySize);
        std::copy_n(block->input.data() + block->inputSize - tailSize, tailSize,
                    dictionaryTail_.data());
        workers_->Submit(*block);
        inFlight.push_back(block);
    };

    submit(first, false);
    DeflateBlock* ahead = second; // read, not yet submitted: is it the last?
    for (;;) {
        while (ahead && inFlight.size() < maxInFlight) {
            DeflateBlock* next = TakeBlock();
            if (!FillBlock(source, *next, read))
                return false;
            submit(ahead, next->inputSize == 0);
            if (next->inputSize == 0) {
                spareBlocks_.push_back(next);
                ahead = nullptr;
            } else {
                ahead = next;
            }
        }
        if (inFlight.empty())
            return true;
        DeflateBlock* front = inFlight.front();
        if (!workers_->WaitDone(*front, kPumpInterval)) {
            PumpEvents();
            continue;
        }
        if (!front->ok || !Emit(front->output.data(), front->outputSize))
            return false;
        crc = static_cast<std::uint32_t>(
            crc32_combine(crc, front->crc, static_cast<z_off_t>(front->inputSize)));
        inFlight.pop_front();
        spareBlocks_.push_back(front);
        PumpEvents();
    }
}

bool TZip::FillBlock(platform::BinaryFile& source, DeflateBlock& block, std::uint64_t& read) {
    block.input.resize(kDeflateBlockSize);
    block.inputSize = 0;
    while (block.inputSize < kDeflateBlockSize) {
        const std::int64_t n =
            source.Read(block.input.data() + block.inputSize, kDeflateBlockSize - block.inputSize);
        if (n < 0)
            return EntryFailed(ArchiveReadFailed);
        if (n == 0)
            break;
        block.inputSize += static_cast<std::size_t>(n);
        read += static_cast<std::uint64_t>(n);
        if (read > limits_.maxOffset)
            return EntryFailed(ArchiveSourceTooLarge);
    }
    return true;
}

DeflateBlock* TZip::TakeBlock() {
    if (spareBlocks_.empty()) {
        blocks_.push_back(std::make_unique<DeflateBlock>());
        spareBlocks_.reserve(blocks_.size()); // FreeAllBlocks never allocates
        return blocks_.back().get();
    }
    DeflateBlock* block = spareBlocks_.back();
    spareBlocks_.pop_back();
    return block;
}

void TZip::FreeAllBlocks() {
    spareBlocks_.clear();
    for (const auto& block : blocks_)
        spareBlocks_.push_back(block.get());
}

bool TZip::StartWorkers() {
    if (!workers_)
        workers_ = std::make_unique<DeflateWorkers>(threadCount_);
    return workers_->Count() > 1;
}

void TZip::StopWorkers() {
    workers_.reset();
}

void TZip::PumpEvents() {
    if (!eventPump_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < kPumpInterval)
        return;
    lastPump_ = now;
    eventPump_();
}

bool TZip::Emit(const void* data, std::size_t size) {
    if (initialOffset_ + writeOffset_ + size > limits_.maxOffset)
        return EntryFailed(ArchiveFull);
    const std::size_t written = output_->Write(data, size);
    writeOffset_ += written;
    return written == size;
}

bool TZip::EntryFailed(ArchiveResult why) {
    entryFailure_ = why;
    return false;
}

void TZip::DropPartialEntry(std::uint64_t entryStart) {
    if (initialOffset_ + writeOffset_ == entryStart)
        return;
    writeOffset_ = entryStart - initialOffset_;
    ArchiveResult failure = ArchiveOk;
    if (!seekable_ || !output_->Seek(static_cast<std::int64_t>(entryStart)))
        failure = ArchiveCannotSeek;
    else if (!output_->Truncate(static_cast<std::int64_t>(entryStart)))
        failure = ArchiveWriteFailed;
    if (failure != ArchiveOk && recordedError_ == ArchiveOk)
        recordedError_ = failure;
}

ArchiveResult TZip::Close() {
    if (ended_)
        return ArchiveAlreadyClosed;
    ended_ = true;
    StopWorkers();
    blocks_.clear();
    spareBlocks_.clear();
    if (!output_)
        return ArchiveNoStream;
    ArchiveResult result = WriteCentralDirectory();
    if (!output_->Close() && result == ArchiveOk)
        result = ArchiveWriteFailed; // the system lost data it had accepted
    output_.reset();
    entries_.clear();
    entries_.shrink_to_fit();
    return result;
}

ArchiveResult TZip::WriteCentralDirectory() {
    // After a recorded failure the position of the output is not known; put
    // the directory right after the last complete entry.
    if (recordedError_ != ArchiveOk) {
        const auto end = static_cast<std::int64_t>(initialOffset_ + writeOffset_);
        if (!seekable_ || !output_->Seek(end) || !output_->Truncate(end))
            return recordedError_;
    }
    const std::uint64_t start = writeOffset_;
    for (const EntryRecord& entry : entries_) {
        const std::string header = CentralHeaderBytes(entry);
        const std::size_t written = output_->Write(header.data(), header.size());
        writeOffset_ += written;
        if (written != header.size())
            return ArchiveWriteFailed;
    }
    const std::string end = EndRecordBytes(static_cast<std::uint16_t>(entries_.size()),
                                           static_cast<std::uint32_t>(writeOffset_ - start),
                                           static_cast<std::uint32_t>(initialOffset_ + start));
    const std::size_t written = output_->Write(end.data(), end.size());
    writeOffset_ += written;
    return written == end.size() ? ArchiveOk : ArchiveWriteFailed;
}

} // namespace zip
