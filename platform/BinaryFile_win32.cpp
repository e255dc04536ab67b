#include "platform/BinaryFile.h"
#include "platform/FileInfo_win32.h"
#include "platform/Wide_win32.h"

#include <climits>

namespace platform {
namespace {

HANDLE H(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t Stored(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// Largest block handed to one ReadFile/WriteFile call (they count in DWORD).
constexpr size_t kMaxBlock = 1u << 30;

} // namespace

std::unique_ptr<BinaryFile> BinaryFile::OpenForReading(const std::string& path) {
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return nullptr;
    // Shared with other readers only: a file another program holds open for
    // writing is refused rather than read half-written, and nobody starts
    // writing it while it is read. A folder cannot be opened this way.
    HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    if (::GetFileType(h) != FILE_TYPE_DISK) { // a device such as NUL or COM1
        ::CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<BinaryFile>(new BinaryFile(Stored(h)));
}

std::unique_ptr<BinaryFile> BinaryFile::CreateForWriting(const std::string& path) {
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return nullptr;
    // No sharing: nobody reads the archive before it is complete. Read access
    // as well, so that the file can be examined through the same handle.
    HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::unique_ptr<BinaryFile>(new BinaryFile(Stored(h)));
}

std::unique_ptr<BinaryFile> BinaryFile::CreateNew(const std::string& path) {
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return nullptr;
    // CREATE_NEW fails for anything already there, a link included.
    HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    if (::GetFileType(h) != FILE_TYPE_DISK) { // a device name such as NUL
        ::CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<BinaryFile>(new BinaryFile(Stored(h)));
}

BinaryFile::~BinaryFile() {
    if (handle_ != -1)
        ::CloseHandle(H(handle_));
}

int64_t BinaryFile::Read(void* buffer, size_t size) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(size < kMaxBlock ? size : kMaxBlock);
    if (!::ReadFile(H(handle_), buffer, want, &n, nullptr))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<int64_t>(n);
}

size_t BinaryFile::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const size_t left = size - done;
        DWORD n = 0;
        if (!::WriteFile(H(handle_), p + done,
                         static_cast<DWORD>(left < kMaxBlock ? left : kMaxBlock), &n, nullptr) ||
            n == 0)
            break;
        done += n;
    }
    return done;
}

bool BinaryFile::Seek(int64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return offset >= 0 && ::SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) != 0;
}

bool BinaryFile::CanSeek() const {
    return ::GetFileType(H(handle_)) == FILE_TYPE_DISK;
}

bool BinaryFile::Truncate(int64_t size) {
    // SetEndOfFile cuts at the file pointer; the pointer is put back after,
    // as truncating does on POSIX systems.
    LARGE_INTEGER zero{}, current{}, to{};
    to.QuadPart = size;
    if (size < 0 || !::SetFilePointerEx(H(handle_), zero, &current, FILE_CURRENT))
        return false;
    bool ok = ::SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(H(handle_));
    return ::SetFilePointerEx(H(handle_), current, nullptr, FILE_BEGIN) && ok;
}

bool BinaryFile::GetInfo(FileInfo& info) const {
    BY_HANDLE_FILE_INFORMATION data;
    if (!::GetFileInformationByHandle(H(handle_), &data))
        return false;
    info = FileInfoFromRecord(data);
    return true;
}

bool BinaryFile::GetIdentity(FileIdentity& identity) const {
    return FileIdentityOfHandle(H(handle_), identity);
}

bool BinaryFile::Close() {
    if (handle_ == -1)
        return true;
    HANDLE h = H(handle_);
    handle_ = -1;
    return ::CloseHandle(h) != 0;
}

} // namespace platform
