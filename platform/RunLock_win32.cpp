#include "platform/RunLock.h"
#include "platform/Wide_win32.h"

namespace platform {

FileLock::~FileLock() {
    Release();
}

LockOutcome FileLock::TryAcquire(const std::string& path) {
    Release();
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return LockOutcome::CannotOpen;
    // The handle is not inherited (no security attributes asking for it), so
    // gpg never holds the lock after we are gone. Others may open the file;
    // only the byte range lock counts.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        h = ::CreateFileW(wide->c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr); // made by another user
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD attributes = ::GetFileAttributesW(wide->c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? LockOutcome::NotAFile
                   : LockOutcome::CannotOpen;
    }
    OVERLAPPED at{};
    if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(h);
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                   ? LockOutcome::HeldElsewhere
                   : LockOutcome::CannotLock;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return LockOutcome::Acquired;
}

void FileLock::Release() {
    if (handle_ == -1)
        return;
    // Closing the handle drops its lock.
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

} // namespace platform
