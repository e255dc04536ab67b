#include "tests/support/System.h"

#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool StartLinuxProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // Twice forked, so that the program leaves no zombie behind when it ends.
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (::fork() == 0) {
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return ::access(args[0], X_OK) == 0;
}

} // namespace testsupport
