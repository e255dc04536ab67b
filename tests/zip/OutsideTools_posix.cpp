#include "OutsideTools.h"
#include "ZipTestSupport.h"

#include "tests/support/Shell.h"
#include "tests/support/TempFolder.h"

namespace ziptest {

std::string OutsideToolFailures(const std::string& archive, unsigned entries, bool uniqueNames) {
    using testsupport::RunShell;
    const std::string a = testsupport::ShellQuote(archive);
    std::string failures, out;

    int rc = RunShell("unzip -t -q " + a + " 2>&1", &out);
    // unzip treats an archive without entries as a warning (status 1).
    const bool emptyOk =
        entries == 0 && rc == 1 && out.find("zipfile is empty") != std::string::npos;
    if (rc != 0 && !emptyOk)
        failures += "unzip -t: " + out + "\n";

    if (RunShell("7z t " + a + " 2>&1", &out) != 0 ||
        out.find("Everything is Ok") == std::string::npos)
        failures += "7z t: " + out + "\n";

    if (RunShell("/usr/bin/python3 -c 'import sys, zipfile\n"
                 "z = zipfile.ZipFile(sys.argv[1])\n"
                 "bad = z.testzip()\n"
                 "n = len(z.infolist())\n"
                 "sys.exit(0 if bad is None and n == int(sys.argv[2]) else 1)' " +
                     a + " " + std::to_string(entries) + " 2>&1",
                 &out) != 0)
        failures += "python zipfile: " + out + "\n";

    std::string command =
        std::string(uniqueNames ? "ziptool -c " : "ziptool ") + a + " get_num_entries 0";
    for (unsigned i = 0; i < entries && i < 64; ++i)
        command += " stat " + std::to_string(i) + " cat " + std::to_string(i);
    if (RunShell(command + " 2>&1 >/dev/null", &out) != 0 || !out.empty())
        failures += "ziptool: " + out + "\n";
    return failures;
}

std::string ZipinfoVerbose(const std::string& archive) {
    std::string out;
    testsupport::RunShell("zipinfo -v " + testsupport::ShellQuote(archive) + " 2>&1", &out);
    return out;
}

::testing::AssertionResult PassesEverything(const std::string& path, Archive& archive,
                                            bool uniqueNames) {
    auto result = WellFormed(path, archive);
    if (!result)
        return result;
    const std::string failures = OutsideToolFailures(path, archive.end.entriesTotal, uniqueNames);
    if (!failures.empty())
        return ::testing::AssertionFailure() << failures;
    return ::testing::AssertionSuccess();
}

} // namespace ziptest
