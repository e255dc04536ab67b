// The folder for a run's temporary files on Windows: the one the system names
// for the user, inside the user's own profile, which other users cannot
// enter already.
#include "platform/Paths.h"
#include "platform/Wide_win32.h"

namespace platform {

std::string TempDir() {
    // The folder Windows names for the user (TMP, TEMP, USERPROFILE, ...),
    // already with its trailing backslash.
    return IncludeTrailingSeparator(TextOfBufferCall(::GetTempPathW));
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

// The per-user folder below a shared root, and a fresh one in place of it,
// exist only on POSIX systems.
void SetTempRootOverride(const std::string&) {}

std::string RefusedTempDir() {
    return std::string();
}

void ReleaseTempDir() {}

} // namespace platform
