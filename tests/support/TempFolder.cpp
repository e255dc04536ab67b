#include "tests/support/TempFolder.h"
#include "tests/support/Files.h"
#include "tests/support/System.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace testsupport {

TempFolder::TempFolder() {
    static std::mt19937 names(std::random_device{}());
    const std::string base = SystemTempRoot();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            platform::JoinPath(base, "roderuv-test-" + std::to_string(names()));
        if (platform::CreateDir(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder in " + base);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    const std::filesystem::path root = NativePath(path_);
    // Restore write permission on anything a test locked, then remove it all.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(root, ec);
}

std::string TempFolder::operator/(const std::string& name) const {
    return platform::JoinPath(path_, name);
}

} // namespace testsupport
