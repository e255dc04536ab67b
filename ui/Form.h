// Fixed-frame windows with a client area of a given size: Form for the main
// window, DialogForm for a modal dialog. Both use the program's font
// ("MS Sans Serif" where it exists, a similar sans serif elsewhere, 11 pixels
// high) and the system button-face background. Controls (Controls.h) are
// placed at pixel positions within the client area.
#pragma once
#include <QDialog>
#include <QWidget>
#include <functional>
#include <string>

class QPushButton;

namespace ui {

// Runs a handler once, the first time the window becomes visible, queued so
// that it runs from the event loop after the window has been shown. Shared by
// both form kinds.
class FirstActivation {
public:
    void Set(std::function<void()> handler) { handler_ = std::move(handler); }
    void WindowShown(QWidget* window);
    bool Done() const { return done_; }

private:
    std::function<void()> handler_;
    bool done_ = false;
};

// The main window kind: fixed frame, close box, no minimise or maximise box.
class Form : public QWidget {
public:
    explicit Form(QWidget* owner = nullptr);

    void SetCaption(const std::string& caption);
    std::string Caption() const;
    // Fixes the client area at width x height pixels (no resizing).
    void SetClientSize(int width, int height);
    // Shows the window centred on the screen.
    void ShowCentred();
    // The form's "first activation": run once per window after it is shown
    // for the first time (guarded: an exception goes to ShowException).
    void SetOnFirstActivate(std::function<void()> handler) { first_.Set(std::move(handler)); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    FirstActivation first_;
};

// The modal dialog kind: fixed frame with a close box, shown with
// ShowModal() centred over its owner. The close box and Esc reject it;
// with a cancel button set, Esc presses that button instead.
class DialogForm : public QDialog {
public:
    explicit DialogForm(QWidget* owner);

    void SetCaption(const std::string& caption);
    std::string Caption() const;
    void SetClientSize(int width, int height);
    void SetOnFirstActivate(std::function<void()> handler) { first_.Set(std::move(handler)); }

    // Enter presses this button.
    void SetDefaultButton(QPushButton* button);
    // Esc presses this button.
    void SetCancelButton(QPushButton* button) { cancel_ = button; }

    // Shows the dialog modally, centred over its owner, through Prompt()
    // (kind ModalForm), so tests can drive it without blocking. True when
    // the dialog was closed with CloseForm(true).
    bool ShowModal();
    // Closes the dialog; accepted tells ShowModal's caller how.
    void CloseForm(bool accepted);

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    FirstActivation first_;
    QPushButton* cancel_ = nullptr;
    bool inReject_ = false;
};

} // namespace ui
