#include "ui/Prompts.h"

#include "ui/Application.h"
#include "ui/Backend.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace ui {
namespace {

PromptHook& Hook() {
    static PromptHook hook;
    return hook;
}

const char* KindName(PromptKind kind) {
    switch (kind) {
    case PromptKind::Message:
        return "message";
    case PromptKind::Question:
        return "question";
    case PromptKind::Error:
        return "error";
    case PromptKind::OpenFiles:
        return "open dialog";
    case PromptKind::SaveFile:
        return "save dialog";
    case PromptKind::BrowseFolder:
        return "browse dialog";
    case PromptKind::ModalForm:
        return "form";
    }
    return "prompt";
}

// Nobody can answer: report the text and take the default answer.
PromptResult Unattended(const PromptRequest& request) {
    std::fprintf(stderr, "%s (%s): %s\n", kApplicationTitle, KindName(request.kind),
                 request.text.empty() ? request.caption.c_str() : request.text.c_str());
    PromptResult result;
    result.accepted = request.kind == PromptKind::Message || request.kind == PromptKind::Error;
    return result;
}

PromptResult ShowReal(const PromptRequest& request) {
    if (request.kind != PromptKind::ModalForm)
        return backend::ShowPrompt(request);
    PromptResult result;
    if (request.form != nullptr)
        result.accepted = request.form->RunModalLoop();
    return result;
}

} // namespace

PromptHook SetPromptHook(PromptHook hook) {
    PromptHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

PromptResult Prompt(const PromptRequest& request) {
    if (Hook())
        return Hook()(request);
    // A modal form can be answered by its own buttons only with a display.
    if (!Interactive())
        return Unattended(request);
    return ShowReal(request);
}

void ShowMessage(const std::string& text) {
    PromptRequest request;
    request.kind = PromptKind::Message;
    request.caption = kApplicationTitle;
    request.text = text;
    Prompt(request);
}

bool AskYesNo(const std::string& caption, const std::string& text) {
    PromptRequest request;
    request.kind = PromptKind::Question;
    request.caption = caption;
    request.text = text;
    return Prompt(request).accepted;
}

void ShowException(const std::string& text) {
    PromptRequest request;
    request.kind = PromptKind::Error;
    request.caption = kApplicationTitle;
    request.text = text;
    Prompt(request);
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

namespace {

// The chosen paths of a file or folder dialog; none when it was cancelled.
std::vector<std::string> Choose(PromptRequest request) {
    PromptResult result = Prompt(request);
    if (!result.accepted)
        return {};
    return std::move(result.paths);
}

} // namespace

bool OpenDialog::Execute() {
    PromptRequest request;
    request.kind = PromptKind::OpenFiles;
    request.caption = title;
    request.initialDir = initialDir;
    request.filter = filter;
    std::vector<std::string> paths = Choose(request);
    if (paths.empty())
        return false;
    files_ = std::move(paths);
    return true;
}

bool SaveDialog::Execute() {
    PromptRequest request;
    request.kind = PromptKind::SaveFile;
    request.caption = title;
    request.filter = filter;
    request.fileName = fileName;
    const std::vector<std::string> paths = Choose(request);
    if (paths.empty())
        return false;
    fileName = paths.front();
    return true;
}

bool BrowseDialog::Execute() {
    PromptRequest request;
    request.kind = PromptKind::BrowseFolder;
    request.caption = title;
    request.initialDir = folder;
    const std::vector<std::string> paths = Choose(request);
    if (paths.empty())
        return false;
    folder = paths.front();
    return true;
}

} // namespace ui
