// Win32 backend: the application, its message loops, "let events run", the
// request to end, posted calls and the hidden message window of Backend.h.
#include "ui/Application.h"
#include "ui/Backend.h"
#include "ui/Prompts.h"
#include "ui/win32/Win32Internal.h"
#include "ui/win32/Win32Text.h"

#include <objbase.h>
#include <shellapi.h>

#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

namespace ui::backend {
namespace {

constexpr UINT kPostedCall = WM_APP + 1;
// "Let events run" handles what is pending; a bound keeps a call that posts
// itself again from holding it for ever.
constexpr int kMostMessagesPerPass = 10000;

struct State {
    bool application = false;
    bool comStarted = false;
    bool quitPending = false;
    int quitCode = 0;
    int mainLoops = 0;
    bool testProcess = false;
};

State& App() {
    static State state;
    return state;
}

std::mutex& PostedLock() {
    static std::mutex lock;
    return lock;
}

std::deque<Callback>& Posted() {
    static std::deque<Callback> calls;
    return calls;
}

LRESULT CALLBACK MessageProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_TIMER) {
        win32::TimerTick(static_cast<UINT_PTR>(w));
        return 0;
    }
    if (msg == kPostedCall) {
        Callback call;
        {
            std::lock_guard<std::mutex> hold(PostedLock());
            if (Posted().empty())
                return 0;
            call = std::move(Posted().front());
            Posted().pop_front();
        }
        if (call)
            win32::Guarded(call);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, w, l);
}

bool IsPushButton(HWND hwnd) {
    wchar_t name[16] = {};
    if (GetClassNameW(hwnd, name, 16) == 0 || lstrcmpiW(name, L"Button") != 0)
        return false;
    const auto type = GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

void Press(HWND window, HWND button) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

// Enter and Esc: Enter presses the focused push button, else the default
// button; Esc asks a dialog to close.
void DialogKey(HWND window, WPARAM key) {
    if (key == VK_ESCAPE) {
        SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(window, focus) && IsPushButton(focus)) {
        if (IsWindowEnabled(focus))
            Press(window, focus);
        return;
    }
    const auto def = static_cast<DWORD>(SendMessageW(window, DM_GETDEFID, 0, 0));
    if (HIWORD(def) != DC_HASDEFID)
        return;
    const HWND button = GetDlgItem(window, LOWORD(def));
    if (button != nullptr && IsWindowEnabled(button) && IsWindowVisible(button))
        Press(window, button);
}

bool InteractiveStation() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    // A service or a task run without a logged-on user has a window station
    // nobody sees: a box there would wait for ever.
    return station == nullptr ||
           !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed) ||
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

} // namespace

} // namespace ui::backend

// ---- shared with the other files of the backend ------------------------------

namespace ui::win32 {

using namespace ui::backend;

void Deliver(MSG& msg) {
    const HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsProgramWindow(root)) {
        // Both windows take the keyboard as a Windows dialog does: Enter
        // presses the focused push button or else the default one, Tab and
        // Shift+Tab move the focus. Esc closes a dialog only; in the main
        // window it presses nothing.
        const bool enter = msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN;
        const bool escape = msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE;
        if (enter || (escape && IsDialogWindow(root))) {
            DialogKey(root, msg.wParam);
            return;
        }
        if (!escape && IsDialogMessageW(root, &msg))
            return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void RunLoopUntil(const std::function<bool()>& done) {
    while (!done() && !App().quitPending) {
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            Quit(static_cast<int>(msg.wParam));
            break;
        }
        if (got == -1)
            break;
        Deliver(msg);
    }
}

int MainLoopDepth() {
    return App().mainLoops;
}

HWND MessageWindow() {
    static HWND window = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = MessageProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RoderuvMessages";
        RegisterClassExW(&wc);
        return CreateWindowExW(0, wc.lpszClassName, Widen(kApplicationTitle).c_str(), 0, 0, 0, 0, 0,
                               HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }();
    return window;
}

void Guarded(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

void SetTestProcess(bool on) {
    App().testProcess = on;
}

HWND PromptOwner() {
    const HWND active = GetActiveWindow();
    return IsProgramWindow(active) && IsWindowVisible(active) ? active : nullptr;
}

} // namespace ui::win32

// ---- Backend.h ------------------------------------------------------------------

namespace ui::backend {

void StartApplication(int&, char**) {
    State& app = App();
    app.application = true;
    app.quitPending = false;
    app.quitCode = 0;
    // The folder-browse dialog needs COM on this thread.
    app.comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    win32::EnsureClasses();
    win32::MessageWindow();
}

void EndApplication() {
    State& app = App();
    {
        std::lock_guard<std::mutex> hold(PostedLock());
        Posted().clear();
    }
    if (app.comStarted)
        CoUninitialize();
    app = State{false, false, false, 0, 0, app.testProcess};
}

bool ApplicationExists() {
    return App().application;
}

int RunEventLoop() {
    State& app = App();
    if (!app.application)
        return 0;
    ++app.mainLoops;
    win32::RunLoopUntil([] { return false; });
    --app.mainLoops;
    app.quitPending = false;
    return app.quitCode;
}

void Quit(int code) {
    State& app = App();
    if (!app.application)
        return;
    app.quitPending = true;
    app.quitCode = code;
    // Wakes a loop that waits for a message.
    PostMessageW(win32::MessageWindow(), WM_NULL, 0, 0);
}

void ProcessEvents() {
    if (!App().application)
        return;
    MSG msg;
    for (int n = 0; n < kMostMessagesPerPass && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
        if (msg.message == WM_QUIT)
            Quit(static_cast<int>(msg.wParam));
        else
            win32::Deliver(msg);
    }
}

void Post(Callback call) {
    {
        std::lock_guard<std::mutex> hold(PostedLock());
        Posted().push_back(std::move(call));
    }
    PostMessageW(win32::MessageWindow(), kPostedCall, 0, 0);
}

std::vector<std::string> ProgramArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(win32::Narrow(words[i], lstrlenW(words[i])));
    LocalFree(words);
    return arguments;
}

bool DisplayReachable() {
    return true;
}

bool WindowsAvailable() {
    return true;
}

void UseOffscreenWithoutDisplay() {}

bool Interactive() {
    return App().application && !App().testProcess && InteractiveStation();
}

} // namespace ui::backend
