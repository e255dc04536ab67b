// Things that are no regular file, for tests of code that must never wait on
// them or write into them (POSIX systems only).
#pragma once
#include <atomic>
#include <string>
#include <thread>

namespace testsupport {

// A FIFO and its read end, opened at once or only after delayMs (so a writer
// that would wait in open() for a reader is freed again, and seen to have
// waited). Tells whether anything arrived.
class FifoReader {
public:
    explicit FifoReader(int delayMs = 0) : delayMs_(delayMs) {}
    ~FifoReader() { Stop(); }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    // Makes the FIFO at path (a previous one of this reader is let go).
    std::string Make(const std::string& path);
    // Stops waiting to open; true when a byte came through.
    bool Reached();

private:
    void Stop();

    int delayMs_;
    std::string path_;
    std::atomic<int> fd_{-1};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A pseudo-terminal: the device a journal path may name. Its other side is
// read to tell whether anything was written.
class Terminal {
public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    const std::string& Path() const { return path_; }
    bool Reached() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

} // namespace testsupport
