// The unattended-run switch: any one character followed by "auto" in any
// letter case (/auto, -AUTO; not auto, not //auto).
#pragma once
#include <string>
#include <vector>

bool IsAutoSwitch(const std::string& argument);
bool HasAutoSwitch(const std::vector<std::string>& arguments);
