// Result codes of the archive writer; 0 is success.
#pragma once
#include <cstdint>

using ArchiveResult = std::uint32_t;

// Success.
inline constexpr ArchiveResult ArchiveOk = 0;
// The archive cannot be created; a source cannot be opened or examined.
inline constexpr ArchiveResult ArchiveNoFile = 0x200;
// A write came out short (disk full), compressing or copying failed, or the
// entry does not fit the format (4 GiB offsets and sizes, 65,535 entries).
inline constexpr ArchiveResult ArchiveWriteFailed = 0x400;
// Null handle; empty, too long or unrepresentable name; no source path.
inline constexpr ArchiveResult ArchiveBadArgument = 0x10000;
// An earlier failure left the output in an unknown state; no more additions.
inline constexpr ArchiveResult ArchiveErrorRecorded = 0x40000;
// An addition after the archive was closed.
inline constexpr ArchiveResult ArchiveAlreadyClosed = 0x50000;
// The handle is not one for creating an archive.
inline constexpr ArchiveResult ArchiveWrongHandle = 0x80000;
// The writer has no output or no source to read from.
inline constexpr ArchiveResult ArchiveNoStream = 0x1000000;
// A seek was needed on an output that cannot seek, or it failed.
inline constexpr ArchiveResult ArchiveCannotSeek = 0x2000000;
