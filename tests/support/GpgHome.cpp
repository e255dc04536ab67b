#include "tests/support/GpgHome.h"

#include "tests/support/Files.h"
#include "tests/support/Shell.h"

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

#ifndef RODERUV_GPG_LAUNCHER_SOURCE
#error "RODERUV_GPG_LAUNCHER_SOURCE must name platform/gpg-launcher.sh"
#endif

namespace testsupport {

namespace {

// Fingerprint of the first primary key in `gpg --with-colons` output.
std::string FirstFingerprint(const std::string& listing) {
    bool afterPrimary = false;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        const std::string line = listing.substr(start, end - start);
        if (line.rfind("pub:", 0) == 0 || line.rfind("sec:", 0) == 0) {
            afterPrimary = true;
        } else if (afterPrimary && line.rfind("fpr:", 0) == 0) {
            // fpr:::::::::<fingerprint>:
            const std::size_t last = line.find_last_of(':', line.size() - 2);
            std::string fpr = line.substr(last + 1);
            if (!fpr.empty() && fpr.back() == ':')
                fpr.pop_back();
            return fpr;
        }
        start = end + 1;
    }
    return {};
}

void KillAgents(const std::string& home) {
    RunShell("gpgconf --homedir " + ShellQuote(home) + " --kill all >/dev/null 2>&1");
}

} // namespace

GpgHome::GpgHome() {
    ::chmod(home_.Path().c_str(), 0700); // gpg warns about a home others can read
    std::string log;
    if (RunGpg("--passphrase '' --quick-gen-key 'Test <test@example.invalid>' "
               "future-default default never 2>&1",
               &log) != 0)
        throw std::runtime_error("gpg cannot make a test key: " + log);
    std::string listing;
    RunGpg("--with-colons --fingerprint --list-secret-keys 2>/dev/null", &listing);
    fingerprint_ = FirstFingerprint(listing);
    if (fingerprint_.size() != 40)
        throw std::runtime_error("no fingerprint in: " + listing);
}

GpgHome::~GpgHome() {
    for (const auto& home : appHomes_)
        KillAgents(home);
    KillAgents(home_.Path());
}

int GpgHome::RunGpg(const std::string& quotedArgs, std::string* output) const {
    return RunShell("gpg --homedir " + ShellQuote(home_.Path()) + " --batch --no-tty " +
                        quotedArgs + " </dev/null",
                    output);
}

std::string GpgHome::PublicKeyArmored() const {
    std::string key;
    RunGpg("--armor --export " + fingerprint_ + " 2>/dev/null", &key);
    return key;
}

std::string GpgHome::LauncherSource() {
    return RODERUV_GPG_LAUNCHER_SOURCE;
}

void GpgHome::SetUpApplicationFolder(const std::string& appDir, const std::string& recipient,
                                     const std::string& launcher) {
    namespace fs = std::filesystem;
    const std::string appHome = appDir + "/gnupg";
    fs::create_directories(appHome);
    fs::permissions(appHome, fs::perms::owner_all, fs::perm_options::replace);
    appHomes_.push_back(appHome);

    const std::string keyFile = appHome + "/registry-key.asc";
    WriteBytes(keyFile, PublicKeyArmored());
    std::string log;
    if (RunShell("gpg --homedir " + ShellQuote(appHome) + " --batch --no-tty --import " +
                     ShellQuote(keyFile) + " </dev/null 2>&1",
                 &log) != 0)
        throw std::runtime_error("gpg cannot import the test key: " + log);
    fs::remove(keyFile);
    WriteBytes(appHome + "/gpg.conf",
               "trust-model always\ngroup " + recipient + " = " + fingerprint_ + "\n");

    if (!launcher.empty()) {
        const std::string target = appDir + "/gpg.exe";
        fs::copy_file(launcher, target, fs::copy_options::overwrite_existing);
        fs::permissions(target,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::replace);
    }
}

bool GpgHome::Decrypt(const std::string& encrypted, const std::string& output,
                      std::string* log) const {
    return RunGpg("--yes --pinentry-mode loopback --passphrase '' --output " + ShellQuote(output) +
                      " --decrypt " + ShellQuote(encrypted) + " 2>&1",
                  log) == 0;
}

} // namespace testsupport
