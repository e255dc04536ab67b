#include "tests/support/System.h"

#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>

namespace testsupport {

bool OnWindows() {
    return false;
}

void SetFileTimes(const std::string& path, int64_t accessed, int64_t modified,
                  int64_t modifiedNsec) {
    struct timespec times[2] = {{static_cast<time_t>(accessed), 0},
                                {static_cast<time_t>(modified), static_cast<long>(modifiedNsec)}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("utimensat failed on " + path);
}

std::string SystemTempRoot() {
    const char* env = std::getenv("TMPDIR");
    return (env && *env) ? env : "/tmp";
}

void SetEnvironment(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

void UnsetEnvironment(const char* name) {
    ::unsetenv(name);
}

void SetReadOnly(const std::string& path, bool readOnly) {
    if (chmod(path.c_str(), readOnly ? 0444 : 0644) != 0)
        throw std::runtime_error("chmod failed on " + path);
}

} // namespace testsupport
