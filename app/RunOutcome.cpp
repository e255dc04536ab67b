#include "app/RunOutcome.h"

#include "settings/Unitpom.h"

#include <string>

bool ExitCodeRequested() {
    const std::string text = ReadSettingString("General", "ExitCode", "");
    int value = 0;
    return !text.empty() && !(ParseSettingInteger(text, value) && value == 0);
}
