#include "app/ArchiveRecord.h"

#include "platform/Paths.h"
#include "zip/MemberName.h"

#include <algorithm>
#include <map>

int ArchiveRecord::Members() const {
    return static_cast<int>(
        std::count_if(files_.begin(), files_.end(), [](const auto& f) { return f.InArchive; }));
}

std::vector<std::vector<std::string>> ArchiveRecord::KeepSameNamed() {
    std::map<std::string, std::vector<ArchivedFile*>> byName;
    std::vector<std::string> order;
    for (auto& f : files_) {
        if (!f.InArchive)
            continue;
        const std::string key = zip::MemberNameKey(platform::ExtractFileName(f.Path));
        const auto [it, fresh] = byName.try_emplace(key);
        if (fresh)
            order.push_back(key);
        it->second.push_back(&f);
    }
    std::vector<std::vector<std::string>> groups;
    for (const std::string& key : order) {
        const auto& group = byName[key];
        if (group.size() < 2)
            continue;
        groups.emplace_back();
        for (ArchivedFile* f : group) {
            f->Archived = false;
            groups.back().push_back(f->Path);
        }
    }
    return groups;
}

bool ArchiveRecord::IsSentUnchanged(const std::string& path) const {
    for (const auto& f : files_) {
        if (f.Path != path || !f.Archived)
            continue;
        platform::FileInfo info;
        platform::FileIdentity identity;
        if (!platform::GetFileInfo(path, info) || !platform::GetFileIdentity(path, identity))
            return false;
        // To the nanosecond: a rewrite of the same size within the same
        // second is a change too. The identity tells another file put in its
        // place, even with the same size and last-write time.
        return info.size == f.Size && info.lastWrite == f.LastWrite &&
               info.lastWriteNsec == f.LastWriteNsec && identity == f.Identity;
    }
    return false;
}
