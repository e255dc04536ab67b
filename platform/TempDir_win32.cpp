// The folder for a run's temporary files on Windows: the one the system names
// for the user, inside the user's own profile, which other users cannot
// enter already.
#include "platform/Paths.h"
#include "platform/Wide_win32.h"

#include <vector>

namespace platform {

std::string TempDir() {
    // The folder Windows names for the user (TMP, TEMP, USERPROFILE, ...),
    // already with its trailing backslash.
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0)
            return std::string();
        if (n < buf.size())
            return IncludeTrailingSeparator(FromWide(buf.data(), n));
        buf.resize(n + 1);
    }
}

bool PrepareTempDir() {
    const std::string dir = TempDir();
    if (dir.empty())
        return false;
    auto wide = ToWide(dir);
    if (!wide)
        return false;
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return ::CreateDirectoryW(wide->c_str(), nullptr) != 0;
}

// The per-user folder below a shared root exists only on POSIX systems.
void SetTempRootOverride(const std::string&) {}

} // namespace platform
