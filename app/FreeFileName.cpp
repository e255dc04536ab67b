#include "app/FreeFileName.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

// Far more copies of one name than a site makes in a day; the bound only
// keeps a broken folder from being probed without end.
constexpr int kMaxNumber = 9999;

bool Taken(const std::string& Path) {
    return platform::FileExists(Path) || platform::DirectoryExists(Path);
}

} // namespace

std::string NumberedFileName(const std::string& Path, int Number) {
    if (Number <= 1)
        return Path;
    const std::string Name = platform::ExtractFileName(Path);
    const std::string Folder = Path.substr(0, Path.size() - Name.size());
    const std::string Suffix = " (" + std::to_string(Number) + ")";
    const std::size_t Dot = Name.rfind('.');
    if (Dot == std::string::npos || Dot == 0)
        return Folder + Name + Suffix;
    return Folder + Name.substr(0, Dot) + Suffix + Name.substr(Dot);
}

std::string CopyToFreeName(const std::string& From, const std::string& To) {
    for (int Number = 1; Number <= kMaxNumber; ++Number) {
        const std::string Candidate = NumberedFileName(To, Number);
        if (Taken(Candidate))
            continue;
        // The copy itself refuses an existing destination, so a file that
        // appears meanwhile is not replaced either: then try the next name.
        if (platform::CopyFile(From, Candidate, false))
            return Candidate;
        if (!Taken(Candidate))
            return ""; // the copy failed for another reason (source, folder, disk)
    }
    return "";
}
