// Whether a data file chosen in the add-files dialog can go on the list.
#pragma once
#include <string>

enum class ListablePath {
    Yes,
    // Settings.ini and the journal cannot hold the path: a character outside
    // Windows-1250, or a line break (which would split its line in the file).
    NotStorable,
    // Its file name would become an archive member that unpacks outside the
    // extracting folder ("..\..\x" on Linux becomes "../../x").
    UnsafeInArchive,
};

ListablePath CheckListablePath(const std::string& path);
