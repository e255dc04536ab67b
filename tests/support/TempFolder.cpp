#include "tests/support/TempFolder.h"
#include "tests/support/System.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

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

std::filesystem::path NativePath(const std::string& utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ListFolder(const std::string& path, char separator) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(path))) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names)
        out += name + separator;
    return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

} // namespace testsupport
