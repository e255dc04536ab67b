// Opening files on POSIX systems without ever waiting in open(): a FIFO
// where a data file is expected would otherwise hold the run until something
// writes to it. Internal to platform/.
#pragma once
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

// Opens path with flags (O_CLOEXEC added) without blocking, then switches
// the descriptor back to blocking I/O; -1 on failure.
int OpenNonBlocking(const std::string& path, int flags, mode_t mode = 0);

// A regular file opened for reading, its stat record in st; -1 for anything
// else (a FIFO, a folder, a device) and on failure.
int OpenRegularForReading(const std::string& path, struct stat& st);

} // namespace platform
