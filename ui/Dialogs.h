// The common dialogs as small objects a form keeps as members; each
// Execute() goes through Prompt() (Prompts.h), so tests answer it.
#pragma once
#include <string>
#include <vector>

namespace ui {

// File-open dialog: several files may be chosen, no read-only check box,
// resizable. An empty filter shows every file.
class OpenDialog {
public:
    std::string title;
    std::string initialDir;
    std::string filter; // "Description|pattern;pattern|..." or empty

    // True when the operator chose at least one file; files() then holds
    // the full paths in the dialog's order.
    bool Execute();
    const std::vector<std::string>& files() const { return files_; }

private:
    std::vector<std::string> files_;
};

// File-save dialog. It does not ask about overwriting and does not require
// the file to exist.
class SaveDialog {
public:
    std::string title;
    std::string filter;   // "Description|pattern|..." ("*.*" means every file)
    std::string fileName; // initial name in, chosen full path out

    bool Execute();
};

// Folder-browse dialog: folders only, OK enabled from the start.
class BrowseDialog {
public:
    std::string title;
    std::string folder; // starting folder in, chosen folder out (no trailing
                        // separator except for the root)

    bool Execute();
};

} // namespace ui
