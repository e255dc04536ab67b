// The sign is a mutex named after the program's folder, "RODERUV-" and the
// CRC-32 (8 upper-case hexadecimal digits) of the folder's UTF-16 bytes:
// full, with long names, upper-case, without a trailing backslash. The
// installer computes the same name for the folder it installs into.
// It exists twice: in the session's namespace ("Local\"), and in the
// machine's ("Global\"), where an installer sees a run that Task Scheduler
// started in another session (a task run whether the user is logged on or
// not).
#include "platform/RunningProgram.h"
#include "platform/Wide_win32.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {
namespace {

// The folder of the running executable, with its final backslash ("C:\" for
// a drive's root, which GetFullPathNameW would otherwise take for the
// drive's current folder).
std::wstring OwnFolder() {
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return {};
        if (n < buf.size()) {
            std::wstring path(buf.data(), n);
            const size_t cut = path.find_last_of(L'\\');
            return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
        }
        if (buf.size() >= 32768)
            return {};
        buf.resize(buf.size() * 2);
    }
}

// One spelling per folder, as the installer spells the same folder.
std::wstring CanonicalFolder(const std::wstring& folder) {
    std::wstring full(::GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr), L'\0');
    DWORD n =
        ::GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full = n > 0 && n < full.size() ? full.substr(0, n) : folder;
    std::wstring longer(::GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
    n = ::GetLongPathNameW(full.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
    if (n > 0 && n < longer.size())
        full = longer.substr(0, n);
    if (!full.empty() && full.back() == L'\\')
        full.pop_back();
    ::CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    return full;
}

// CRC-32 (IEEE 802.3, as zlib's and the system's RtlComputeCrc32).
uint32_t Crc32(const unsigned char* bytes, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

void AnnounceRunningProgram() {
    const std::wstring folder = OwnFolder();
    if (folder.empty())
        return;
    const std::wstring canonical = CanonicalFolder(folder);
    std::vector<unsigned char> bytes;
    for (wchar_t c : canonical) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>(c >> 8));
    }
    wchar_t hex[9];
    std::swprintf(hex, 9, L"%08X", static_cast<unsigned>(Crc32(bytes.data(), bytes.size())));
    // The handles stay open until the process ends; a name another user's
    // program already holds cannot be opened, and that program's sign serves.
    for (const wchar_t* space : {L"Local\\", L"Global\\"})
        ::CreateMutexW(nullptr, FALSE, (std::wstring(space) + L"RODERUV-" + hex).c_str());
}

} // namespace platform
