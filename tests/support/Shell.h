// Shell command lines for test set-up and outside tools (POSIX systems only).
#pragma once
#include <string>

namespace testsupport {

// Encloses text in single quotes for /bin/sh (a quote inside is escaped).
std::string ShellQuote(const std::string& text);

// Runs a shell command line and returns its exit status; output goes to
// *output when given.
int RunShell(const std::string& command, std::string* output = nullptr);

} // namespace testsupport
