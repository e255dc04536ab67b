#include "ui/Form.h"

#include "ui/Prompts.h"
#include "ui/Text.h"

#include <QFont>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

namespace ui {
namespace {

void ApplyFormLook(QWidget* window) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    window->setFont(font);
    // The button-face colour is the palette's window colour.
    window->setBackgroundRole(QPalette::Window);
    window->setAutoFillBackground(true);
}

void FixClientSize(QWidget* window, int width, int height) {
    window->setFixedSize(width, height);
}

void CentreIn(QWidget* window, const QRect& area) {
    const QRect frame = window->frameGeometry();
    const int w = frame.width() > 0 ? frame.width() : window->width();
    const int h = frame.height() > 0 ? frame.height() : window->height();
    window->move(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2);
}

} // namespace

void FirstActivation::WindowShown(QWidget* window) {
    if (done_)
        return;
    done_ = true;
    if (!handler_)
        return;
    auto handler = handler_;
    QTimer::singleShot(0, window, [handler] { RunGuarded(handler); });
}

Form::Form(QWidget* owner) : QWidget(owner, Qt::Window) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    ApplyFormLook(this);
}

void Form::SetCaption(const std::string& caption) {
    setWindowTitle(ToQ(caption));
}

std::string Form::Caption() const {
    return FromQ(windowTitle());
}

void Form::SetClientSize(int width, int height) {
    FixClientSize(this, width, height);
}

void Form::ShowCentred() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        CentreIn(this, screen->availableGeometry());
    show();
}

void Form::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        first_.WindowShown(this);
}

DialogForm::DialogForm(QWidget* owner) : QDialog(owner) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setSizeGripEnabled(false);
    ApplyFormLook(this);
}

void DialogForm::SetCaption(const std::string& caption) {
    setWindowTitle(ToQ(caption));
}

std::string DialogForm::Caption() const {
    return FromQ(windowTitle());
}

void DialogForm::SetClientSize(int width, int height) {
    FixClientSize(this, width, height);
}

void DialogForm::SetDefaultButton(QPushButton* button) {
    if (button != nullptr) {
        button->setAutoDefault(true);
        button->setDefault(true);
    }
}

bool DialogForm::ShowModal() {
    if (QWidget* owner = parentWidget())
        CentreIn(this, owner->frameGeometry());
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        CentreIn(this, screen->availableGeometry());
    PromptRequest request;
    request.kind = PromptKind::ModalForm;
    request.caption = Caption();
    request.form = this;
    return Prompt(request).accepted;
}

void DialogForm::CloseForm(bool accepted) {
    done(accepted ? QDialog::Accepted : QDialog::Rejected);
}

void DialogForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        first_.WindowShown(this);
}

void DialogForm::reject() {
    // Esc and the close box go through the cancel button when there is one,
    // so its handler runs as if it had been pressed.
    if (cancel_ != nullptr && !inReject_ && cancel_->isEnabled()) {
        inReject_ = true;
        cancel_->click();
        inReject_ = false;
        // Esc and the close box always close the dialog.
        if (isVisible())
            QDialog::reject();
        return;
    }
    QDialog::reject();
}

} // namespace ui
