// Handle functions through which the program writes a ZIP archive:
// one ArchiveCreate, any number of ArchiveAddFile, one ArchiveClose.
#pragma once
#include "zip/ArchiveResult.h"
#include "zip/TZip.h"

#include <functional>
#include <memory>
#include <string>

// Kind tag of a handle for an archive being created.
inline constexpr int ArchiveKindCreate = 2;

struct ArchiveHandle {
    int kind = 0;
    std::unique_ptr<zip::TZip> zip;
};

// Creates (or replaces) the archive file; null when it cannot be created.
ArchiveHandle* ArchiveCreate(const std::string& path);
// Creates the archive file only when nothing is at path yet (TZip::CreateNew);
// null otherwise.
ArchiveHandle* ArchiveCreateNew(const std::string& path);

// Adds the file at source under name (UTF-8; '\' becomes '/'; stored in
// Windows-1250). A null source means none was given. Names Windows-1250
// cannot hold, and names over 259 bytes, give ArchiveBadArgument.
ArchiveResult ArchiveAddFile(ArchiveHandle* handle, const char* name, const char* source);
ArchiveResult ArchiveAddFile(ArchiveHandle* handle, const std::string& name,
                             const std::string& source);
// The same from a source the caller opened (read from its start), so that
// the caller can tell from that handle which file went into the archive.
ArchiveResult ArchiveAddFile(ArchiveHandle* handle, const std::string& name,
                             platform::BinaryFile& source);

// Has pump called while an addition waits for the worker threads (see
// TZip::SetEventPump), so a window stays alive while a large file is
// compressed. Ignored for a null or wrong handle.
void ArchiveSetEventPump(ArchiveHandle* handle, std::function<void()> pump);

// Writes the central directory and closes the file. The handle is released
// (and must not be used again) unless the result is ArchiveBadArgument or
// ArchiveWrongHandle.
ArchiveResult ArchiveClose(ArchiveHandle* handle);
