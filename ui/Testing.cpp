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

} // namespace ui::testing
