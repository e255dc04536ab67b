// What the tests need of the operating system beyond the program's own
// platform layer: which system they run on, and setting a file's times.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// True in the Windows build: cases that only mean something on one system
// skip themselves on the other with this.
bool OnWindows();

// Sets the last-access and last-write time of a file (seconds since 1970,
// UTC, and nanoseconds of the last write: Windows keeps them in units of
// 100); throws when the system refuses.
void SetFileTimes(const std::string& path, int64_t accessed, int64_t modified,
                  int64_t modifiedNsec = 0);

// Sets (or removes) a variable of this process's environment; on Windows the
// value reaches the wide-character environment unchanged (UTF-8 given).
void SetEnvironment(const char* name, const std::string& value);
void UnsetEnvironment(const char* name);

// The system's temporary folder shared by every user ($TMPDIR or /tmp on
// POSIX systems, not the program's private folder below it, so that a test
// may hand a folder to another user; the user's own on Windows).
std::string SystemTempRoot();

// Makes a file read-only for everyone (or writable again).
void SetReadOnly(const std::string& path, bool readOnly);

// POSIX: true once the process with that id has ended (a zombie counts as
// ended), waiting up to waitMs for it.
bool ProcessEnded(long pid, int waitMs);

// Opens path so that a child would inherit the handle (descriptor) by
// default; its number as text. It stays open until this process ends.
std::string OpenInheritable(const std::string& path);
// Starts a Linux program (argv[0] its absolute path, every argument as Linux
// sees it) and does not wait for it: it must end by itself. Under Wine the
// Windows build starts it by its Z: path, which Wine runs as a Unix process;
// its end and exit status are not reported there. False when it cannot start.
bool StartLinuxProgram(const std::vector<std::string>& argv);

} // namespace testsupport
