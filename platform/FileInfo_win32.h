// FileInfo from a Windows file record, and FileIdentity of an open handle;
// shared by the path and handle functions, whose records
// (WIN32_FILE_ATTRIBUTE_DATA, BY_HANDLE_FILE_INFORMATION) name these fields
// alike.
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

// The volume and the 128-bit file ID where the file system keeps one (NTFS,
// ReFS); elsewhere (FAT) the older 64-bit file index, which the same volume
// gives every time for the same file. The change time moves with every write
// and attribute change, also where the last-write time is put back.
inline bool FileIdentityOfHandle(HANDLE h, FileIdentity& identity) {
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return false;
    FILE_ID_INFO id;
    if (::GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id)) {
        identity.volume = id.VolumeSerialNumber;
        static_assert(sizeof id.FileId.Identifier == 16);
        identity.fileLow = 0;
        identity.fileHigh = 0;
        for (int i = 7; i >= 0; --i) {
            identity.fileLow = (identity.fileLow << 8) | id.FileId.Identifier[i];
            identity.fileHigh = (identity.fileHigh << 8) | id.FileId.Identifier[i + 8];
        }
    } else {
        BY_HANDLE_FILE_INFORMATION data;
        if (!::GetFileInformationByHandle(h, &data))
            return false;
        identity.volume = data.dwVolumeSerialNumber;
        identity.fileLow = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
        identity.fileHigh = 0;
    }
    FILETIME changed;
    changed.dwLowDateTime = basic.ChangeTime.LowPart;
    changed.dwHighDateTime = static_cast<DWORD>(basic.ChangeTime.HighPart);
    identity.changed = UnixFromFileTime(changed);
    identity.changedNsec = NsecFromFileTime(changed);
    return true;
}

} // namespace platform
