// Every message box, question and common dialog of the program goes through
// Prompt(). Tests install a hook that records what would be shown and gives
// the answer, so no test ever blocks on a modal window.
//
// Without a hook the toolkit's real box or dialog is shown. On a platform where
// nobody can answer (offscreen, minimal: an unattended run under cron) the
// text goes to stderr and the default answer is taken (OK, No, Cancel), so a
// run without a display can never hang on a box.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace ui {

class DialogForm;

enum class PromptKind {
    Message,      // plain box: caption, text, one OK button, no icon
    Question,     // Yes/No box, question icon, No is the default button
    Error,        // the standard error display for an escaped exception
    OpenFiles,    // file-open dialog, several files may be chosen
    SaveFile,     // file-save dialog
    BrowseFolder, // folder-browse dialog
    ModalForm,    // one of the program's own forms shown modally
};

struct PromptRequest {
    PromptKind kind = PromptKind::Message;
    std::string caption;        // box caption or dialog title
    std::string text;           // box text
    std::string initialDir;     // dialogs: folder to start in ("" = current)
    std::string fileName;       // save dialog: initial file name
    std::string filter;         // dialogs: "Description|pattern|Description|pattern"
    DialogForm* form = nullptr; // ModalForm: the form to show
};

struct PromptResult {
    // OK / Yes / a file or folder chosen / form accepted; false for No,
    // Cancel and a rejected form.
    bool accepted = false;
    std::vector<std::string> paths; // chosen files (in order) or folder
};

using PromptHook = std::function<PromptResult(const PromptRequest&)>;

// Installs the hook that answers every Prompt(); an empty hook shows the
// real boxes again. Returns the hook that was installed before.
PromptHook SetPromptHook(PromptHook hook);

// The one wrapper: hands the request to the hook when one is installed,
// otherwise shows the real box or dialog (see the header comment).
PromptResult Prompt(const PromptRequest& request);

// Plain modal message box, caption "RODERUV", one OK button, no icon,
// centred on the screen.
void ShowMessage(const std::string& text);

// Yes/No question box owned by the application, question icon, No as the
// default button. True when the answer is Yes.
bool AskYesNo(const std::string& caption, const std::string& text);

// The application's standard error display: a box with the text of an
// exception that escaped an event handler. The program goes on.
void ShowException(const std::string& text);

// Runs an event handler; an exception leaving it goes to ShowException.
void RunGuarded(const std::function<void()>& handler);

} // namespace ui
