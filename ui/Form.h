// Fixed-frame windows with a client area of a given size: Form for the main
// window, DialogForm for a modal dialog. Both use the program's font
// ("MS Sans Serif" where it exists, a similar sans serif elsewhere, 11 pixels
// high) and the system button-face background. Controls (Controls.h) are
// placed at pixel positions within the client area.
#pragma once
#include "ui/Controls.h"

#include <functional>
#include <memory>
#include <string>

namespace ui {

namespace backend {
class WindowWidget;
}

// What both window kinds share: caption, client size, showing, and the
// "first activation", a handler run once per window after it has been shown
// for the first time (queued, so it runs from the event loop; guarded).
class Window : public Container {
public:
    ~Window() override;

    void SetCaption(const std::string& caption);
    std::string Caption() const;
    // Fixes the client area at width x height pixels (no resizing).
    void SetClientSize(int width, int height);
    void SetOnFirstActivate(Handler handler) { firstActivate_ = std::move(handler); }
    // Enter presses this button, unless another push button has the focus:
    // then Enter presses that one.
    void SetDefaultButton(Button* button);
    void Show();
    void Hide();
    // The window's name in the program ("FormKonfigurace"); not shown.
    void SetName(const std::string& name) { name_ = name; }
    const std::string& Name() const { return name_; }
    // The window this one is shown over (dialogs), or null.
    Window* Owner() const { return owner_; }

    backend::WindowWidget& WindowImpl() const { return *window_; }

protected:
    explicit Window(Window* owner);
    void SetWindowImpl(std::unique_ptr<backend::WindowWidget> impl);
    void Shown();

private:
    Window* owner_;
    backend::WindowWidget* window_ = nullptr;
    std::string name_;
    Handler firstActivate_;
    bool activated_ = false;
    std::shared_ptr<bool> alive_;
};

// The main window kind: fixed frame, close box, no minimise or maximise box.
class Form : public Window {
public:
    Form();

    // Shows the window centred on the screen.
    void ShowCentred();
    // Runs when the user closes the window (close box, Alt+F4); the window
    // then closes, and with it the program's event loop.
    void SetOnCloseRequest(Handler handler) { closeRequest_ = std::move(handler); }
    // Runs when the system's session ends (Windows: log-off, shutdown), once
    // when the system asks and once when it ends it; the window stays. The
    // system may end the program soon after the second call.
    void SetOnSessionEnd(Handler handler) { sessionEnd_ = std::move(handler); }
    // Runs after the second call above: the program may be ended as soon as
    // it returns, so it does at once what must not be left undone.
    void SetOnSessionEnded(Handler handler) { sessionEnded_ = std::move(handler); }

private:
    Handler closeRequest_;
    Handler sessionEnd_;
    Handler sessionEnded_;
};

// The modal dialog kind: fixed frame with a close box, shown with
// ShowModal() centred over its owner. The close box and Esc reject it;
// with a cancel button set, Esc presses that button instead.
class DialogForm : public Window {
public:
    explicit DialogForm(Window* owner);

    // Esc and the close box press this button.
    void SetCancelButton(Button* button) { cancel_ = button; }

    // Shows the dialog modally, centred over its owner, through Prompt()
    // (kind ModalForm), so tests can drive it without blocking. True when
    // the dialog was closed with CloseForm(true).
    bool ShowModal();
    // The dialog's own modal loop, what Prompt() runs for it when no hook
    // answers (a test's hook may run it too).
    bool RunModalLoop();
    // Closes the dialog; accepted tells ShowModal's caller how.
    void CloseForm(bool accepted);
    // How the dialog was last closed: true only after CloseForm(true).
    bool Accepted() const { return accepted_; }

private:
    void Reject();

    Button* cancel_ = nullptr;
    bool inReject_ = false;
    bool accepted_ = false;
};

} // namespace ui
