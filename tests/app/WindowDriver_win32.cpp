// A Windows helper for the whole-program tests under Wine: does to the
// program's window, found by its caption, what an operator or the system
// does to it, from another process.
//
//   window-driver press CAPTION BUTTON   presses the window's button
//   window-driver altf4 CAPTION          Alt+F4 (the system menu's Close)
//   window-driver endsession CAPTION     log-off: asks, then ends the session
//   window-driver list                   prints the visible windows' captions
//
// Each waits up to 30 s for the window. Exit status 0 when done (endsession:
// when the window let the session end), 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM l) {
    auto* search = reinterpret_cast<Search*>(l);
    wchar_t text[256] = {};
    GetWindowTextW(hwnd, text, 256);
    if (IsWindowVisible(hwnd) && lstrcmpW(text, search->caption) == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForWindow(const wchar_t* caption) {
    for (int i = 0; i < 300; ++i) {
        Search search{caption, nullptr};
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(100);
    }
    std::fprintf(stderr, "no window with the caption asked for\n");
    return nullptr;
}

BOOL CALLBACK PrintVisible(HWND hwnd, LPARAM) {
    wchar_t text[256] = {};
    const int length = IsWindowVisible(hwnd) ? GetWindowTextW(hwnd, text, 256) : 0;
    if (length > 0) {
        char utf8[1024] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8 - 1, nullptr, nullptr);
        std::printf("%s\n", utf8);
    }
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"list") {
        EnumWindows(PrintVisible, 0);
        return 0;
    }
    if (argc < 3)
        return 1;
    const HWND window = WaitForWindow(argv[2]);
    if (window == nullptr)
        return 1;
    if (command == L"press" && argc > 3) {
        const HWND button = FindWindowExW(window, nullptr, L"Button", argv[3]);
        // Posted: the run the button starts must not hold this program.
        return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (command == L"altf4")
        return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    if (command == L"endsession") {
        DWORD_PTR mayEnd = FALSE;
        if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                 10000, &mayEnd) ||
            mayEnd == FALSE)
            return 1;
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                   10000, &ignored)
                   ? 0
                   : 1;
    }
    return 1;
}
