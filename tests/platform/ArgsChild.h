// A child program for the process tests: writes back the arguments it got.
#pragma once
#include <string>
#include <vector>

// args[0] is the output file: every later argument is written to it, each in
// brackets. Exit status 3 when standard input is at its end at once, 9 when
// it holds anything. With args[0] "--sleep", sleeps args[1] milliseconds and
// exits 0. With "--probe HANDLE PATH" exits 10 when it has a handle
// (descriptor) of that number open on the file PATH, else 11.
int RunArgsChild(const std::vector<std::string>& args);

bool HandleRefersTo(const std::string& handle, const std::string& path); // per system
