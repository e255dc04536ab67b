#include "platform/Paths.h"
#include "tests/support/System.h"

#include <cstdlib>
#include <stdexcept>
#include <windows.h>

namespace testsupport {
namespace {

std::wstring Wide(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

FILETIME FromUnix(int64_t seconds, int64_t nsec = 0) {
    const uint64_t ticks =
        static_cast<uint64_t>((seconds + 11644473600LL) * 10000000LL + nsec / 100);
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

} // namespace

bool OnWindows() {
    return true;
}

void SetFileTimes(const std::string& path, int64_t accessed, int64_t modified,
                  int64_t modifiedNsec) {
    HANDLE h =
        CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path + " to set its times");
    const FILETIME access = FromUnix(accessed), write = FromUnix(modified, modifiedNsec);
    const bool ok = SetFileTime(h, nullptr, &access, &write) != 0;
    CloseHandle(h);
    if (!ok)
        throw std::runtime_error("SetFileTime failed on " + path);
}

std::string SystemTempRoot() {
    return platform::TempDir();
}

void SetEnvironment(const char* name, const std::string& value) {
    // Windows keeps no empty variables: an empty value removes it.
    _wputenv_s(Wide(name).c_str(), Wide(value).c_str());
}

void UnsetEnvironment(const char* name) {
    _wputenv_s(Wide(name).c_str(), L"");
}

void SetReadOnly(const std::string& path, bool readOnly) {
    const std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("no file at " + path);
    attributes =
        readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!SetFileAttributesW(wide.c_str(), attributes))
        throw std::runtime_error("SetFileAttributes failed on " + path);
}

std::string OpenInheritable(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inherit, OPEN_EXISTING, 0, nullptr);
    return std::to_string(reinterpret_cast<intptr_t>(file));
}

bool StartLinuxProgram(const std::vector<std::string>& argv) {
    std::wstring line;
    for (size_t i = 0; i < argv.size(); ++i) {
        std::wstring arg = Wide(argv[i]);
        if (i == 0) {
            for (auto& c : arg)
                if (c == L'/')
                    c = L'\\';
            arg = L"Z:" + arg;
        }
        line += (i ? L" \"" : L"\"") + arg + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace testsupport
