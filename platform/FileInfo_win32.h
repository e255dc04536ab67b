// FileInfo from a Windows file record; shared by the path and handle
// functions, whose records (WIN32_FILE_ATTRIBUTE_DATA,
// BY_HANDLE_FILE_INFORMATION) name these fields alike.
#pragma once
#include "platform/FileSystem.h"
#include "platform/Wide_win32.h"

namespace platform {

template <class Record> FileInfo FileInfoFromRecord(const Record& data) {
    FileInfo info;
    info.size =
        static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    info.lastWrite = UnixFromFileTime(data.ftLastWriteTime);
    info.lastWriteNsec = NsecFromFileTime(data.ftLastWriteTime);
    info.lastAccess = UnixFromFileTime(data.ftLastAccessTime);
    info.created = UnixFromFileTime(data.ftCreationTime);
    info.ownerWritable = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    return info;
}

} // namespace platform
