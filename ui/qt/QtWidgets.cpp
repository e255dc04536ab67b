// Qt backend: the windows, controls and timer of Backend.h on Qt Widgets.
#include "ui/Backend.h"
#include "ui/qt/QtText.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <type_traits>

namespace ui::backend {
namespace {

using qt::FromQ;
using qt::ToQ;

QWidget* QOf(Widget& w) {
    return static_cast<QWidget*>(w.Native());
}

void Call(const Callback& callback) {
    if (callback)
        callback();
}

// The common part of every control and window. The native widget may have
// gone with its Qt parent already (a dialog with its owner).
template <class Base, class Q> class QtWidget : public Base {
public:
    explicit QtWidget(Q* widget) : w_(widget) {}
    ~QtWidget() override { delete w_.data(); }

    void* Native() const override { return w_.data(); }
    void SetEnabled(bool enabled) override { w_->setEnabled(enabled); }
    bool Enabled() const override { return w_->isEnabled(); }
    void SetVisible(bool visible) override { w_->setVisible(visible); }
    bool Visible() const override { return w_->isVisible(); }
    void SetFocus() override { w_->setFocus(); }
    bool Focused() const override { return w_->hasFocus(); }
    Rect Geometry() const override {
        const QRect g = w_->geometry();
        return Rect{g.x(), g.y(), g.width(), g.height()};
    }
    void SetGeometry(const Rect& r) override { w_->setGeometry(r.left, r.top, r.width, r.height); }
    void SetText(const std::string&) override {}
    std::string Text() const override { return {}; }
    int PreferredWidth() const override { return w_->width(); }

protected:
    Q* q() const { return w_.data(); }

private:
    QPointer<Q> w_;
};

// Controls whose caption is QAbstractButton/QGroupBox/QLabel text.
template <class Base, class Q> class QtCaptioned : public QtWidget<Base, Q> {
public:
    using QtWidget<Base, Q>::QtWidget;
    void SetText(const std::string& text) override { this->q()->setText(ToQ(text)); }
    std::string Text() const override { return FromQ(this->q()->text()); }
};

class QtGroupBox : public QtWidget<Widget, QGroupBox> {
public:
    using QtWidget::QtWidget;
    void SetText(const std::string& text) override { q()->setTitle(ToQ(text)); }
    std::string Text() const override { return FromQ(q()->title()); }
};

// ---- windows -------------------------------------------------------------

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

void CentreIn(QWidget* window, const QRect& area) {
    const QRect frame = window->frameGeometry();
    const int w = frame.width() > 0 ? frame.width() : window->width();
    const int h = frame.height() > 0 ? frame.height() : window->height();
    window->move(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2);
}

class MainWindowQ : public QWidget {
public:
    explicit MainWindowQ(WindowEvents events)
        : QWidget(nullptr, Qt::Window), events_(std::move(events)) {
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                       Qt::MSWindowsFixedSizeDialogHint);
        ApplyFormLook(this);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        if (!event->spontaneous())
            Call(events_.shown);
    }
    void closeEvent(QCloseEvent* event) override {
        Call(events_.closeRequested);
        QWidget::closeEvent(event);
    }
    // As a dialog does: Enter that no focused button took presses the
    // default button (a focused push button presses itself). Qt keeps the
    // default only in dialogs, so the window remembers it.
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && defaultButton_ && defaultButton_->isEnabled() && defaultButton_->isVisible()) {
            defaultButton_->click();
            return;
        }
        QWidget::keyPressEvent(event);
    }

public:
    void SetDefaultButton(QPushButton* button) { defaultButton_ = button; }

private:
    WindowEvents events_;
    QPointer<QPushButton> defaultButton_;
};

class DialogQ : public QDialog {
public:
    DialogQ(QWidget* owner, WindowEvents events) : QDialog(owner), events_(std::move(events)) {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                       Qt::MSWindowsFixedSizeDialogHint);
        setSizeGripEnabled(false);
        ApplyFormLook(this);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        if (!event->spontaneous())
            Call(events_.shown);
    }
    // Esc and the close box: the layer above decides how the dialog ends.
    void reject() override {
        if (events_.rejectRequested)
            events_.rejectRequested();
        else
            QDialog::reject();
    }

private:
    WindowEvents events_;
};

template <class Q> class QtWindow : public QtWidget<WindowWidget, Q> {
public:
    using QtWidget<WindowWidget, Q>::QtWidget;

    void SetText(const std::string& text) override { this->q()->setWindowTitle(ToQ(text)); }
    std::string Text() const override { return FromQ(this->q()->windowTitle()); }
    void SetClientSize(int width, int height) override { this->q()->setFixedSize(width, height); }
    void Centre() override {
        QWidget* window = this->q();
        if (QWidget* owner = window->parentWidget())
            CentreIn(window, owner->frameGeometry());
        else if (QScreen* screen = QGuiApplication::primaryScreen())
            CentreIn(window, screen->availableGeometry());
    }
    void SetDefaultButton(Widget* button) override {
        auto* b = button != nullptr ? qobject_cast<QPushButton*>(QOf(*button)) : nullptr;
        if (auto* main = dynamic_cast<MainWindowQ*>(this->q()))
            main->SetDefaultButton(b);
        else if (b != nullptr)
            b->setDefault(true);
    }
    bool RunModal() override {
        if constexpr (std::is_base_of_v<QDialog, Q>)
            return this->q()->exec() == QDialog::Accepted;
        else
            return false;
    }
    void EndModal(bool accepted) override {
        if constexpr (std::is_base_of_v<QDialog, Q>)
            this->q()->done(accepted ? QDialog::Accepted : QDialog::Rejected);
        else
            this->q()->hide();
    }
};

// ---- controls ------------------------------------------------------------------

class QtList : public QtWidget<ListWidget, QListWidget> {
public:
    QtList(QListWidget* list, int itemHeight) : QtWidget(list), itemHeight_(itemHeight) {}

    int Count() const override { return q()->count(); }
    std::string Item(int index) const override {
        const QListWidgetItem* it = q()->item(index);
        return it != nullptr ? FromQ(it->text()) : std::string();
    }
    void Add(const std::string& text) override {
        const QString line = ToQ(text);
        auto* it = new QListWidgetItem(line, q());
        // As wide as its text with the margins the view draws around it, so
        // that a long path scrolls sideways instead of losing its end.
        const int margins =
            2 * (q()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, q()) + 1);
        it->setSizeHint(QSize(q()->fontMetrics().horizontalAdvance(line) + margins, itemHeight_));
    }
    void Delete(int index) override { delete q()->takeItem(index); }
    void Clear() override { q()->clear(); }
    bool Selected(int index) const override {
        const QListWidgetItem* it = q()->item(index);
        return it != nullptr && it->isSelected();
    }
    void SetSelected(int index, bool selected) override {
        if (QListWidgetItem* it = q()->item(index))
            it->setSelected(selected);
    }

private:
    int itemHeight_;
};

class QtEdit : public QtCaptioned<EditWidget, QLineEdit> {
public:
    using QtCaptioned::QtCaptioned;
    void SetPasswordChar(char c) override {
        if (c == 0) {
            q()->setEchoMode(QLineEdit::Normal);
            q()->setStyleSheet(QString());
            return;
        }
        q()->setEchoMode(QLineEdit::Password);
        q()->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: %1; }")
                               .arg(static_cast<int>(static_cast<unsigned char>(c))));
    }
};

// Check box and radio button report mouse-button and key releases over them,
// after Qt has changed their state.
template <class QtToggle> class ToggleQ : public QtToggle {
public:
    ToggleQ(const QString& caption, QWidget* parent, ToggleEvents events)
        : QtToggle(caption, parent), events_(std::move(events)) {
        QObject::connect(this, &QAbstractButton::clicked, this, [this] { Call(events_.clicked); });
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QtToggle::mouseReleaseEvent(event);
        Call(events_.mouseUp);
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        QtToggle::keyReleaseEvent(event);
        if (!event->isAutoRepeat())
            Call(events_.keyUp);
    }

private:
    ToggleEvents events_;
};

class QtToggle : public QtCaptioned<ToggleWidget, QAbstractButton> {
public:
    using QtCaptioned::QtCaptioned;
    bool Checked() const override { return q()->isChecked(); }
    void SetChecked(bool checked) override { q()->setChecked(checked); }
    int PreferredWidth() const override { return q()->sizeHint().width(); }
};

class QtTimer : public TimerWidget {
public:
    explicit QtTimer(Callback tick) {
        QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(tick)] { Call(tick); });
    }
    void Start(int intervalMs) override { timer_.start(intervalMs); }
    void Stop() override { timer_.stop(); }
    bool Active() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

std::unique_ptr<WindowWidget> CreateMainWindow(WindowEvents events) {
    return std::make_unique<QtWindow<QWidget>>(new MainWindowQ(std::move(events)));
}

std::unique_ptr<WindowWidget> CreateDialog(WindowWidget* owner, WindowEvents events) {
    QWidget* parent = owner != nullptr ? QOf(*owner) : nullptr;
    return std::make_unique<QtWindow<QDialog>>(new DialogQ(parent, std::move(events)));
}

std::unique_ptr<Widget> CreateButton(Widget& parent, const Rect& where, const std::string& caption,
                                     Callback clicked) {
    auto* b = new QPushButton(ToQ(caption), QOf(parent));
    // As on Windows: Enter presses the focused button, in the main window
    // as in a dialog.
    b->setAutoDefault(true);
    b->setGeometry(where.left, where.top, where.width, where.height);
    QObject::connect(b, &QPushButton::clicked, b,
                     [clicked = std::move(clicked)] { Call(clicked); });
    return std::make_unique<QtCaptioned<Widget, QPushButton>>(b);
}

std::unique_ptr<ListWidget> CreateListBox(Widget& parent, const Rect& where, int itemHeight) {
    auto* list = new QListWidget(QOf(parent));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Items are as wide as their texts: the widest sets how far the list
    // scrolls sideways.
    list->setUniformItemSizes(false);
    list->setTextElideMode(Qt::ElideNone);
    list->setGeometry(where.left, where.top, where.width, where.height);
    return std::make_unique<QtList>(list, itemHeight);
}

std::unique_ptr<EditWidget> CreateEdit(Widget& parent, const Rect& where) {
    auto* edit = new QLineEdit(QOf(parent));
    edit->setGeometry(where.left, where.top, where.width, where.height);
    return std::make_unique<QtEdit>(edit);
}

std::unique_ptr<ToggleWidget> CreateToggle(ToggleKind kind, Widget& parent, const Rect& where,
                                           const std::string& caption, ToggleEvents events) {
    QAbstractButton* b = nullptr;
    if (kind == ToggleKind::RadioButton)
        b = new ToggleQ<QRadioButton>(ToQ(caption), QOf(parent), std::move(events));
    else
        b = new ToggleQ<QCheckBox>(ToQ(caption), QOf(parent), std::move(events));
    b->setGeometry(where.left, where.top, where.width, where.height);
    return std::make_unique<QtToggle>(b);
}

std::unique_ptr<Widget> CreateGroupBox(Widget& parent, const Rect& where,
                                       const std::string& caption) {
    auto* box = new QGroupBox(ToQ(caption), QOf(parent));
    box->setGeometry(where.left, where.top, where.width, where.height);
    return std::make_unique<QtGroupBox>(box);
}

std::unique_ptr<Widget> CreatePanel(Widget& parent, const Rect& where) {
    auto* panel = new QFrame(QOf(parent));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setGeometry(where.left, where.top, where.width, where.height);
    return std::make_unique<QtWidget<Widget, QFrame>>(panel);
}

namespace {

class QtLabel : public QtCaptioned<Widget, QLabel> {
public:
    using QtCaptioned::QtCaptioned;
    void SetText(const std::string& text) override {
        q()->setText(ToQ(text));
        q()->adjustSize();
    }
};

} // namespace

std::unique_ptr<Widget> CreateLabel(Widget& parent, int left, int top, const std::string& caption) {
    auto* label = new QLabel(ToQ(caption), QOf(parent));
    label->move(left, top);
    label->adjustSize();
    return std::make_unique<QtLabel>(label);
}

void SetTabOrder(const std::vector<Widget*>& widgets) {
    QWidget* previous = nullptr;
    for (Widget* w : widgets) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, QOf(*w));
        previous = QOf(*w);
    }
}

std::unique_ptr<TimerWidget> CreateTimer(Callback tick) {
    return std::make_unique<QtTimer>(std::move(tick));
}

} // namespace ui::backend
