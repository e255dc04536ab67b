// The controls the two windows are made of: thin subclasses of the Qt
// widgets, placed at pixel positions (left, top, width, height) within their
// parent's client area, with UTF-8 texts and plain std::function handlers.
// Every handler runs guarded: an exception leaving it is shown by
// ShowException (Prompts.h) and the program goes on. The Qt widget API stays
// available for everything else (setEnabled, isEnabled, setFocus, ...).
//
// Radio buttons are exclusive among the radio buttons with the same parent:
// the ones placed directly on a form form one group, those in a GroupBox
// another.
#pragma once
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace ui {

using Handler = std::function<void()>;

// Sets the keyboard focus order: the widgets in the order given.
void SetTabOrder(std::initializer_list<QWidget*> widgets);

class Button : public QPushButton {
public:
    Button(QWidget* parent, int left, int top, int width, int height, const std::string& caption);
    void SetCaption(const std::string& caption);
    std::string Caption() const;
    // Pressing the button (mouse, space, Enter when default) runs the handler.
    void OnClick(Handler handler);
};

// List box with multiple selection (click, Ctrl+click, Shift+click).
class ListBox : public QListWidget {
public:
    ListBox(QWidget* parent, int left, int top, int width, int height, int itemHeight = 13);

    int Count() const;
    std::string Item(int index) const;
    std::vector<std::string> Items() const;
    void Add(const std::string& text);
    void Delete(int index);
    void Clear();
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);

private:
    int itemHeight_;
};

// Single-line edit. With a password character every character shows as it.
class Edit : public QLineEdit {
public:
    Edit(QWidget* parent, int left, int top, int width, int height);
    std::string Text() const;
    void SetText(const std::string& text);
    // '*' (or any character) hides the text; 0 shows it again.
    void SetPasswordChar(char c);
};

// Check box and radio button report mouse-button and key releases over them
// (after Qt has changed their state), besides the plain click. Defined for
// QCheckBox and QRadioButton only (in Controls.cpp).
template <class QtToggle> class ToggleControl : public QtToggle {
public:
    ToggleControl(QWidget* parent, int left, int top, int width, int height,
                  const std::string& caption);
    bool Checked() const { return this->isChecked(); }
    void SetChecked(bool checked) { this->setChecked(checked); }
    void OnClick(Handler handler);
    void OnMouseUp(Handler handler) { mouseUp_ = std::move(handler); }
    void OnKeyUp(Handler handler) { keyUp_ = std::move(handler); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    Handler mouseUp_;
    Handler keyUp_;
};

class CheckBox : public ToggleControl<QCheckBox> {
public:
    using ToggleControl::ToggleControl;
};

class RadioButton : public ToggleControl<QRadioButton> {
public:
    using ToggleControl::ToggleControl;
};

// Group box with a caption; its children are placed within the box.
class GroupBox : public QGroupBox {
public:
    GroupBox(QWidget* parent, int left, int top, int width, int height, const std::string& caption);
};

// Thin raised panel (used as a divider).
class Panel : public QFrame {
public:
    Panel(QWidget* parent, int left, int top, int width, int height);
};

// Static text at a position; sized to its text.
class Label : public QLabel {
public:
    Label(QWidget* parent, int left, int top, const std::string& caption);
    void SetCaption(const std::string& caption);
    std::string Caption() const;
};

} // namespace ui
