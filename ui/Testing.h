// Test driving of the windows through the user-interface layer, so that one
// set of window tests runs on every backend: input as a user gives it (mouse,
// keyboard, the close box), and what a user would see (places, states,
// pictures). Each backend implements these with its toolkit's own means
// (ui/qt/QtTesting.cpp); only test code calls them.
#pragma once
#include "ui/Controls.h"
#include "ui/Form.h"
#include "ui/Rect.h"

#include <functional>
#include <string>

namespace ui::testing {

enum class Key { Enter, Escape, Space, Tab, ShiftTab, Up, Down };

// Before the application object exists: choose the platform tests run on
// (Qt: offscreen, unless QT_QPA_PLATFORM names another, as a screenshot run
// under Xvfb does).
void PrepareTestProcess();

// ---- input ----------------------------------------------------------------

// Presses the button as the program would (Win32: BM_CLICK): its handler
// runs when it is enabled.
void Press(Button& button);
// A left mouse click 6 pixels from the control's left edge, halfway down
// (on a check box or radio button: on its mark).
void Click(Control& control);
// Types the text key by key at the cursor; letters beyond ASCII arrive as a
// Czech keyboard layout gives them.
void TypeText(Edit& edit, const std::string& text);
// The key pressed where the window's focus is and released where the focus
// is then (a key that closed the window is released over nothing of it).
void PressKey(Window& window, Key key);
// The window's close box. True when the window closed.
bool PressCloseBox(Window& window);
// Tells the main window that the session ends, as Windows does at a log-off
// (it asks, then says the session ends). True when the window let it end.
// Qt: delivers nothing and returns false (see Backend.h).
bool EndSession(Window& window);

// ---- the event loop ------------------------------------------------------------

// Shows the window (not modally) and waits up to 2 s until it is the active
// window. True when it became active.
bool ShowActive(Window& window);
// Runs call once from the event loop, after the events pending now.
void RunLater(std::function<void()> call);
// Lets events run until condition holds or timeoutMs passed; the result of
// the last check.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
// Lets events run for ms milliseconds.
void Wait(int ms);

// ---- what is shown ----------------------------------------------------------

// The window's frame on the screen, and the screen's work area.
Rect Frame(const Window& window);
Rect ScreenArea();
// The frame cannot be resized.
bool FixedSize(const Window& window);
bool HasMinimiseOrMaximiseBox(const Window& window);
// Several lines can be selected (Ctrl+click, Shift+click).
bool MultiSelect(const ListBox& list);
// The list has a horizontal scroll bar with somewhere to go.
bool ScrollsSideways(const ListBox& list);
// The whole text of the line can be brought into view: it fits the list, or
// the horizontal scroll bar reaches its end.
bool WholeLineReachable(const ListBox& list, int index);
// The edit shows a password character instead of the text.
bool TextHidden(const Edit& edit);
// The caption is shown whole: a push button's text with 3 pixels to spare
// on each side, a check box's or radio button's mark and text, a label's
// text; and the control is at least one line of text high.
bool CaptionFits(const Control& control);
// What the control covers on the screen: a label's text itself (its box may
// be taller), the geometry of anything else.
Rect TextArea(const Control& control);
// The control Tab moves the focus to (controls that take no focus skipped),
// null when it is no control of the layer.
Control* NextInTabOrder(const Control& control);
// Saves a PNG picture of the window's client area. True when written.
bool Screenshot(Window& window, const std::string& path);

// ---- the layer itself (the same on every backend) ---------------------------

// The kind of control and its caption, for test messages.
std::string Describe(const Control& control);
// The control in the window of control whose native counterpart is native
// (a QWidget* or an HWND); null when none is. For the backends.
Control* FindByNative(const Control& control, const void* native);
// The number of windows (forms and dialogs) that exist.
int LiveWindows();

} // namespace ui::testing
