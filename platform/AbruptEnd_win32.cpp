#include "platform/AbruptEnd.h"
#include "platform/FileSystem.h"
#include "platform/Wide_win32.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// The clean-up runs on the system's console-control thread as well as on the
// window's.
std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}
std::vector<std::string>& Paths() {
    static std::vector<std::string> paths;
    return paths;
}
HANDLE childJob = nullptr;
HANDLE childProcess = nullptr;

} // namespace

void RemoveOnAbruptEnd(const std::string& path) {
    std::lock_guard<std::mutex> hold(Lock());
    auto& paths = Paths();
    if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end())
        paths.push_back(path);
}

void ForgetOnAbruptEnd(const std::string& path) {
    std::lock_guard<std::mutex> hold(Lock());
    auto& paths = Paths();
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
}

void CleanUpForAbruptEnd() {
    std::lock_guard<std::mutex> hold(Lock());
    // First the program, which holds the archive open: a file in use cannot
    // be deleted. A job takes everything the program started with it.
    if (childProcess != nullptr) {
        if (childJob != nullptr)
            ::TerminateJobObject(childJob, 1);
        else
            ::TerminateProcess(childProcess, 1);
        ::WaitForSingleObject(childProcess, 2000);
    }
    for (const std::string& path : Paths())
        DeleteFile(path);
}

void SetChildForAbruptEnd(std::intptr_t group, std::intptr_t process) {
    std::lock_guard<std::mutex> hold(Lock());
    childJob = reinterpret_cast<HANDLE>(group);
    childProcess = reinterpret_cast<HANDLE>(process);
}

} // namespace platform
