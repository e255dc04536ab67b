// zipfiles ARCHIVE FOLDER: archives every file of FOLDER, in the order of
// their UTF-8 names, each under its own name, with the program's writer.
// Built for Linux and for Windows so that their archives can be compared.
#include "platform/Paths.h"
#include "tests/support/TempFolder.h"
#include "zip/Archive.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zipfiles ARCHIVE FOLDER\n");
        return 2;
    }
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(testsupport::NativePath(argv[2]))) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    ArchiveHandle* archive = ArchiveCreate(argv[1]);
    if (!archive)
        return 1;
    int failures = 0;
    for (const auto& name : names)
        failures += ArchiveAddFile(archive, name, platform::JoinPath(argv[2], name)) != ArchiveOk;
    failures += ArchiveClose(archive) != ArchiveOk;
    return failures == 0 ? 0 : 1;
}
