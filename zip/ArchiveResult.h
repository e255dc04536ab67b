// Result codes of the archive writer; 0 is success.
#pragma once
#include <cstdint>

using ArchiveResult = std::uint32_t;

// Success.
inline constexpr ArchiveResult ArchiveOk = 0;
// The archive cannot be created; a source cannot be opened or examined.
inline constexpr ArchiveResult ArchiveNoFile = 0x200;
// A write came out short (disk full), or compressing failed.
inline constexpr ArchiveResult ArchiveWriteFailed = 0x400;
// The source alone is larger than the format holds (4 GiB), found before it
// is read, or while it grows there. The archive goes on without it.
inline constexpr ArchiveResult ArchiveSourceTooLarge = 0x800;
// The archive has no room left for the source: with it, the archive would
// pass 4 GiB. The archive goes on without it; a smaller source may still fit.
inline constexpr ArchiveResult ArchiveFull = 0x1000;
// The archive holds 65,535 entries, as many as the format can count.
inline constexpr ArchiveResult ArchiveTooManyEntries = 0x2000;
// Reading the source failed part-way. The archive goes on without it.
inline constexpr ArchiveResult ArchiveReadFailed = 0x4000;
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
