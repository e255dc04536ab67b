#include "app/ArchiveRecord.h"

#include "platform/FileSystem.h"

bool ArchiveRecord::IsSentUnchanged(const std::string& path) const {
    for (const auto& f : files_) {
        if (f.Path != path || !f.Archived)
            continue;
        platform::FileInfo info;
        if (!platform::GetFileInfo(path, info))
            return false;
        // To the nanosecond: a rewrite of the same size within the same
        // second is a change too.
        return info.size == f.Size && info.lastWrite == f.LastWrite &&
               info.lastWriteNsec == f.LastWriteNsec;
    }
    return false;
}
