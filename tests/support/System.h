// What the tests need of the operating system beyond the program's own
// platform layer: which system they run on, and setting a file's times.
#pragma once
#include <cstdint>
#include <string>

namespace testsupport {

// True in the Windows build: cases that only mean something on one system
// skip themselves on the other with this.
bool OnWindows();

// Sets the last-access and last-write time of a file (seconds since 1970,
// UTC); throws when the system refuses.
void SetFileTimes(const std::string& path, int64_t accessed, int64_t modified);

// Sets (or removes) a variable of this process's environment; on Windows the
// value reaches the wide-character environment unchanged (UTF-8 given).
void SetEnvironment(const char* name, const std::string& value);
void UnsetEnvironment(const char* name);

// Makes a file read-only for everyone (or writable again).
void SetReadOnly(const std::string& path, bool readOnly);

} // namespace testsupport
