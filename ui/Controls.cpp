#include "ui/Controls.h"

#include "ui/Prompts.h"
#include "ui/Text.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace ui {
namespace {

void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(left, top, width, height);
}

void RunIfSet(const Handler& handler) {
    if (handler)
        RunGuarded(handler);
}

} // namespace

void SetTabOrder(std::initializer_list<QWidget*> widgets) {
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

Button::Button(QWidget* parent, int left, int top, int width, int height,
               const std::string& caption)
    : QPushButton(ToQ(caption), parent) {
    setAutoDefault(false);
    Place(this, left, top, width, height);
}

void Button::SetCaption(const std::string& caption) {
    setText(ToQ(caption));
}

std::string Button::Caption() const {
    return FromQ(text());
}

void Button::OnClick(Handler handler) {
    connect(this, &QPushButton::clicked, this, [handler] { RunIfSet(handler); });
}

ListBox::ListBox(QWidget* parent, int left, int top, int width, int height, int itemHeight)
    : QListWidget(parent), itemHeight_(itemHeight) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    Place(this, left, top, width, height);
}

int ListBox::Count() const {
    return count();
}

std::string ListBox::Item(int index) const {
    const QListWidgetItem* it = item(index);
    return it != nullptr ? FromQ(it->text()) : std::string();
}

std::vector<std::string> ListBox::Items() const {
    std::vector<std::string> items;
    for (int i = 0; i < count(); ++i)
        items.push_back(Item(i));
    return items;
}

void ListBox::Add(const std::string& text) {
    auto* it = new QListWidgetItem(ToQ(text), this);
    it->setSizeHint(QSize(0, itemHeight_));
}

void ListBox::Delete(int index) {
    delete takeItem(index);
}

void ListBox::Clear() {
    clear();
}

bool ListBox::Selected(int index) const {
    const QListWidgetItem* it = item(index);
    return it != nullptr && it->isSelected();
}

void ListBox::SetSelected(int index, bool selected) {
    if (QListWidgetItem* it = item(index))
        it->setSelected(selected);
}

Edit::Edit(QWidget* parent, int left, int top, int width, int height) : QLineEdit(parent) {
    Place(this, left, top, width, height);
}

std::string Edit::Text() const {
    return FromQ(text());
}

void Edit::SetText(const std::string& text) {
    setText(ToQ(text));
}

void Edit::SetPasswordChar(char c) {
    if (c == 0) {
        setEchoMode(QLineEdit::Normal);
        setStyleSheet(QString());
        return;
    }
    setEchoMode(QLineEdit::Password);
    setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: %1; }")
                      .arg(static_cast<int>(static_cast<unsigned char>(c))));
}

template <class QtToggle>
ToggleControl<QtToggle>::ToggleControl(QWidget* parent, int left, int top, int width, int height,
                                       const std::string& caption)
    : QtToggle(ToQ(caption), parent) {
    Place(this, left, top, width, height);
}

template <class QtToggle> void ToggleControl<QtToggle>::OnClick(Handler handler) {
    QObject::connect(this, &QAbstractButton::clicked, this, [handler] { RunIfSet(handler); });
}

template <class QtToggle> void ToggleControl<QtToggle>::mouseReleaseEvent(QMouseEvent* event) {
    QtToggle::mouseReleaseEvent(event);
    RunIfSet(mouseUp_);
}

template <class QtToggle> void ToggleControl<QtToggle>::keyReleaseEvent(QKeyEvent* event) {
    QtToggle::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        RunIfSet(keyUp_);
}

template class ToggleControl<QCheckBox>;
template class ToggleControl<QRadioButton>;

GroupBox::GroupBox(QWidget* parent, int left, int top, int width, int height,
                   const std::string& caption)
    : QGroupBox(ToQ(caption), parent) {
    Place(this, left, top, width, height);
}

Panel::Panel(QWidget* parent, int left, int top, int width, int height) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    Place(this, left, top, width, height);
}

Label::Label(QWidget* parent, int left, int top, const std::string& caption)
    : QLabel(ToQ(caption), parent) {
    move(left, top);
    adjustSize();
}

void Label::SetCaption(const std::string& caption) {
    setText(ToQ(caption));
    adjustSize();
}

std::string Label::Caption() const {
    return FromQ(text());
}

} // namespace ui
