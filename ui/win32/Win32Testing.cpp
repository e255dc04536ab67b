// Win32 backend: the test driving of ui/Testing.h with window messages, as
// the mouse and keyboard deliver them, on real windows.
#include "ui/Testing.h"

#include "ui/Backend.h"
#include "ui/win32/Win32Internal.h"
#include "ui/win32/Win32Text.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace ui::testing {
namespace {

using win32::Widen;

HWND HwndOf(const Control& control) {
    return static_cast<HWND>(control.Impl().Native());
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

bool IsClass(HWND hwnd, const wchar_t* name) {
    return lstrcmpiW(ClassOf(hwnd).c_str(), name) == 0;
}

LONG_PTR ButtonType(HWND hwnd) {
    return IsClass(hwnd, L"Button") ? (GetWindowLongPtrW(hwnd, GWL_STYLE) & BS_TYPEMASK) : -1;
}

bool IsPushButton(HWND hwnd) {
    const LONG_PTR type = ButtonType(hwnd);
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool IsToggle(HWND hwnd) {
    const LONG_PTR type = ButtonType(hwnd);
    return type == BS_AUTOCHECKBOX || type == BS_AUTORADIOBUTTON || type == BS_CHECKBOX ||
           type == BS_RADIOBUTTON;
}

// Buttons, check boxes, radio buttons, edits and list boxes take the focus;
// labels, group boxes and panels do not.
bool TakesFocus(HWND hwnd) {
    return IsPushButton(hwnd) || IsToggle(hwnd) || IsClass(hwnd, L"Edit") ||
           IsClass(hwnd, L"ListBox");
}

struct TextMetrics {
    SIZE text{0, 0};
    TEXTMETRICW tm{};
};

TextMetrics Measure(HWND hwnd) {
    TextMetrics m;
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    GetTextMetricsW(dc, &m.tm);
    if (!text.empty())
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &m.text);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return m;
}

UINT VirtualKey(Key key) {
    switch (key) {
    case Key::Enter:
        return VK_RETURN;
    case Key::Escape:
        return VK_ESCAPE;
    case Key::Space:
        return VK_SPACE;
    case Key::Tab:
    case Key::ShiftTab:
        return VK_TAB;
    case Key::Up:
        return VK_UP;
    case Key::Down:
        return VK_DOWN;
    }
    return 0;
}

void SendKey(HWND target, UINT message, UINT vk) {
    LPARAM l = 1 | (static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16);
    if (message == WM_KEYUP)
        l |= (1LL << 30) | (1LL << 31);
    MSG msg{};
    msg.hwnd = target;
    msg.message = message;
    msg.wParam = vk;
    msg.lParam = l;
    msg.time = GetTickCount();
    GetCursorPos(&msg.pt);
    win32::Deliver(msg);
    // What the key was translated into (WM_CHAR) arrives now.
    backend::ProcessEvents();
}

// Shift held down while it lives, as the thread's key state says it (which
// is what IsDialogMessageW asks).
class ShiftHeld {
public:
    ShiftHeld() {
        GetKeyboardState(before_);
        BYTE held[256];
        std::copy(std::begin(before_), std::end(before_), std::begin(held));
        held[VK_SHIFT] = held[VK_LSHIFT] = 0x80;
        SetKeyboardState(held);
    }
    ~ShiftHeld() { SetKeyboardState(before_); }
    ShiftHeld(const ShiftHeld&) = delete;
    ShiftHeld& operator=(const ShiftHeld&) = delete;

private:
    BYTE before_[256] = {};
};

// The control's size on the screen, in the screen's pixels.
SIZE NativeSize(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The control's top in its window's client area, in the screen's pixels.
int NativeTop(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r.top;
}

// How far the list scrolls sideways, in the screen's pixels; 0 without a
// horizontal scroll bar.
int SidewaysRange(HWND list) {
    if ((GetWindowLongPtrW(list, GWL_STYLE) & WS_HSCROLL) == 0)
        return 0;
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE;
    if (!GetScrollInfo(list, SB_HORZ, &info))
        return 0;
    return std::max(0, info.nMax - info.nMin + 1 - static_cast<int>(info.nPage));
}

// Waits for messages (not spinning) for at most ms milliseconds.
void Sleep(DWORD ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
}

// ---- PNG with zlib --------------------------------------------------------------

void PutBig32(std::string& out, unsigned long v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBig32(out, static_cast<unsigned long>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    PutBig32(out,
             crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
}

// rgb: height rows of width pixels, three bytes each.
bool WritePng(const std::string& path, int width, int height, const std::string& rgb) {
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0'); // no filter
        raw.append(rgb, static_cast<std::size_t>(y) * width * 3,
                   static_cast<std::size_t>(width) * 3);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return false;
    packed.resize(packedSize);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    PutBig32(header, static_cast<unsigned long>(width));
    PutBig32(header, static_cast<unsigned long>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", "");
    FILE* file = _wfopen(Widen(path).c_str(), L"wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

void PrepareTestProcess() {
    // Real windows, but no box may wait for a user who is not there.
    win32::SetTestProcess(true);
    // Aware of the screen's dpi as the program's manifest makes the
    // program, so that the tests see the windows as laid out for it.
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, then the older forms.
    if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))))
        SetProcessDPIAware();
}

void Press(Button& button) {
    if (button.Enabled())
        SendMessageW(HwndOf(button), BM_CLICK, 0, 0);
}

void Click(Control& control) {
    const HWND hwnd = HwndOf(control);
    // A disabled or hidden control is not hit by the mouse.
    if (hwnd == nullptr || !control.Enabled() || !control.Visible())
        return;
    RECT client;
    GetClientRect(hwnd, &client);
    const LPARAM at = MAKELPARAM(6, (client.bottom - client.top) / 2);
    SendMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
}

void TypeText(Edit& edit, const std::string& text) {
    const HWND hwnd = HwndOf(edit);
    // Each character as the keyboard layout hands it to the control.
    for (wchar_t c : Widen(text))
        SendMessageW(hwnd, WM_CHAR, static_cast<WPARAM>(c), 1);
}

void PressKey(Window& window, Key key) {
    const HWND top = HwndOf(window);
    const UINT vk = VirtualKey(key);
    HWND pressed = GetFocus();
    if (pressed == nullptr || GetAncestor(pressed, GA_ROOT) != top)
        pressed = top;
    std::optional<ShiftHeld> shift;
    if (key == Key::ShiftTab)
        shift.emplace();
    SendKey(pressed, WM_KEYDOWN, vk);
    // A key that closed the window is released over nothing of it.
    const HWND released = GetFocus();
    if (IsWindowVisible(top) && released != nullptr && GetAncestor(released, GA_ROOT) == top)
        SendKey(released, WM_KEYUP, vk);
}

bool PressCloseBox(Window& window) {
    const HWND hwnd = HwndOf(window);
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    backend::ProcessEvents();
    return !window.Visible();
}

bool EndSession(Window& window) {
    const HWND hwnd = HwndOf(window);
    const bool mayEnd = SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF) != FALSE;
    if (mayEnd)
        SendMessageW(hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    return mayEnd;
}

bool ShowActive(Window& window) {
    const HWND hwnd = HwndOf(window);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    SetActiveWindow(hwnd);
    return WaitFor([hwnd] { return GetActiveWindow() == hwnd; }, 2000);
}

void RunLater(std::function<void()> call) {
    backend::Post(std::move(call));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        backend::ProcessEvents();
        if (condition())
            return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= static_cast<DWORD>(timeoutMs))
            return false;
        Sleep(std::min<DWORD>(10, static_cast<DWORD>(timeoutMs) - elapsed));
    }
}

void Wait(int ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        backend::ProcessEvents();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= static_cast<DWORD>(ms))
            return;
        Sleep(static_cast<DWORD>(ms) - elapsed);
    }
}

Rect Frame(const Window& window) {
    RECT r{};
    GetWindowRect(HwndOf(window), &r);
    return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect ScreenArea() {
    RECT r{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
    return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

bool FixedSize(const Window& window) {
    return (GetWindowLongPtrW(HwndOf(window), GWL_STYLE) & WS_THICKFRAME) == 0;
}

bool HasMinimiseOrMaximiseBox(const Window& window) {
    return (GetWindowLongPtrW(HwndOf(window), GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0;
}

bool MultiSelect(const ListBox& list) {
    const HWND hwnd = HwndOf(list);
    return IsClass(hwnd, L"ListBox") &&
           (GetWindowLongPtrW(hwnd, GWL_STYLE) & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) != 0;
}

bool ScrollsSideways(const ListBox& list) {
    return SidewaysRange(HwndOf(list)) > 0;
}

bool WholeLineReachable(const ListBox& list, int index) {
    const HWND hwnd = HwndOf(list);
    const std::wstring line = Widen(list.Item(index));
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    SIZE text{0, 0};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &text);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    RECT client{};
    GetClientRect(hwnd, &client);
    return index < list.Count() && text.cx <= client.right + SidewaysRange(hwnd);
}

bool TextHidden(const Edit& edit) {
    return SendMessageW(HwndOf(edit), EM_GETPASSWORDCHAR, 0, 0) != 0;
}

// On the screen's pixels: the text in the control's font against the
// control's size there.
bool CaptionFits(const Control& control) {
    const HWND hwnd = HwndOf(control);
    const TextMetrics m = Measure(hwnd);
    const SIZE size = NativeSize(hwnd);
    const int spare = win32::Scale(3, win32::LaidOutDpi(hwnd));
    bool fits = m.tm.tmHeight <= size.cy;
    if (IsPushButton(hwnd))
        fits = fits && m.text.cx + 2 * spare <= size.cx;
    else if (IsToggle(hwnd))
        fits = fits && win32::ToggleWidthNeeded(hwnd) <= size.cx;
    else if (IsClass(hwnd, L"Static"))
        fits = fits && m.text.cx <= size.cx;
    return fits;
}

Rect TextArea(const Control& control) {
    const HWND hwnd = HwndOf(control);
    const Rect g = control.Geometry();
    if (!IsClass(hwnd, L"Static"))
        return g;
    // The letters: below the internal leading, down to the descent, in
    // layout pixels as the geometry is.
    const TextMetrics m = Measure(hwnd);
    const UINT dpi = win32::LaidOutDpi(hwnd);
    const int nativeTop = NativeTop(hwnd);
    const int top = win32::Unscale(nativeTop + m.tm.tmInternalLeading, dpi);
    const int bottom = win32::Unscale(nativeTop + m.tm.tmHeight, dpi);
    return Rect{g.left, g.top + top - win32::Unscale(nativeTop, dpi), g.width, bottom - top};
}

Control* NextInTabOrder(const Control& control) {
    const HWND start = HwndOf(control);
    const HWND window = GetParent(start);
    if (window == nullptr)
        return nullptr;
    // The z-order of the window's controls is the tab order; it wraps.
    HWND h = start;
    for (int steps = 0; steps < 1000; ++steps) {
        h = GetWindow(h, GW_HWNDNEXT);
        if (h == nullptr)
            h = GetWindow(window, GW_CHILD);
        if (h == start)
            return nullptr;
        if (TakesFocus(h))
            return FindByNative(control, h);
    }
    return nullptr;
}

bool Screenshot(Window& window, const std::string& path) {
    const HWND hwnd = HwndOf(window);
    RedrawWindow(hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    backend::ProcessEvents();
    RECT client;
    GetClientRect(hwnd, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    std::string rgb;
    rgb.reserve(static_cast<std::size_t>(width) * height * 3);
    const auto* pixel = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < width * height; ++i, pixel += 4) {
        rgb.push_back(static_cast<char>(pixel[2]));
        rgb.push_back(static_cast<char>(pixel[1]));
        rgb.push_back(static_cast<char>(pixel[0]));
    }
    SelectObject(memory, old);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(hwnd, screen);
    return WritePng(path, width, height, rgb);
}

} // namespace ui::testing
