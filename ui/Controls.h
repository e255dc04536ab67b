// The controls the two windows are made of, placed at pixel positions (left,
// top, width, height) within their parent's client area, with UTF-8 texts
// and plain std::function handlers. Every handler runs guarded: an exception
// leaving it is shown by ShowException (Prompts.h) and the program goes on.
// The toolkit behind them is chosen when the program is built (Backend.h).
//
// A control made with new belongs to its parent (a window or a group box)
// and is destroyed with it; one that ends earlier leaves its parent.
//
// Radio buttons are exclusive among the radio buttons with the same parent:
// the ones placed directly on a form form one group, those in a GroupBox
// another.
#pragma once
#include "ui/Rect.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace ui {

namespace backend {
class Widget;
class ListWidget;
class EditWidget;
class ToggleWidget;
} // namespace backend

using Handler = std::function<void()>;

class Container;

// What every control and window has: the enabled, visible and focus state
// and its place.
class Control {
public:
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    void SetEnabled(bool enabled);
    bool Enabled() const;
    void SetVisible(bool visible);
    bool Visible() const;
    void SetFocus();
    bool Focused() const;
    // The place within the parent's client area.
    Rect Geometry() const;

    Container* Parent() const { return parent_; }
    // The toolkit's side of the control, for the backend and ui/Testing.h.
    backend::Widget& Impl() const { return *impl_; }

protected:
    explicit Control(Container* parent);
    void SetImpl(std::unique_ptr<backend::Widget> impl);

private:
    friend class Container;
    Container* parent_;
    std::unique_ptr<backend::Widget> impl_;
};

// A control that holds others: a window or a group box.
class Container : public Control {
public:
    ~Container() override;
    // The controls placed directly on it, in the order they were made.
    const std::vector<Control*>& Children() const { return children_; }

protected:
    using Control::Control;

private:
    friend class Control;
    std::vector<Control*> children_;
};

// Tab moves the keyboard focus through these controls in the order given.
void SetTabOrder(std::initializer_list<Control*> controls);

class Button : public Control {
public:
    Button(Container* parent, int left, int top, int width, int height, const std::string& caption);
    void SetCaption(const std::string& caption);
    std::string Caption() const;
    // Pressing the button (mouse, space, Enter when default) runs the handler.
    void OnClick(Handler handler) { click_ = std::move(handler); }
    // Runs the handler as a press would (guarded); nothing while disabled.
    void Click();

private:
    Handler click_;
};

// List box with multiple selection (click, Ctrl+click, Shift+click).
class ListBox : public Control {
public:
    ListBox(Container* parent, int left, int top, int width, int height, int itemHeight = 13);

    int Count() const;
    std::string Item(int index) const;
    std::vector<std::string> Items() const;
    void Add(const std::string& text);
    void Delete(int index);
    void Clear();
    bool Selected(int index) const;
    void SetSelected(int index, bool selected);

private:
    backend::ListWidget* list_;
};

// Single-line edit. With a password character every character shows as it.
class Edit : public Control {
public:
    Edit(Container* parent, int left, int top, int width, int height);
    std::string Text() const;
    void SetText(const std::string& text);
    // '*' (or any character) hides the text; 0 shows it again.
    void SetPasswordChar(char c);

private:
    backend::EditWidget* edit_;
};

// Check box and radio button: besides the plain click they report mouse-button
// and key releases over them (after the state has changed).
class ToggleControl : public Control {
public:
    bool Checked() const;
    void SetChecked(bool checked);
    std::string Caption() const;
    void OnClick(Handler handler) { click_ = std::move(handler); }
    void OnMouseUp(Handler handler) { mouseUp_ = std::move(handler); }
    void OnKeyUp(Handler handler) { keyUp_ = std::move(handler); }
    // Keeps the position; widens the control when its caption needs more
    // room in this platform's font.
    void GrowToCaption();

protected:
    ToggleControl(bool radio, Container* parent, int left, int top, int width, int height,
                  const std::string& caption);

private:
    backend::ToggleWidget* toggle_;
    Handler click_;
    Handler mouseUp_;
    Handler keyUp_;
};

class CheckBox : public ToggleControl {
public:
    CheckBox(Container* parent, int left, int top, int width, int height,
             const std::string& caption)
        : ToggleControl(false, parent, left, top, width, height, caption) {}
};

class RadioButton : public ToggleControl {
public:
    RadioButton(Container* parent, int left, int top, int width, int height,
                const std::string& caption)
        : ToggleControl(true, parent, left, top, width, height, caption) {}
};

// Group box with a caption; its children are placed within the box.
class GroupBox : public Container {
public:
    GroupBox(Container* parent, int left, int top, int width, int height,
             const std::string& caption);
    std::string Caption() const;
};

// Thin raised panel (used as a divider).
class Panel : public Control {
public:
    Panel(Container* parent, int left, int top, int width, int height);
};

// Static text at a position; sized to its text.
class Label : public Control {
public:
    Label(Container* parent, int left, int top, const std::string& caption);
    void SetCaption(const std::string& caption);
    std::string Caption() const;
};

} // namespace ui
