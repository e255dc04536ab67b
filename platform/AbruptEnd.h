// Clean-up for an end of the program that does not wait for the program: a
// second request from the system on POSIX (the first is acted on in order),
// the end of the Windows session. What a run must not leave behind then is
// named here beforehand: files that hold data in the clear, and the program
// a run started together with everything it started.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Deleted by CleanUpForAbruptEnd until forgotten again (a handful at most;
// the same path once).
void RemoveOnAbruptEnd(const std::string& path);
void ForgetOnAbruptEnd(const std::string& path);

// Ends the started program's group and deletes the named files, now. Safe in
// a POSIX signal handler, and from any thread on Windows.
void CleanUpForAbruptEnd();

// For RunAndWait, while the program runs: its group (a POSIX process group
// id, a Windows job handle or 0) and, on Windows, its process handle; both 0
// once it has ended.
void SetChildForAbruptEnd(std::intptr_t group, std::intptr_t process);

} // namespace platform
