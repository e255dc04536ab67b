// Helpers of the Windows files in platform/: UTF-8 text inside the program,
// UTF-16 at the Windows boundary, and Windows' file times.
#pragma once
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The ANSI/wide switch macros of these two would rename platform's own
// DeleteFile and CopyFile; the wide functions are called by their W names.
#undef DeleteFile
#undef CopyFile

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// UTF-16 of a UTF-8 text; nothing when the text is not valid UTF-8 (never a
// replacement character, which could name another file).
std::optional<std::wstring> ToWide(const std::string& utf8);

// UTF-8 of a UTF-16 text from Windows.
std::string FromWide(const std::wstring& wide);
std::string FromWide(const wchar_t* wide, size_t length);

// Seconds since 1970 (UTC) of a FILETIME (100-ns units since 1601, UTC),
// and the nanoseconds within that second.
int64_t UnixFromFileTime(const FILETIME& time);
int32_t NsecFromFileTime(const FILETIME& time);

// The text that a call like GetCurrentDirectoryW or GetTempPathW writes into
// a buffer (it takes the buffer's size and the buffer, and returns the text's
// length, or the size it needs when the buffer is too small); the buffer
// grows until the text fits. "" when the call fails.
std::string TextOfBufferCall(DWORD(WINAPI* call)(DWORD, LPWSTR));

// A kernel handle closed when the holder goes out of scope.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // Closes the handle; false when the system reports a failure.
    bool Reset() {
        bool ok = true;
        if (Valid())
            ok = ::CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

} // namespace platform
