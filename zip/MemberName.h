// The rule for a safe archive member name.
#pragma once
#include <string>

namespace zip {

// True when the name, with every backslash read as a forward slash (as the
// writer stores it), neither starts with '/' nor has a ".." part: an
// extracting tool would otherwise write outside the folder it unpacks into.
// On Linux a file may well be named "..\..\x".
bool IsSafeMemberName(const std::string& name);

} // namespace zip
