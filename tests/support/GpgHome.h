// Real GnuPG for tests: a throwaway key pair in a temporary GnuPG home, and
// application folders set up so that the program's gpg.exe encrypts for it.
//
//   testsupport::GpgHome gpg;                 // makes the key (well under 1 s)
//   gpg.SetUpApplicationFolder(appDir);       // appDir/gnupg + appDir/gpg.exe
//   ... run the program's code with ApplicationDir() == appDir ...
//   gpg.Decrypt(appTemp + "/20260305.zip.gpg", out);   // with the secret key
//
// SetUpApplicationFolder gives appDir a GnuPG home "gnupg" holding only the
// public key, with "trust-model always" and "group <recipient> = <fingerprint>"
// in its gpg.conf so the identifier built into the program (kGpgRecipientKey,
// default 5E2B7C19) resolves to the test key, and copies the launcher
// (platform/gpg-launcher.sh) there as an executable gpg.exe.
//
// The destructor ends the GnuPG agents of the test home and of every
// application home it set up (gpgconf --kill all), then removes the test
// home. Declare the GpgHome AFTER the TempFolder that holds the application
// folder, so it is destroyed first (agents end before their folder goes).
// Every gpg run here is batch mode with standard input from /dev/null, so
// nothing can wait for a terminal. Construction throws std::runtime_error
// when gpg is missing or the key cannot be made.
#pragma once
#include "tests/support/TempFolder.h"

#include <string>
#include <vector>

namespace testsupport {

class GpgHome {
public:
    GpgHome();
    ~GpgHome();
    GpgHome(const GpgHome&) = delete;
    GpgHome& operator=(const GpgHome&) = delete;

    // The temporary GnuPG home with the secret key.
    const std::string& Home() const { return home_.Path(); }
    // Fingerprint of the primary key (40 upper-case hex digits).
    const std::string& Fingerprint() const { return fingerprint_; }
    // The public key, ASCII-armoured.
    std::string PublicKeyArmored() const;

    // The launcher the build installs as gpg.exe (source tree copy).
    static std::string LauncherSource();

    // Makes appDir/gnupg as described above and copies the launcher there as
    // gpg.exe (skipped when launcher is empty). appDir must exist.
    void SetUpApplicationFolder(const std::string& appDir,
                                const std::string& recipient = "5E2B7C19",
                                const std::string& launcher = LauncherSource());

    // Decrypts encrypted into output with the secret key; false when gpg
    // fails (output may then be missing). gpg's messages go to *log if given.
    bool Decrypt(const std::string& encrypted, const std::string& output,
                 std::string* log = nullptr) const;

    // Runs gpg with this home and the given (already shell-quoted) argument
    // text; returns the exit status. For checks the helpers above lack.
    int RunGpg(const std::string& quotedArgs, std::string* output = nullptr) const;

private:
    TempFolder home_;
    std::string fingerprint_;
    std::vector<std::string> appHomes_; // application homes to stop agents in
};

} // namespace testsupport
