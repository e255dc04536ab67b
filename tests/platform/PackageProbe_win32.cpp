// A helper of the Windows package's test: asks Windows what Explorer and an
// installer would see.
//   package-probe version FILE       the version information and the number
//                                    of icons, "Key=value" a line (UTF-8)
//   package-probe hold FILE UNTIL    holds FILE open sharing nothing but
//                                    reading, as an editor may, until the
//                                    file UNTIL exists; says "held" first
//   package-probe window TITLE [close]  waits for a window whose caption
//                                    begins with TITLE; with close asks it
//                                    to close and waits until it is gone
// Exit status 0 on success.
#include <windows.h>

#include <string>

namespace {

void Print(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

int Version(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !GetFileVersionInfoW(file, 0, size, data.data()))
        return 1;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        Print(L"FixedFileVersion=" + std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
              std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
              std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
              std::to_wstring(LOWORD(fixed->dwFileVersionLS)));
    }
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
        return 1;
    const WORD* translation = static_cast<const WORD*>(value);
    wchar_t block[32];
    wsprintfW(block, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    for (const wchar_t* key :
         {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"LegalCopyright",
          L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        if (VerQueryValueW(data.data(), (std::wstring(block) + key).c_str(), &value, &length))
            Print(std::wstring(key) + L"=" + static_cast<const wchar_t*>(value));
    }
    Print(L"Icons=" + std::to_wstring(ExtractIconExW(file, -1, nullptr, nullptr, 0)));
    return 0;
}

int Hold(const wchar_t* file, const wchar_t* until) {
    HANDLE held =
        CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    Print(L"held");
    for (int i = 0; i < 1200 && GetFileAttributesW(until) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    CloseHandle(held);
    return 0;
}

struct Search {
    std::wstring prefix;
    HWND found = nullptr;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t caption[512];
    if (IsWindowVisible(window) && GetWindowTextW(window, caption, 512) > 0 &&
        std::wstring(caption).rfind(search->prefix, 0) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int Window(const wchar_t* prefix, bool close) {
    Search search{prefix};
    for (int i = 0; i < 600 && search.found == nullptr; ++i) {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            Sleep(50);
    }
    if (search.found == nullptr)
        return 1;
    if (!close)
        return 0;
    PostMessageW(search.found, WM_CLOSE, 0, 0);
    for (int i = 0; i < 600 && IsWindow(search.found); ++i)
        Sleep(50);
    return IsWindow(search.found) ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"version" && argc == 3)
        return Version(argv[2]);
    if (command == L"hold" && argc == 4)
        return Hold(argv[2], argv[3]);
    if (command == L"window" && (argc == 3 || argc == 4))
        return Window(argv[2], argc == 4 && std::wstring(argv[3]) == L"close");
    Print(L"usage: package-probe version FILE | hold FILE UNTIL | window TITLE [close]");
    return 2;
}
