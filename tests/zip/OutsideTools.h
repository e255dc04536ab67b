// Checks an archive with ZIP tools nobody on this project wrote (Linux only:
// the Windows test programs run under Wine, which cannot hand a Linux
// tool's exit status back; there an archive of the Windows build is instead
// compared byte for byte with the Linux build's, see same_archive.sh).
#pragma once
#include <string>

namespace ziptest {

// Runs unzip -t, 7z t, Python's zipfile CRC test and ziptool's consistency
// check (stat and read of every entry). Returns "" when all of them accept
// the archive, else what failed with the tool's output. ziptool's consistency
// check also refuses two entries of the same name; without uniqueNames it
// runs without that check.
std::string OutsideToolFailures(const std::string& archive, unsigned entries,
                                bool uniqueNames = true);

// The "UT extra field modtime ... UTC" lines zipinfo -v prints, in entry order.
std::string ZipinfoVerbose(const std::string& archive);

} // namespace ziptest
