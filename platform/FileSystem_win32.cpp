#include "platform/FileInfo_win32.h"
#include "platform/FileSystem.h"
#include "platform/Wide_win32.h"

#include <cwchar>
#include <cwctype>
#include <random>
#include <vector>

namespace platform {
namespace {

// Attributes of what is at the path; false when nothing is (or the name is
// not valid UTF-8).
bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    auto wide = ToWide(path);
    return wide && !wide->empty() &&
           ::GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data) != 0;
}

bool IsFolder(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WriteAll(HANDLE h, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        DWORD n = 0;
        if (!::WriteFile(h, bytes.data() + done,
                         static_cast<DWORD>(left < (1u << 30) ? left : (1u << 30)), &n, nullptr) ||
            n == 0)
            return false;
        done += n;
    }
    return true;
}

// Pushes a file's data to the disk. A copy that kept its source's read-only
// attribute cannot be opened for writing, so the attribute is lifted for the
// flush and put back.
bool FlushToDisk(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    ScopedHandle h(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    bool ok = h.Valid() && ::FlushFileBuffers(h.Get()) != 0;
    ok = h.Reset() && ok;
    if (readOnly && !::SetFileAttributesW(path.c_str(), attributes))
        ok = false;
    return ok;
}

// The file a path leads to: a symbolic link is followed, so that it is the
// file that gets replaced and the link stays; the path itself otherwise.
std::wstring FinalPath(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    ScopedHandle h(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid())
        return path;
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n =
            ::GetFinalPathNameByHandleW(h.Get(), buf.data(), static_cast<DWORD>(buf.size()), 0);
        if (n == 0)
            return path;
        if (n < buf.size())
            return std::wstring(buf.data(), n);
        buf.resize(n + 1);
    }
}

// A reserved DOS device name (NUL, CON, COM1, "lpt2.txt", ...) or a path in
// the device namespace, told from the text alone: asking the system about
// such a path (even for its attributes) may already open the device.
bool NamesDevice(const std::wstring& path) {
    const auto starts = [&](const wchar_t* prefix) {
        return path.compare(0, std::wcslen(prefix), prefix) == 0;
    };
    if (starts(L"\\\\.\\") || starts(L"//./"))
        return true;
    // "\\?\" passes a path on unparsed: only a drive or a share is a file's.
    if (starts(L"\\\\?\\"))
        return !(path.size() > 6 && path[5] == L':' && path[6] == L'\\') &&
               path.compare(4, 4, L"UNC\\") != 0;
    std::vector<wchar_t> full(32768);
    const DWORD n =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size() || std::wcsncmp(full.data(), L"\\\\.\\", 4) == 0)
        return true;
    // The last part, without a drive, up to its first dot or colon and
    // without trailing blanks: "C:\x\Com1 .log" names COM1.
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    if (name.size() >= 2 && name[1] == L':')
        name.erase(0, 2);
    name = name.substr(0, name.find_first_of(L".:"));
    while (!name.empty() && name.back() == L' ')
        name.pop_back();
    for (wchar_t& c : name)
        c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kReserved[] = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                               L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* reserved : kReserved)
        if (name == reserved)
            return true;
    const std::wstring digits = L"0123456789\u00b9\u00b2\u00b3";
    return name.size() == 4 &&
           (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
           digits.find(name[3]) != std::wstring::npos;
}

} // namespace

bool FileExists(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data) && !IsFolder(data);
}

bool DirectoryExists(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data) && IsFolder(data);
}

bool PathExists(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data);
}

int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!Attributes(path, data) || IsFolder(data))
        return -1;
    return FileInfoFromRecord(data).size;
}

bool GetFileInfo(const std::string& path, FileInfo& info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!Attributes(path, data))
        return false;
    info = FileInfoFromRecord(data);
    return true;
}

bool GetFileIdentity(const std::string& path, FileIdentity& identity) {
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return false;
    // Attributes only, sharing everything: this works also on a file another
    // program holds open without sharing, and stands in nobody's way.
    ScopedHandle h(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.Valid() && FileIdentityOfHandle(h.Get(), identity);
}

bool DeleteFile(const std::string& path) {
    // Fails for a folder, a read-only file and a file another program holds
    // open without sharing deletion.
    auto wide = ToWide(path);
    return wide && !wide->empty() && ::DeleteFileW(wide->c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING an existing destination makes it
    // fail; without MOVEFILE_COPY_ALLOWED it stays a rename on one volume.
    auto wideFrom = ToWide(from);
    auto wideTo = ToWide(to);
    return wideFrom && wideTo && !wideFrom->empty() && !wideTo->empty() &&
           ::MoveFileExW(wideFrom->c_str(), wideTo->c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool CopyFile(const std::string& from, const std::string& to, bool overwrite) {
    auto wideFrom = ToWide(from);
    auto wideTo = ToWide(to);
    if (!wideFrom || !wideTo || wideFrom->empty() || wideTo->empty() || DirectoryExists(from))
        return false;
    // With fail-if-exists the check and the creation are one step: a file
    // that appears at the destination meanwhile is never overwritten.
    if (!::CopyFileW(wideFrom->c_str(), wideTo->c_str(), overwrite ? FALSE : TRUE))
        return false;
    if (!FlushToDisk(*wideTo)) {
        // Never leave a copy that looks complete but may not be on the disk.
        ::SetFileAttributesW(wideTo->c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(wideTo->c_str());
        return false;
    }
    return true;
}

bool CreateDir(const std::string& path) {
    auto wide = ToWide(path);
    return wide && !wide->empty() && ::CreateDirectoryW(wide->c_str(), nullptr) != 0;
}

// No modes here: the folder takes the rights its parent passes on.
bool CreatePrivateDir(const std::string& path) {
    return CreateDir(path);
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return false;
    // Every kind of sharing: reading Settings.ini or the journal never stands
    // in the way of another opener, as far as the system lets it.
    ScopedHandle h(::CreateFileW(wide->c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid())
        return false;
    std::vector<char> buf(65536);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h.Get(), buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr))
            return false;
        if (n == 0)
            return true;
        bytes.append(buf.data(), n);
    }
}

bool IsRegularFileOrMissing(const std::string& path) {
    auto wide = ToWide(path);
    if (!wide || wide->empty() || NamesDevice(*wide))
        return false;
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool AppendFileBytes(const std::string& path, const std::string& bytes, bool truncate) {
    // A device is never opened: opening COM1 or a pipe already acts on it,
    // and writing to one may wait for ever.
    if (!IsRegularFileOrMissing(path))
        return false;
    auto wide = ToWide(path);
    // FILE_APPEND_DATA alone: every write goes to the end of the file.
    ScopedHandle h(::CreateFileW(wide->c_str(), truncate ? GENERIC_WRITE : FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid())
        return false;
    // A name the check does not know may still have led to something else;
    // a file is emptied only once it is known to be a disk file.
    bool ok = ::GetFileType(h.Get()) == FILE_TYPE_DISK;
    ok = ok && (!truncate || ::SetEndOfFile(h.Get()) != 0);
    ok = ok && WriteAll(h.Get(), bytes);
    return h.Reset() && ok;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           unsigned /*newFileMode*/, bool /*ownerOnly*/) {
    // File modes have no meaning here: the new file gets the access rights
    // its folder passes on (the program's folder, the user's own profile).
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return false;
    const std::wstring target = FinalPath(*wide);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    // A folder is not replaced, nor a file its owner made read-only.
    if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return false;

    // A new file under a name nobody can guess, never one that is there.
    std::wstring tmp;
    HANDLE created = INVALID_HANDLE_VALUE;
    std::random_device random;
    for (int attempt = 0; attempt < 16 && created == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = target + L".tmp" + std::to_wstring(random()) + std::to_wstring(random());
        created = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    ScopedHandle h(created);
    if (!h.Valid())
        return false;
    bool ok = WriteAll(h.Get(), bytes) && ::FlushFileBuffers(h.Get()) != 0;
    ok = h.Reset() && ok;
    // Replacing takes the place of the old file in one step; a file another
    // program holds open without sharing deletion makes it fail, and the old
    // file stays whole. A file that appeared meanwhile is not replaced.
    ok =
        ok && ::MoveFileExW(tmp.c_str(), target.c_str(),
                            MOVEFILE_WRITE_THROUGH | (exists ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
    if (!ok)
        ::DeleteFileW(tmp.c_str());
    return ok;
}

bool RewriteFileInPlace(const std::string& path, const std::string& bytes) {
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return false;
    ScopedHandle h(::CreateFileW(wide->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid())
        return false;
    // The kept bytes go to the start first and the file is cut afterwards, so
    // a failed write never loses what lies beyond them.
    bool ok = WriteAll(h.Get(), bytes) && ::SetEndOfFile(h.Get()) != 0 &&
              ::FlushFileBuffers(h.Get()) != 0;
    return h.Reset() && ok;
}

} // namespace platform
