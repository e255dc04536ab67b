// The zip tests' helpers that need the system: a child process for work
// that changes limits or mappings, and the count of this process's threads.
#include "ZipTestSupport.h"

#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ziptest {

std::vector<uint32_t> ResultsFromChild(size_t count,
                                       const std::function<std::vector<uint32_t>()>& work) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::vector<uint32_t> results = work();
        const size_t bytes = results.size() * sizeof(uint32_t);
        _exit(write(fds[1], results.data(), bytes) == static_cast<ssize_t>(bytes) ? 0 : 4);
    }
    close(fds[1]);
    std::vector<uint32_t> results(count);
    const size_t bytes = count * sizeof(uint32_t);
    size_t got = 0;
    while (got < bytes) {
        ssize_t n = read(fds[0], reinterpret_cast<char*>(results.data()) + got, bytes - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    if (got != bytes)
        return {};
    return results;
}

size_t ThreadsOfProcess() {
    // A runtime may add a helper thread of its own when the first thread
    // starts (ThreadSanitizer does): start one first, so the helper is part
    // of every count.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

} // namespace ziptest
