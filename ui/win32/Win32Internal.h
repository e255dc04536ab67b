// Win32 backend: what its files share — the program's font, the window
// classes, the message routing every loop applies, the request to end, and
// the hidden message window of the user-interface thread.
#pragma once
#include <windows.h>
// The macro of <windows.h> would rename the backend's CreateDialog.
#undef CreateDialog

#include <functional>

namespace ui::win32 {

// Window classes of the main window and of dialogs.
inline constexpr const wchar_t* kMainClass = L"RoderuvMainWindow";
inline constexpr const wchar_t* kDialogClass = L"RoderuvDialog";

// Registers the window classes and the common controls (once).
void EnsureClasses();

// The layout is in pixels at 96 dpi; the windows scale it to the dpi of
// their screen (the program is per-monitor aware).
inline constexpr UINT kLayoutDpi = 96;
// The dpi of the screen a window is on: GetDpiForWindow where the system has
// it, else the screen's LOGPIXELSY.
UINT DpiOf(HWND hwnd);
// Layout pixels to the screen's and back, rounded to the nearest.
inline int Scale(int v, UINT dpi) {
    return MulDiv(v, static_cast<int>(dpi), static_cast<int>(kLayoutDpi));
}
inline int Unscale(int v, UINT dpi) {
    return MulDiv(v, static_cast<int>(kLayoutDpi), static_cast<int>(dpi));
}
// GetSystemMetricsForDpi where the system has it, else the metric scaled
// from the system's dpi.
int MetricForDpi(int index, UINT dpi);
// At 96 dpi: "MS Sans Serif" 11 pixels high where it exists (with Central
// European letters), else "Microsoft Sans Serif" or "Tahoma". At any other
// dpi the same size scaled, in a TrueType face, since a bitmap font has no
// crisp sizes in between: "Microsoft Sans Serif", else "Tahoma".
HFONT ProgramFont(UINT dpi = kLayoutDpi);
// The width in screen pixels a check box or radio button needs for its mark
// and caption.
int ToggleWidthNeeded(HWND toggle);
// The dpi the window of this control (or this window) is laid out for now.
UINT LaidOutDpi(HWND hwnd);
// True for the main windows and dialogs of this backend.
bool IsProgramWindow(HWND hwnd);
bool IsDialogWindow(HWND hwnd);
// True while one of them is shown.
bool AnyProgramWindowVisible();

// Hands one message to its window as every message loop does: Enter in
// both windows and Esc in dialogs, then Tab, arrows and the rest through
// IsDialogMessageW for the windows of this backend, translation and
// dispatch for everything else.
void Deliver(MSG& msg);
// Runs messages (waiting for them, not spinning) until done() holds or the
// application is asked to end.
void RunLoopUntil(const std::function<bool()>& done);

// How many main event loops run now (the request to end a closed main
// window makes is for them).
int MainLoopDepth();

// The hidden message-only window that carries timers and posted calls.
HWND MessageWindow();
// Its WM_TIMER: runs the timer's tick.
void TimerTick(UINT_PTR id);

// Runs a call into the layer above from a window procedure; an exception
// must not cross the system's frames, so it is shown here.
void Guarded(const std::function<void()>& call);

// Test processes: real windows, but nobody answers a box (ui/Testing.h).
void SetTestProcess(bool on);

// The window of this backend that a box or common dialog belongs to (the
// active one), or null.
HWND PromptOwner();

} // namespace ui::win32
