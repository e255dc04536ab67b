// Which listed data files went into the archive of the current run, as they
// were when the writer read them. The post-send handling deletes or moves
// only files recorded here as archived whole and unchanged since, so a data
// file that is not in the sent archive is never lost.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ArchivedFile {
    std::string Path;          // the line of ListFiles
    bool Archived = false;     // the writer added it whole (ArchiveAddFile gave 0)
    int64_t Size = 0;          // size and last-write time when it was added
    int64_t LastWrite = 0;     // seconds since 1970, UTC
    int32_t LastWriteNsec = 0; // nanoseconds within that second
};

class ArchiveRecord {
public:
    void Clear() { files_.clear(); }
    void Add(ArchivedFile file) { files_.push_back(std::move(file)); }
    const std::vector<ArchivedFile>& Files() const { return files_; }
    // The archive was not sent after all: no file counts as archived.
    void MarkNothingArchived() {
        for (auto& file : files_)
            file.Archived = false;
    }

    // True when path was archived whole in this run (the first matching
    // entry that was) and its size and last-write time are still the same.
    bool IsSentUnchanged(const std::string& path) const;

private:
    std::vector<ArchivedFile> files_;
};
