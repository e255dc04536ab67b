// The folder for a run's temporary files on POSIX systems: $TMPDIR, or a
// folder below /tmp that only the user may enter.
#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::string& RootOverride() {
    static std::string root;
    return root;
}

// The fresh folder made in place of a refused one ("" when none is in use),
// and the folder refused by the last PrepareTempDir.
std::string& Fresh() {
    static std::string fresh;
    return fresh;
}

std::string& Refused() {
    static std::string refused;
    return refused;
}

bool TmpdirSet() {
    const char* env = std::getenv("TMPDIR");
    return env && *env;
}

std::string PrivateFolder() {
    const std::string root = RootOverride().empty() ? "/tmp" : RootOverride();
    return JoinPath(root, "roderuv-" + std::to_string(::geteuid()));
}

// The user's own folder, made when missing. Examined through a handle that
// cannot follow a link, so the folder checked is the folder used. Anyone else
// could have put files in a folder that is theirs or open to them: such a
// folder is not repaired (nor touched at all).
bool UsableAsPrivate(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
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

} // namespace

void SetTempRootOverride(const std::string& root) {
    RootOverride() = root;
}

std::string TempDir() {
    if (TmpdirSet())
        return IncludeTrailingSeparator(std::getenv("TMPDIR"));
    return IncludeTrailingSeparator(Fresh().empty() ? PrivateFolder() : Fresh());
}

bool PrepareTempDir() {
    ReleaseTempDir();
    Refused().clear();
    if (TmpdirSet())
        return true;
    const std::string dir = PrivateFolder();
    if (UsableAsPrivate(dir))
        return true;
    // Someone may have made the folder first to stop every run: it stays as
    // it is, and the run gets a folder nobody can have prepared (0700, a
    // name no one can guess) beside it.
    Refused() = dir;
    std::vector<char> name(dir.begin(), dir.end());
    for (char c : std::string("-XXXXXX"))
        name.push_back(c);
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        return false;
    Fresh() = name.data();
    return true;
}

std::string RefusedTempDir() {
    return Refused();
}

void ReleaseTempDir() {
    if (Fresh().empty())
        return;
    // Only this process has been able to enter the folder, so whatever is in
    // it is the run's own.
    const int fd = ::open(Fresh().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* dir = ::fdopendir(fd)) {
            std::vector<std::string> names;
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
            for (const std::string& name : names)
                if (::unlinkat(fd, name.c_str(), 0) != 0)
                    ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
            ::closedir(dir); // closes fd as well
        } else {
            ::close(fd);
        }
    }
    ::rmdir(Fresh().c_str());
    Fresh().clear();
}

} // namespace platform
