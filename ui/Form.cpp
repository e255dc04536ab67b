#include "ui/Form.h"

#include "ui/Backend.h"
#include "ui/Prompts.h"
#include "ui/Testing.h"

namespace ui {
namespace {

int& LiveWindowCount() {
    static int count = 0;
    return count;
}

} // namespace

int testing::LiveWindows() {
    return LiveWindowCount();
}

Window::Window(Window* owner)
    : Container(nullptr), owner_(owner), alive_(std::make_shared<bool>(true)) {
    ++LiveWindowCount();
}

Window::~Window() {
    *alive_ = false;
    --LiveWindowCount();
}

void Window::SetWindowImpl(std::unique_ptr<backend::WindowWidget> impl) {
    window_ = impl.get();
    SetImpl(std::move(impl));
}

void Window::SetCaption(const std::string& caption) {
    window_->SetText(caption);
}

std::string Window::Caption() const {
    return window_->Text();
}

void Window::SetClientSize(int width, int height) {
    window_->SetClientSize(width, height);
}

void Window::Show() {
    window_->SetVisible(true);
}

void Window::Hide() {
    window_->SetVisible(false);
}

void Window::Shown() {
    if (activated_)
        return;
    activated_ = true;
    if (!firstActivate_)
        return;
    // Queued: it runs from the event loop once the window is on the screen,
    // and not at all when the window is gone by then.
    std::weak_ptr<bool> alive = alive_;
    Handler handler = firstActivate_;
    backend::Post([alive, handler] {
        const auto token = alive.lock();
        if (token && *token)
            RunGuarded(handler);
    });
}

Form::Form() : Window(nullptr) {
    backend::WindowEvents events;
    events.shown = [this] { Shown(); };
    events.closeRequested = [this] {
        if (closeRequest_)
            RunGuarded(closeRequest_);
    };
    events.sessionEnding = [this] {
        if (sessionEnd_)
            RunGuarded(sessionEnd_);
    };
    events.sessionEnded = [this] {
        if (sessionEnded_)
            RunGuarded(sessionEnded_);
    };
    SetWindowImpl(backend::CreateMainWindow(std::move(events)));
}

void Form::ShowCentred() {
    WindowImpl().Centre();
    Show();
}

DialogForm::DialogForm(Window* owner) : Window(owner) {
    backend::WindowEvents events;
    events.shown = [this] {
        accepted_ = false;
        Shown();
    };
    events.rejectRequested = [this] { RunGuarded([this] { Reject(); }); };
    SetWindowImpl(backend::CreateDialog(owner != nullptr ? &owner->WindowImpl() : nullptr,
                                        std::move(events)));
}

void Window::SetDefaultButton(Button* button) {
    WindowImpl().SetDefaultButton(button != nullptr ? &button->Impl() : nullptr);
}

bool DialogForm::ShowModal() {
    WindowImpl().Centre();
    PromptRequest request;
    request.kind = PromptKind::ModalForm;
    request.caption = Caption();
    request.form = this;
    return Prompt(request).accepted;
}

bool DialogForm::RunModalLoop() {
    accepted_ = WindowImpl().RunModal();
    return accepted_;
}

void DialogForm::CloseForm(bool accepted) {
    accepted_ = accepted;
    WindowImpl().EndModal(accepted);
}

void DialogForm::Reject() {
    // Esc and the close box go through the cancel button when there is one,
    // so its handler runs as if it had been pressed.
    if (cancel_ != nullptr && !inReject_ && cancel_->Enabled()) {
        inReject_ = true;
        cancel_->Click();
        inReject_ = false;
        // Esc and the close box always close the dialog.
        if (Visible())
            CloseForm(false);
        return;
    }
    CloseForm(false);
}

} // namespace ui
