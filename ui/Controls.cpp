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

CheckBox::CheckBox(QWidget* parent, int left, int top, int width, int height,
                   const std::string& caption)
    : QCheckBox(ToQ(caption), parent) {
    Place(this, left, top, width, height);
}

void CheckBox::OnClick(Handler handler) {
    connect(this, &QCheckBox::clicked, this, [handler] { RunIfSet(handler); });
}

void CheckBox::mouseReleaseEvent(QMouseEvent* event) {
    QCheckBox::mouseReleaseEvent(event);
    RunIfSet(mouseUp_);
}

void CheckBox::keyReleaseEvent(QKeyEvent* event) {
    QCheckBox::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        RunIfSet(keyUp_);
}

RadioButton::RadioButton(QWidget* parent, int left, int top, int width, int height,
                         const std::string& caption)
    : QRadioButton(ToQ(caption), parent) {
    Place(this, left, top, width, height);
}

void RadioButton::OnClick(Handler handler) {
    connect(this, &QRadioButton::clicked, this, [handler] { RunIfSet(handler); });
}

void RadioButton::mouseReleaseEvent(QMouseEvent* event) {
    QRadioButton::mouseReleaseEvent(event);
    RunIfSet(mouseUp_);
}

void RadioButton::keyReleaseEvent(QKeyEvent* event) {
    QRadioButton::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        RunIfSet(keyUp_);
}

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
