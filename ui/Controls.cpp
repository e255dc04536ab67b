#include "ui/Controls.h"

#include "ui/Backend.h"
#include "ui/Prompts.h"

#include <algorithm>

namespace ui {
namespace {

void RunIfSet(const Handler& handler) {
    if (handler)
        RunGuarded(handler);
}

} // namespace

Control::Control(Container* parent) : parent_(parent) {
    if (parent_ != nullptr)
        parent_->children_.push_back(this);
}

Control::~Control() {
    if (parent_ != nullptr) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void Control::SetImpl(std::unique_ptr<backend::Widget> impl) {
    impl_ = std::move(impl);
}

void Control::SetEnabled(bool enabled) {
    impl_->SetEnabled(enabled);
}

bool Control::Enabled() const {
    return impl_->Enabled();
}

void Control::SetVisible(bool visible) {
    impl_->SetVisible(visible);
}

bool Control::Visible() const {
    return impl_->Visible();
}

void Control::SetFocus() {
    impl_->SetFocus();
}

bool Control::Focused() const {
    return impl_->Focused();
}

Rect Control::Geometry() const {
    return impl_->Geometry();
}

Container::~Container() {
    // Children first, while this control's native part still exists; each
    // takes itself out of the list.
    while (!children_.empty())
        delete children_.back();
}

void SetTabOrder(std::initializer_list<Control*> controls) {
    std::vector<backend::Widget*> widgets;
    for (Control* c : controls)
        widgets.push_back(&c->Impl());
    backend::SetTabOrder(widgets);
}

Button::Button(Container* parent, int left, int top, int width, int height,
               const std::string& caption)
    : Control(parent) {
    SetImpl(backend::CreateButton(parent->Impl(), Rect{left, top, width, height}, caption,
                                  [this] { RunIfSet(click_); }));
}

void Button::SetCaption(const std::string& caption) {
    Impl().SetText(caption);
}

std::string Button::Caption() const {
    return Impl().Text();
}

void Button::Click() {
    if (Enabled())
        RunIfSet(click_);
}

ListBox::ListBox(Container* parent, int left, int top, int width, int height, int itemHeight)
    : Control(parent) {
    auto impl = backend::CreateListBox(parent->Impl(), Rect{left, top, width, height}, itemHeight);
    list_ = impl.get();
    SetImpl(std::move(impl));
}

int ListBox::Count() const {
    return list_->Count();
}

std::string ListBox::Item(int index) const {
    return list_->Item(index);
}

std::vector<std::string> ListBox::Items() const {
    std::vector<std::string> items;
    for (int i = 0; i < Count(); ++i)
        items.push_back(Item(i));
    return items;
}

void ListBox::Add(const std::string& text) {
    list_->Add(text);
}

void ListBox::Delete(int index) {
    list_->Delete(index);
}

void ListBox::Clear() {
    list_->Clear();
}

bool ListBox::Selected(int index) const {
    return list_->Selected(index);
}

void ListBox::SetSelected(int index, bool selected) {
    list_->SetSelected(index, selected);
}

Edit::Edit(Container* parent, int left, int top, int width, int height) : Control(parent) {
    auto impl = backend::CreateEdit(parent->Impl(), Rect{left, top, width, height});
    edit_ = impl.get();
    SetImpl(std::move(impl));
}

std::string Edit::Text() const {
    return edit_->Text();
}

void Edit::SetText(const std::string& text) {
    edit_->SetText(text);
}

void Edit::SetPasswordChar(char c) {
    edit_->SetPasswordChar(c);
}

ToggleControl::ToggleControl(bool radio, Container* parent, int left, int top, int width,
                             int height, const std::string& caption)
    : Control(parent) {
    backend::ToggleEvents events;
    events.clicked = [this] { RunIfSet(click_); };
    events.mouseUp = [this] { RunIfSet(mouseUp_); };
    events.keyUp = [this] { RunIfSet(keyUp_); };
    auto impl = backend::CreateToggle(
        radio ? backend::ToggleKind::RadioButton : backend::ToggleKind::CheckBox, parent->Impl(),
        Rect{left, top, width, height}, caption, std::move(events));
    toggle_ = impl.get();
    SetImpl(std::move(impl));
}

bool ToggleControl::Checked() const {
    return toggle_->Checked();
}

void ToggleControl::SetChecked(bool checked) {
    toggle_->SetChecked(checked);
}

std::string ToggleControl::Caption() const {
    return toggle_->Text();
}

void ToggleControl::GrowToCaption() {
    Rect where = Geometry();
    const int needed = toggle_->PreferredWidth();
    if (needed > where.width) {
        where.width = needed;
        toggle_->SetGeometry(where);
    }
}

GroupBox::GroupBox(Container* parent, int left, int top, int width, int height,
                   const std::string& caption)
    : Container(parent) {
    SetImpl(backend::CreateGroupBox(parent->Impl(), Rect{left, top, width, height}, caption));
}

std::string GroupBox::Caption() const {
    return Impl().Text();
}

Panel::Panel(Container* parent, int left, int top, int width, int height) : Control(parent) {
    SetImpl(backend::CreatePanel(parent->Impl(), Rect{left, top, width, height}));
}

Label::Label(Container* parent, int left, int top, const std::string& caption) : Control(parent) {
    SetImpl(backend::CreateLabel(parent->Impl(), left, top, caption));
}

void Label::SetCaption(const std::string& caption) {
    Impl().SetText(caption);
}

std::string Label::Caption() const {
    return Impl().Text();
}

} // namespace ui
