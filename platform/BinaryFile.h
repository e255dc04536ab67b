// An open file for plain binary reading or writing, closed when destroyed.
#pragma once
#include "platform/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class BinaryFile {
public:
    // An existing regular file, for reading; null when it cannot be opened.
    static std::unique_ptr<BinaryFile> OpenForReading(const std::string& path);
    // A new, empty file for writing, readable by its owner only, replacing
    // any file of that name; null on failure.
    static std::unique_ptr<BinaryFile> CreateForWriting(const std::string& path);
    // A new file for writing, readable by its owner only, made only when
    // nothing at all is at the path (a link, a FIFO or a file planted there
    // is never opened); null otherwise.
    static std::unique_ptr<BinaryFile> CreateNew(const std::string& path);

    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Bytes read (0 at the end), or -1 on a read error.
    int64_t Read(void* buffer, size_t size);
    // Bytes actually written; fewer than size when the file cannot take more.
    size_t Write(const void* data, size_t size);
    bool Seek(int64_t offset); // from the start of the file
    bool CanSeek() const;
    bool Truncate(int64_t size);
    // Information of the open file (same fields as GetFileInfo).
    bool GetInfo(FileInfo& info) const;
    // Identity of the open file (same fields as GetFileIdentity).
    bool GetIdentity(FileIdentity& identity) const;
    // False when the system reports a failure on closing (data may be lost).
    bool Close();

private:
    // The system's handle: a file descriptor on POSIX systems, a HANDLE on
    // Windows; -1 when closed.
    explicit BinaryFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

} // namespace platform
