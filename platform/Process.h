// Starting an external program without a shell and waiting for its end.
#pragma once
#include <string>
#include <vector>

namespace platform {

struct ProcessResult {
    bool started = false; // false: the program could not be started at all
    int exitCode = -1;    // exit status; -1 when it ended by a signal (POSIX)
};

// Runs program with the given arguments (the program path itself becomes
// argv[0]; each of args reaches the child as exactly one argument, blanks
// and quotes included), standard input from the null device, no console
// window on Windows, and waits for its end without time-out.
// idle is called about every 50 ms while waiting (may be empty).
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         void (*idle)() = nullptr);

} // namespace platform
