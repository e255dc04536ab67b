// The folder for a run's temporary files on POSIX systems: $TMPDIR, or a
// folder below /tmp that only the user may enter.
#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string& RootOverride() {
    static std::string root;
    return root;
}

bool TmpdirSet() {
    const char* env = std::getenv("TMPDIR");
    return env && *env;
}

std::string PrivateFolder() {
    const std::string root = RootOverride().empty() ? "/tmp" : RootOverride();
    return JoinPath(root, "roderuv-" + std::to_string(::geteuid()));
}

} // namespace

void SetTempRootOverride(const std::string& root) {
    RootOverride() = root;
}

std::string TempDir() {
    if (TmpdirSet())
        return IncludeTrailingSeparator(std::getenv("TMPDIR"));
    return IncludeTrailingSeparator(PrivateFolder());
}

bool PrepareTempDir() {
    if (TmpdirSet())
        return true;
    const std::string dir = PrivateFolder();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Examined through a handle that cannot follow a link, so the folder
    // checked is the folder used. Anyone else could have put files in a
    // folder that is theirs or open to them: such a folder is not repaired
    // but refused, and the run does not go elsewhere.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
              (st.st_mode & 077) == 0;
    // A restrictive umask may have left the new folder without write access.
    if (ok && (st.st_mode & 0700) != 0700)
        ok = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return ok;
}

} // namespace platform
