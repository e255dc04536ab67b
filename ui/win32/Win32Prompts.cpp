// Win32 backend: the real message boxes and common dialogs of Backend.h
// (MessageBoxW, GetOpenFileNameW, GetSaveFileNameW, and for folders the
// common item dialog, IFileOpenDialog, with SHBrowseForFolderW where that
// cannot be made).
#include "ui/Backend.h"
#include "ui/win32/Win32Internal.h"
#include "ui/win32/Win32Text.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

namespace ui::backend {
namespace {

using win32::Narrow;
using win32::Widen;

// Room for many chosen files: the dialog writes the folder and every name.
constexpr std::size_t kFileBufferChars = 1 << 16;

int Box(const PromptRequest& request, UINT type) {
    const HWND owner = win32::PromptOwner();
    type |= MB_SETFOREGROUND | (owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL);
    return MessageBoxW(owner, Widen(request.text).c_str(), Widen(request.caption).c_str(), type);
}

// "Desc|pattern|Desc|pattern" into the dialog's NUL-separated pairs.
std::wstring Filter(const std::string& filter) {
    if (filter.empty())
        return {};
    std::wstring result = Widen(filter);
    for (wchar_t& c : result)
        if (c == L'|')
            c = L'\0';
    result.push_back(L'\0');
    result.push_back(L'\0');
    return result;
}

// A multiple selection comes back as the folder followed by the names, each
// ended by NUL; a single file as its full path.
std::vector<std::string> SplitSelection(const std::vector<wchar_t>& buffer) {
    std::vector<std::wstring> parts;
    for (std::size_t i = 0; i < buffer.size() && buffer[i] != L'\0';) {
        std::wstring part(&buffer[i]);
        i += part.size() + 1;
        parts.push_back(std::move(part));
    }
    std::vector<std::string> paths;
    if (parts.size() == 1) {
        paths.push_back(Narrow(parts[0]));
        return paths;
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::wstring folder = parts[0];
        if (!folder.empty() && folder.back() != L'\\')
            folder.push_back(L'\\');
        paths.push_back(Narrow(folder + parts[i]));
    }
    return paths;
}

// What the open and save dialogs share: the name buffer and the texts the
// dialog's structure points into, which must live as long as the dialog.
struct FileDialog {
    explicit FileDialog(const PromptRequest& request)
        : buffer(kFileBufferChars, L'\0'), title(Widen(request.caption)),
          folder(Widen(request.initialDir)), filter(Filter(request.filter)) {
        ofn.lStructSize = sizeof(ofn);
        ofn.hwndOwner = win32::PromptOwner();
        ofn.lpstrFile = buffer.data();
        ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        ofn.lpstrTitle = title.c_str();
        ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
        ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
        // OFN_NOCHANGEDIR: a relative path elsewhere in the program (the
        // journal) must not change its meaning because a folder was browsed.
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    }
    std::vector<wchar_t> buffer;
    std::wstring title, folder, filter;
    OPENFILENAMEW ofn{};
};

PromptResult OpenFiles(const PromptRequest& request) {
    FileDialog dialog(request);
    dialog.ofn.Flags |= OFN_ALLOWMULTISELECT;
    PromptResult result;
    if (GetOpenFileNameW(&dialog.ofn)) {
        result.paths = SplitSelection(dialog.buffer);
        result.accepted = !result.paths.empty();
    }
    return result;
}

PromptResult SaveFile(const PromptRequest& request) {
    FileDialog dialog(request);
    const std::wstring initial = Widen(request.fileName);
    if (initial.size() < dialog.buffer.size())
        std::copy(initial.begin(), initial.end(), dialog.buffer.begin());
    // No question about overwriting, and the file need not exist.
    PromptResult result;
    if (GetSaveFileNameW(&dialog.ofn)) {
        result.paths.push_back(Narrow(dialog.buffer.data(), lstrlenW(dialog.buffer.data())));
        result.accepted = !result.paths.front().empty();
    }
    return result;
}

// The old folder dialog's start: the given folder, OK enabled, the path of
// the current selection shown.
int CALLBACK BrowseCallback(HWND dialog, UINT msg, LPARAM l, LPARAM data) {
    if (msg == BFFM_INITIALIZED) {
        const auto* folder = reinterpret_cast<const wchar_t*>(data);
        if (folder != nullptr && *folder != L'\0')
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder));
        SendMessageW(dialog, BFFM_ENABLEOK, 0, TRUE);
    } else if (msg == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH] = {};
        if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(l), path))
            SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
        SendMessageW(dialog, BFFM_ENABLEOK, 0, TRUE);
    }
    return 0;
}

// Holds one reference to a COM object and releases it.
template <class Interface> class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_ != nullptr)
            p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void** Out() { return reinterpret_cast<void**>(&p_); }

private:
    Interface* p_ = nullptr;
};

// The common item dialog picking a folder of the file system: resizable,
// with "new folder" and paths of any length. False when it cannot be made
// or shown at all (not when the operator cancels).
bool ModernBrowseFolder(const PromptRequest& request, PromptResult& result) {
    ComRef<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, dialog.Out())))
        return false;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    // FOS_NOCHANGEDIR: a relative path elsewhere in the program (the
    // journal) must not change its meaning because a folder was browsed.
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST |
                       FOS_NOCHANGEDIR);
    if (!request.caption.empty())
        dialog->SetTitle(Widen(request.caption).c_str());
    if (!request.initialDir.empty()) {
        ComRef<IShellItem> start;
        if (SUCCEEDED(SHCreateItemFromParsingName(Widen(request.initialDir).c_str(), nullptr,
                                                  IID_IShellItem, start.Out())))
            dialog->SetFolder(start.operator->());
    }
    const HRESULT shown = dialog->Show(win32::PromptOwner());
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED))
        return true;
    if (FAILED(shown))
        return false;
    ComRef<IShellItem> chosen;
    PWSTR path = nullptr;
    if (SUCCEEDED(dialog->GetResult(reinterpret_cast<IShellItem**>(chosen.Out()))) &&
        SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path != nullptr) {
        std::wstring folder(path);
        CoTaskMemFree(path);
        // Without a trailing backslash, except for a drive root.
        if (folder.size() > 3 && folder.back() == L'\\')
            folder.pop_back();
        result.paths.push_back(Narrow(folder));
        result.accepted = !folder.empty();
    }
    return true;
}

// The item dialog, or where it cannot be made the old folder dialog, which
// starts at the given folder, keeps OK enabled from the start and shows the
// path of the current selection.
PromptResult BrowseFolder(const PromptRequest& request) {
    PromptResult modern;
    if (ModernBrowseFolder(request, modern))
        return modern;
    const std::wstring title = Widen(request.caption);
    const std::wstring folder = Widen(request.initialDir);
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = win32::PromptOwner();
    info.pszDisplayName = display;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(folder.c_str());
    PromptResult result;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr)
        return result;
    // The path comes without a trailing backslash, except for a drive root.
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen, path) && path[0] != L'\0') {
        result.paths.push_back(Narrow(path, lstrlenW(path)));
        result.accepted = true;
    }
    CoTaskMemFree(chosen);
    return result;
}

} // namespace

PromptResult ShowPrompt(const PromptRequest& request) {
    PromptResult result;
    switch (request.kind) {
    case PromptKind::Message:
        Box(request, MB_OK);
        result.accepted = true;
        break;
    case PromptKind::Error:
        Box(request, MB_OK | MB_ICONERROR);
        result.accepted = true;
        break;
    case PromptKind::Question:
        result.accepted = Box(request, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        break;
    case PromptKind::OpenFiles:
        result = OpenFiles(request);
        break;
    case PromptKind::SaveFile:
        result = SaveFile(request);
        break;
    case PromptKind::BrowseFolder:
        result = BrowseFolder(request);
        break;
    case PromptKind::ModalForm:
        // The layer above runs its own forms.
        break;
    }
    return result;
}

} // namespace ui::backend
