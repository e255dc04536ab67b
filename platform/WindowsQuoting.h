// Quoting of one argument for a Windows command line, so that the C runtime's
// (and CommandLineToArgvW's) splitting gives it back exactly.
#pragma once
#include <string>

namespace platform {

// The argument as it must stand on a command line: unchanged when it holds no
// blank, tab, line break or quote and is not empty; otherwise enclosed in
// quotes, with each quote and each run of backslashes before a quote (or
// before the closing quote) escaped by doubling the backslashes.
std::wstring QuoteWindowsArgument(const std::wstring& arg);

} // namespace platform
