// The rules for archive member names: which are safe, which are the same.
#pragma once
#include <string>

namespace zip {

// True when the name, with every backslash read as a forward slash (as the
// writer stores it), neither starts with '/' nor has a ".." part: an
// extracting tool would otherwise write outside the folder it unpacks into.
// On Linux a file may well be named "..\..\x".
bool IsSafeMemberName(const std::string& name);

// Two member names with the same key are one file once unpacked where names
// are compared as Windows compares them: without regard to letter case
// (Czech letters included), a backslash the same as '/'. Case-insensitive on every
// system, since the archive may be unpacked on any of them.
std::string MemberNameKey(const std::string& name);

} // namespace zip
