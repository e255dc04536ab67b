#include "tests/support/SpecialFiles.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

std::string FifoReader::Make(const std::string& path) {
    Stop();
    stop_ = false;
    path_ = path;
    ::mkfifo(path.c_str(), 0600);
    if (delayMs_ == 0)
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    else
        thread_ = std::thread([this] {
            for (int ms = 0; ms < delayMs_ && !stop_; ms += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!stop_)
                fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        });
    return path;
}

bool FifoReader::Reached() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    char c;
    return fd_ >= 0 && ::read(fd_, &c, 1) > 0;
}

void FifoReader::Stop() {
    Reached();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

Terminal::Terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return;
    path_ = ::ptsname(master_);
    // Held open here too, so what is written waits on the other side.
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
}

Terminal::~Terminal() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool Terminal::Reached() const {
    char c;
    return master_ >= 0 && ::read(master_, &c, 1) > 0;
}

} // namespace testsupport
