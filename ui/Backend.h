// The seam between the user-interface layer and a toolkit. Everything in ui/
// outside a backend folder is built on these interfaces; a backend (ui/qt/
// with Qt Widgets, ui/win32/ with native Win32 controls, chosen by CMake)
// implements every class and function declared here, and the test-driving
// functions of ui/Testing.h. Only ui/ includes this header.
//
// Rules for a backend:
// - Positions and sizes are pixels within the parent's client area; texts
//   are UTF-8 in both directions.
// - Callbacks run on the user-interface thread from the toolkit's event
//   delivery. The layer above guards them (an exception is shown by
//   ShowException), so a backend calls them plainly and only when set.
// - A backend object owns its native control and destroys it with itself.
//   The layer above destroys children before their parent, and a window's
//   controls before the window; a native object the toolkit destroyed
//   already (a dialog that went with its owner) must not be destroyed twice.
#pragma once
#include "ui/Prompts.h"
#include "ui/Rect.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui::backend {

using Callback = std::function<void()>;

// Any control or window.
class Widget {
public:
    virtual ~Widget() = default;

    // The native object (QWidget* for Qt, HWND for Win32), for the backend's
    // own test-driving code.
    virtual void* Native() const = 0;

    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetVisible(bool visible) = 0;
    // Shown on the screen: the control and every parent up to its window.
    virtual bool Visible() const = 0;
    virtual void SetFocus() = 0;
    // Holds the keyboard focus (Qt: QWidget::hasFocus; Win32: GetFocus()
    // is this control).
    virtual bool Focused() const = 0;

    // Controls: the place within the parent's client area. Windows: the
    // client area, left and top on the screen.
    virtual Rect Geometry() const = 0;
    virtual void SetGeometry(const Rect& where) = 0;

    // The caption of a button, check box, radio button, group box or label
    // (a label resizes itself to it), the text of an edit, the caption of a
    // window. Empty for list boxes and panels.
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;

    // Check boxes and radio buttons: the width their mark and caption need
    // in this platform's font. Other controls: their width.
    virtual int PreferredWidth() const = 0;
};

// List box with multiple selection (click, Ctrl+click, Shift+click).
class ListWidget : public Widget {
public:
    virtual int Count() const = 0;
    virtual std::string Item(int index) const = 0; // "" outside the list
    virtual void Add(const std::string& text) = 0; // at the end
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    virtual bool Selected(int index) const = 0;
    virtual void SetSelected(int index, bool selected) = 0;
};

// Single-line edit.
class EditWidget : public Widget {
public:
    // Every character shows as c; 0 shows the text again.
    virtual void SetPasswordChar(char c) = 0;
};

// Check box or radio button.
class ToggleWidget : public Widget {
public:
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0; // calls no callback
};

// A window with a fixed frame: the main window or a modal dialog.
class WindowWidget : public Widget {
public:
    // Fixes the client area at this size; the frame cannot be resized.
    virtual void SetClientSize(int width, int height) = 0;
    // Moves the window so that its frame is centred over its owner's frame,
    // or on the screen's work area when it has no owner.
    virtual void Centre() = 0;
    // Enter presses this button, unless another push button has the focus:
    // then Enter presses that one.
    virtual void SetDefaultButton(Widget* button) = 0;
    // Dialogs: shows the dialog modally (its owner disabled) and runs events
    // until EndModal; returns the value given to EndModal.
    virtual bool RunModal() = 0;
    // Dialogs: hides the dialog and ends RunModal when it runs.
    virtual void EndModal(bool accepted) = 0;
};

struct WindowEvents {
    // Each time the program shows the window (not when the user restores it).
    Callback shown;
    // Main window: the close box (or Alt+F4); the window closes afterwards,
    // and with the last window the event loop ends.
    Callback closeRequested;
    // Main window: the system's session ends (log-off, shutdown). Called
    // when the system asks and again when it tells that the session ends;
    // the program may be ended soon after. Win32 only: a Linux session's end
    // reaches the program as SIGTERM.
    Callback sessionEnding;
    // Main window: after sessionEnding, when the system tells that the
    // session ends now; the program may be ended as soon as it returns.
    Callback sessionEnded;
    // Dialogs: Esc or the close box. The dialog stays open; the layer above
    // ends it with EndModal.
    Callback rejectRequested;
};

struct ToggleEvents {
    Callback clicked; // the state changed by mouse or keyboard
    Callback mouseUp; // left button released over it, after the change
    Callback keyUp;   // a key released while it has the focus (not repeats)
};

enum class ToggleKind { CheckBox, RadioButton };

// Windows use the program's font ("MS Sans Serif" where it exists, a similar
// sans serif elsewhere, 11 pixels high) and the button-face background; a
// main window has a close box and no minimise or maximise box.
std::unique_ptr<WindowWidget> CreateMainWindow(WindowEvents events);
// A dialog owned by owner (may be null), shown over it.
std::unique_ptr<WindowWidget> CreateDialog(WindowWidget* owner, WindowEvents events);

// Controls on a window or a group box (parent). A push button presses with
// Enter when it has the focus, in the main window as in a dialog.
std::unique_ptr<Widget> CreateButton(Widget& parent, const Rect& where, const std::string& caption,
                                     Callback clicked);
std::unique_ptr<ListWidget> CreateListBox(Widget& parent, const Rect& where, int itemHeight);
std::unique_ptr<EditWidget> CreateEdit(Widget& parent, const Rect& where);
// Radio buttons are exclusive among the radio buttons of the same parent.
std::unique_ptr<ToggleWidget> CreateToggle(ToggleKind kind, Widget& parent, const Rect& where,
                                           const std::string& caption, ToggleEvents events);
// Group box with a caption; controls made with it as parent lie inside it.
std::unique_ptr<Widget> CreateGroupBox(Widget& parent, const Rect& where,
                                       const std::string& caption);
// Thin raised panel (a divider).
std::unique_ptr<Widget> CreatePanel(Widget& parent, const Rect& where);
// Static text at a position, sized to its text.
std::unique_ptr<Widget> CreateLabel(Widget& parent, int left, int top, const std::string& caption);

// Tab moves the keyboard focus through these controls of one window in this
// order (controls not listed keep their place after them).
void SetTabOrder(const std::vector<Widget*>& widgets);

// A repeating timer of the user-interface thread.
class TimerWidget {
public:
    virtual ~TimerWidget() = default;
    virtual void Start(int intervalMs) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};
std::unique_ptr<TimerWidget> CreateTimer(Callback tick);

// ---- the application ------------------------------------------------------

// Makes the toolkit's application object (one per process) with the
// program's title; an exception escaping the toolkit's event delivery is
// shown by ShowException and the program goes on. EndApplication destroys it.
void StartApplication(int& argc, char** argv);
void EndApplication();
bool ApplicationExists();
// Runs the event loop until Quit; returns Quit's code.
int RunEventLoop();
// Ends the event loop with code when control returns to it (also when asked
// before the loop has started). No application: nothing.
void Quit(int code);
// Processes every pending event (repaints, input, posted calls), then
// returns without waiting. No application: nothing.
void ProcessEvents();
// Runs call once from the event loop, after the events pending now.
void Post(Callback call);

// The arguments after the program name in UTF-8 (Qt: argv as it is; Win32:
// from the wide-character command line). Needs no application object.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// True when a display can be reached (Win32: always).
bool DisplayReachable();
// True when windows can be made: a display is reachable, or a platform
// without one was chosen explicitly (Qt: QT_QPA_PLATFORM set; Win32: always).
bool WindowsAvailable();
// Chooses a platform without a display when none is reachable (Qt: the
// offscreen platform). Called before StartApplication.
void UseOffscreenWithoutDisplay();
// False where nobody can see or answer a box (no application, Qt's offscreen
// and minimal platforms).
bool Interactive();

// Shows the real box or common dialog for a request of any kind but
// ModalForm, modally, and returns the answer. Message and Error boxes have
// one OK button (Error with the error icon); a Question has Yes and No with
// No as the default button; file dialogs fill paths (a chosen folder without
// a trailing separator except for the root).
PromptResult ShowPrompt(const PromptRequest& request);

} // namespace ui::backend
