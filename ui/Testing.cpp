#include "ui/Testing.h"

#include "ui/Backend.h"

namespace ui::testing {

std::string Describe(const Control& control) {
    const char* kind = "control";
    if (dynamic_cast<const Button*>(&control) != nullptr)
        kind = "button";
    else if (dynamic_cast<const CheckBox*>(&control) != nullptr)
        kind = "check box";
    else if (dynamic_cast<const RadioButton*>(&control) != nullptr)
        kind = "radio button";
    else if (dynamic_cast<const Label*>(&control) != nullptr)
        kind = "label";
    else if (dynamic_cast<const Edit*>(&control) != nullptr)
        kind = "edit";
    else if (dynamic_cast<const ListBox*>(&control) != nullptr)
        kind = "list box";
    else if (dynamic_cast<const GroupBox*>(&control) != nullptr)
        kind = "group box";
    else if (dynamic_cast<const Panel*>(&control) != nullptr)
        kind = "panel";
    else if (dynamic_cast<const Window*>(&control) != nullptr)
        kind = "window";
    return std::string(kind) + " \"" + control.Impl().Text() + "\"";
}

namespace {

Control* FindIn(const Control& within, const void* native) {
    if (within.Impl().Native() == native)
        return const_cast<Control*>(&within);
    if (const auto* container = dynamic_cast<const Container*>(&within))
        for (Control* child : container->Children())
            if (Control* found = FindIn(*child, native))
                return found;
    return nullptr;
}

} // namespace

Control* FindByNative(const Control& control, const void* native) {
    const Control* root = &control;
    while (root->Parent() != nullptr)
        root = root->Parent();
    return FindIn(*root, native);
}

} // namespace ui::testing
