#include "platform/AbruptEnd.h"
#include "platform/ErrorTail.h"
#include "platform/Process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

// Between two calls of the idle hook while nothing happens.
constexpr int kPumpMs = 50;

// Bytes of a program that did not write UTF-8: only ASCII is certain.
std::string AsciiOnly(const std::string& bytes) {
    std::string out = bytes;
    for (char& c : out)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '?';
    return out;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The child: its own process group (so that it and whatever it starts can be
// ended together), no signal blocked, and the signals this program catches
// or ignores back at their defaults; standard streams as given, every other
// descriptor closed.
class SpawnSetup {
public:
    explicit SpawnSetup(int errorFd) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
        if (errorFd >= 0)
            posix_spawn_file_actions_adddup2(&actions_, errorFd, 2);
        else
            posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        posix_spawnattr_init(&attr_);
        posix_spawnattr_setpgroup(&attr_, 0);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                             POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attr_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

// True once the child has ended; it stays a zombie, so its process group
// cannot be taken by another process before the group is ended.
bool HasEnded(pid_t pid, bool& lost) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        lost = errno != EINTR;
        return lost;
    }
    return info.si_pid == pid;
}

// Reads what the pipe holds now; false at its end.
bool ReadSome(int fd, ErrorTail& tail) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            tail.Add(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

} // namespace

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
    ProcessResult result;
    if (program.empty() || ::access(program.c_str(), X_OK) != 0)
        return result;

    std::vector<std::string> argvStore;
    argvStore.push_back(program);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    Fd errorRead, errorWrite;
    if (options.errorTail > 0) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            errorRead.Reset(fds[0]);
            errorWrite.Reset(fds[1]);
            ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        }
    }
    pid_t pid = 0;
    {
        const SpawnSetup setup(errorWrite.Get());
        if (::posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attributes(), argv.data(),
                          environ) != 0)
            return result;
    }
    result.started = true;
    SetChildForAbruptEnd(pid, 0); // its group has its id
    errorWrite.Reset();           // the pipe ends when the child and all it started have ended
    // The child's end wakes the wait at once where the system can tell it.
    Fd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    ErrorTail tail(options.errorTail);
    bool lost = false;
    for (;;) {
        if (HasEnded(pid, lost) || lost)
            break;
        if (options.idle)
            options.idle();
        if (options.stop && options.stop()) {
            result.stopped = true;
            break;
        }
        int waitMs = options.idle || options.stop || pidFd.Get() < 0 ? kPumpMs : -1;
        if (options.timeoutMs > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                result.timedOut = true;
                break;
            }
            waitMs = waitMs < 0 ? static_cast<int>(std::min<int64_t>(left.count(), 1 << 30))
                                : static_cast<int>(std::min<int64_t>(left.count(), waitMs));
        }
        pollfd fds[2] = {{pidFd.Get(), POLLIN, 0}, {errorRead.Get(), POLLIN, 0}};
        if (::poll(fds, 2, waitMs) > 0 && (fds[1].revents & (POLLIN | POLLHUP)) &&
            !ReadSome(errorRead.Get(), tail))
            errorRead.Reset(); // at its end: nothing more to wait for there
    }

    // The whole group goes, whatever ended the wait: a program that was
    // stopped, and anything it left behind. Its leader is still unreaped
    // here, so the group is still its own.
    ::kill(-pid, SIGKILL);
    SetChildForAbruptEnd(0, 0);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (errorRead.Get() >= 0)
        ReadSome(errorRead.Get(), tail);
    if (!result.stopped && !result.timedOut && !lost)
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (options.errorTail > 0)
        result.errorOutput = tail.Text(AsciiOnly);
    return result;
}

} // namespace platform
