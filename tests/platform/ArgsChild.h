// A child program for the process tests: writes back the arguments it got.
#pragma once
#include <string>
#include <vector>

// args[0] is the output file: every later argument is written to it, each in
// brackets. Exit status 3 when standard input is at its end at once, 9 when
// it holds anything. With args[0] "--sleep", sleeps args[1] milliseconds and
// exits 0.
int RunArgsChild(const std::vector<std::string>& args);
