// Qt backend: the test driving of ui/Testing.h with Qt Test.
#include "ui/Testing.h"

#include "ui/Backend.h"
#include "ui/qt/QtText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstdlib>

namespace ui::testing {
namespace {

QWidget* QOf(const Control& control) {
    return static_cast<QWidget*>(control.Impl().Native());
}

Rect ToRect(const QRect& r) {
    return Rect{r.x(), r.y(), r.width(), r.height()};
}

Qt::Key QtKey(Key key) {
    switch (key) {
    case Key::Enter:
        return Qt::Key_Return;
    case Key::Escape:
        return Qt::Key_Escape;
    case Key::Space:
        return Qt::Key_Space;
    case Key::Tab:
    case Key::ShiftTab:
        return Qt::Key_Tab;
    case Key::Up:
        return Qt::Key_Up;
    case Key::Down:
        return Qt::Key_Down;
    }
    return Qt::Key_unknown;
}

} // namespace

void PrepareTestProcess() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

void Press(Button& button) {
    static_cast<QAbstractButton*>(QOf(button))->click();
}

void Click(Control& control) {
    QWidget* w = QOf(control);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(6, w->height() / 2));
}

void TypeText(Edit& edit, const std::string& text) {
    QWidget* w = QOf(edit);
    for (QChar c : qt::ToQ(text)) {
        if (c.unicode() < 0x80)
            QTest::keyClick(w, static_cast<char>(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void PressKey(Window& window, Key key) {
    QWidget* top = QOf(window);
    QWidget* pressed = QApplication::focusWidget();
    if (pressed == nullptr || pressed->window() != top)
        pressed = top->focusWidget() != nullptr ? top->focusWidget() : top;
    const Qt::KeyboardModifiers modifiers =
        key == Key::ShiftTab ? Qt::ShiftModifier : Qt::NoModifier;
    QTest::keyPress(pressed, QtKey(key), modifiers);
    // A key that closed the window is released over nothing of it.
    if (QWidget* focus = QApplication::focusWidget())
        QTest::keyRelease(focus, QtKey(key), modifiers);
    else if (pressed->isVisible())
        QTest::keyRelease(pressed, QtKey(key), modifiers);
}

bool PressCloseBox(Window& window) {
    return QOf(window)->close();
}

bool EndSession(Window&) {
    return false;
}

bool ShowActive(Window& window) {
    QWidget* w = QOf(window);
    w->show();
    w->activateWindow();
    return QTest::qWaitForWindowActive(w, 2000);
}

void RunLater(std::function<void()> call) {
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(call));
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

void Wait(int ms) {
    QTest::qWait(ms);
}

Rect Frame(const Window& window) {
    return ToRect(QOf(window)->frameGeometry());
}

Rect ScreenArea() {
    return ToRect(QGuiApplication::primaryScreen()->availableGeometry());
}

bool FixedSize(const Window& window) {
    const QWidget* w = QOf(window);
    return w->minimumSize() == w->maximumSize();
}

bool HasMinimiseOrMaximiseBox(const Window& window) {
    const Qt::WindowFlags flags = QOf(window)->windowFlags();
    return (flags & Qt::WindowMaximizeButtonHint) || (flags & Qt::WindowMinimizeButtonHint);
}

bool MultiSelect(const ListBox& list) {
    const auto* w = qobject_cast<const QListWidget*>(QOf(list));
    return w != nullptr && w->selectionMode() == QAbstractItemView::ExtendedSelection;
}

bool ScrollsSideways(const ListBox& list) {
    auto* w = qobject_cast<QListWidget*>(QOf(list));
    // The items are laid out when the view gets round to it.
    w->doItemsLayout();
    return w->horizontalScrollBar()->maximum() > 0;
}

bool WholeLineReachable(const ListBox& list, int index) {
    auto* w = qobject_cast<QListWidget*>(QOf(list));
    w->doItemsLayout();
    const QListWidgetItem* item = w->item(index);
    return item != nullptr && w->fontMetrics().horizontalAdvance(item->text()) <=
                                  w->viewport()->width() + w->horizontalScrollBar()->maximum();
}

bool TextHidden(const Edit& edit) {
    const auto* w = qobject_cast<const QLineEdit*>(QOf(edit));
    return w != nullptr && w->echoMode() == QLineEdit::Password;
}

bool CaptionFits(const Control& control) {
    const QWidget* w = QOf(control);
    bool fits = w->fontMetrics().height() <= w->height();
    if (const auto* b = qobject_cast<const QPushButton*>(w))
        fits = fits && b->fontMetrics().horizontalAdvance(b->text()) + 6 <= b->width();
    else if (const auto* t = qobject_cast<const QAbstractButton*>(w))
        fits = fits && t->sizeHint().width() <= t->width();
    else if (const auto* l = qobject_cast<const QLabel*>(w))
        fits = fits && l->sizeHint().width() <= l->width();
    return fits;
}

Rect TextArea(const Control& control) {
    const QWidget* w = QOf(control);
    if (const auto* l = qobject_cast<const QLabel*>(w)) {
        const QFontMetrics fm = l->fontMetrics();
        const QRect ink = fm.tightBoundingRect(l->text());
        return Rect{l->x(), l->y() + fm.ascent() + ink.top(), l->width(), ink.height()};
    }
    return ToRect(w->geometry());
}

Control* NextInTabOrder(const Control& control) {
    const QWidget* start = QOf(control);
    QWidget* w = start->nextInFocusChain();
    // Skips what takes no focus with Tab and what lies outside the window.
    for (int steps = 0; w != start && steps < 1000; ++steps) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == start->window())
            return FindByNative(control, w);
        w = w->nextInFocusChain();
    }
    return nullptr;
}

bool Screenshot(Window& window, const std::string& path) {
    return QOf(window)->grab().save(qt::ToQ(path));
}

} // namespace ui::testing
