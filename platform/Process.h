// Starting an external program without a shell and waiting for its end, with
// events let run meanwhile, a deadline, a way to stop it, and its error text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct ProcessOptions {
    // "Let events run": called about every 50 ms, and whenever window
    // messages arrive on Windows, while the program runs (may be empty).
    std::function<void()> idle;
    // Asked after each idle call: true ends the program at once.
    std::function<bool()> stop;
    // The program is ended once it has run this long; 0: no deadline.
    int64_t timeoutMs = 0;
    // How much of the end of its standard error to keep; 0: the null device.
    std::size_t errorTail = 0;
};

struct ProcessResult {
    bool started = false; // false: the program could not be started at all
    // Exit status; -1 when it ended by a signal (POSIX) or was ended here.
    int exitCode = -1;
    bool timedOut = false; // ended because it outran timeoutMs
    bool stopped = false;  // ended because stop() said so
    // The last errorTail bytes of its standard error, from the start of a
    // line, as UTF-8: bytes that are not UTF-8 are read in the system's
    // console code page on Windows (GnuPG 2 for Windows writes UTF-8, older
    // console programs the OEM code page) and as '?' elsewhere.
    std::string errorOutput;
};

// Runs program with the given arguments (the program path itself becomes
// argv[0]; each of args reaches the child as exactly one argument, blanks
// and quotes included) and waits for its end. Standard input and output are
// the null device, standard error a pipe read here (or the null device); the
// program inherits no other handle or descriptor, and no console window is
// made on Windows. It runs in a group of its own (a process group on POSIX,
// a job on Windows): when it ends, is stopped or times out, everything it
// started and left running in that group is ended too.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options);

// The same without deadline or error text; idle as in ProcessOptions.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         void (*idle)() = nullptr);

} // namespace platform
