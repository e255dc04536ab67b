// Which listed data files went into the archive of the current run, as they
// were when the writer read them. The post-send handling deletes or moves
// only files recorded here as archived whole, unchanged since, and told apart
// from every other member, so a data file whose content the registry did not
// get is never lost.
#pragma once
#include "platform/FileSystem.h"

#include <cstdint>
#include <string>
#include <vector>

struct ArchivedFile {
    std::string Path;          // the line of ListFiles
    bool Archived = false;     // may be deleted or moved (see IsSentUnchanged)
    int64_t Size = 0;          // size and last-write time when it was added
    int64_t LastWrite = 0;     // seconds since 1970, UTC
    int32_t LastWriteNsec = 0; // nanoseconds within that second
    // Which file it was, from the handle the writer read it through.
    platform::FileIdentity Identity;
    bool InArchive = false; // the archive holds a member for it
    // Why an existing file is not in the archive: its journal line.
    std::string LeftOut;
};

class ArchiveRecord {
public:
    void Clear() { files_.clear(); }
    void Add(ArchivedFile file) { files_.push_back(std::move(file)); }
    const std::vector<ArchivedFile>& Files() const { return files_; }
    // The archive was not sent after all: no file counts as archived.
    void MarkNothingArchived() {
        for (auto& file : files_)
            file.Archived = file.InArchive = false;
    }
    // Members the archive holds.
    int Members() const;

    // Members whose names (the file-name part of the path, as the archive
    // stage names them) are one file once unpacked: the registry cannot tell
    // them apart, so none of them counts as archived. Returns their paths,
    // one group per name, in list order.
    std::vector<std::vector<std::string>> KeepSameNamed();

    // True when path was archived whole in this run (the first matching
    // entry that was) and it is still the same file, with the same size,
    // last-write time and identity.
    bool IsSentUnchanged(const std::string& path) const;

private:
    std::vector<ArchivedFile> files_;
};
