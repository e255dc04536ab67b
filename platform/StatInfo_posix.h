// FileInfo and FileIdentity from a POSIX stat record; shared by the path and handle functions.
#pragma once
#include "platform/FileSystem.h"

#include <sys/stat.h>

namespace platform {

inline FileInfo FileInfoFromStat(const struct stat& st) {
    FileInfo info;
    info.size = static_cast<int64_t>(st.st_size);
    info.lastWrite = static_cast<int64_t>(st.st_mtim.tv_sec);
    info.lastWriteNsec = static_cast<int32_t>(st.st_mtim.tv_nsec);
    info.lastAccess = static_cast<int64_t>(st.st_atim.tv_sec);
    info.created = static_cast<int64_t>(st.st_ctim.tv_sec);
    info.ownerWritable = (st.st_mode & S_IWUSR) != 0;
    return info;
}

inline FileIdentity FileIdentityFromStat(const struct stat& st) {
    FileIdentity identity;
    identity.volume = static_cast<uint64_t>(st.st_dev);
    identity.fileLow = static_cast<uint64_t>(st.st_ino);
    identity.changed = static_cast<int64_t>(st.st_ctim.tv_sec);
    identity.changedNsec = static_cast<int32_t>(st.st_ctim.tv_nsec);
    return identity;
}

} // namespace platform
