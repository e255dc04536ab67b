#include "tests/support/System.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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

bool ProcessEnded(long pid, int waitMs) {
    for (int waited = 0;; waited += 20) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        if (!(stat >> pidText >> name >> state) || state == "Z" || state == "X")
            return true;
        if (waited >= waitMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string OpenInheritable(const std::string& path) {
    return std::to_string(::open(path.c_str(), O_RDONLY));
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
