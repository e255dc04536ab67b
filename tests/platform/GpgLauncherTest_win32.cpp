// The gpg.exe launcher started as the program starts it, with a stand-in for
// an installed GnuPG (fake-gpg.exe, which records what it was given) found
// through the registry, the standard install folders or PATH, and never in
// a folder that depends on where it was started. Both executables lie
// beside this test.
#include "platform/Paths.h"
#include "tests/support/System.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

using testsupport::NativePath;

namespace {

// From LauncherOnPath on nothing may run: a second installation's launcher
// is the only gpg.exe on PATH; a gpg.exe planted in a relative PATH entry,
// or in the folder the launcher is started in; none at all.
enum class Found { Registry64, Registry32, Standard, Path, LauncherOnPath, Relative, Cwd, Nowhere };

struct Row {
    const char* name;
    Found found;
    bool gnupgFolder; // a folder "gnupg" beside the launcher
    int gpgStatus;    // what the stand-in exits with
};
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// A path with blanks, quotes and a trailing backslash, an empty argument and
// backslashes before a quote, as written on the launcher's command line.
const char kCommandTail[] = R"(-r 5E2B7C19 -e "C:\Data dir\\\"x\" y\\" "" a\\\"b)";
const std::vector<std::string> kArguments = {"-r", "5E2B7C19", "-e", R"(C:\Data dir\"x" y\)",
                                             "",   R"(a\"b)"};

void SetInstallDirectory(REGSAM view, const std::string& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\GnuPG", 0, nullptr, 0,
                              KEY_SET_VALUE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring wide = NativePath(folder).wstring();
    if (folder.empty())
        RegDeleteValueW(key, L"Install Directory");
    else
        RegSetValueExW(key, L"Install Directory", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

class GpgLauncher : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        const std::string here = platform::ApplicationDir();
        for (const char* sub : {"app", "installed\\bin", "tools", "work"})
            std::filesystem::create_directories(NativePath(dir_ / sub));
        std::filesystem::copy_file(NativePath(here + "gpg-launcher.exe"),
                                   NativePath(dir_ / "app\\gpg.exe"));
        std::filesystem::copy_file(NativePath(here + "fake-gpg.exe"),
                                   NativePath(dir_ / "installed\\bin\\gpg.exe"));
        const bool launcher = GetParam().found == Found::LauncherOnPath;
        std::filesystem::copy_file(
            NativePath(here + (launcher ? "gpg-launcher.exe" : "fake-gpg.exe")),
            NativePath(dir_ / "tools\\gpg.exe"));
        // The standard folder is the system's own (Wine sets ProgramFiles
        // for each process itself), so the row cleans up after itself.
        const Found found = GetParam().found;
        if (found == Found::Standard)
            planted_ = std::string(getenv("ProgramFiles")) + "\\GnuPG\\bin\\gpg.exe";
        if (found == Found::Cwd)
            planted_ = dir_ / "work\\gpg.exe";
        if (!planted_.empty()) {
            std::filesystem::create_directories(NativePath(planted_).parent_path());
            std::filesystem::copy_file(NativePath(here + "fake-gpg.exe"), NativePath(planted_));
        }
    }
    void TearDown() override {
        SetInstallDirectory(KEY_WOW64_64KEY, "");
        SetInstallDirectory(KEY_WOW64_32KEY, "");
        // Wine's console host of the finished stand-in leaves its working
        // folder a moment later; until then the folder cannot go.
        std::error_code busy;
        if (!planted_.empty())
            std::filesystem::remove(NativePath(planted_), busy);
        if (GetParam().found == Found::Standard) // the GnuPG folder made for it
            std::filesystem::remove_all(NativePath(planted_).parent_path().parent_path(), busy);
        for (int i = 0; i < 100 && !std::filesystem::remove(NativePath(dir_ / "work"), busy); ++i)
            Sleep(20);
    }

    // Runs app\gpg.exe with kCommandTail and the given PATH, standard input
    // a pipe holding an answer; returns its exit status, its error output in
    // *errors.
    DWORD RunLauncher(const std::string& path, std::string* errors) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE inRead, inWrite, errRead, errWrite;
        CreatePipe(&inRead, &inWrite, &inherit, 0);
        CreatePipe(&errRead, &errWrite, &inherit, 0);
        DWORD n = 0;
        WriteFile(inWrite, "y\n", 2, &n, nullptr);
        CloseHandle(inWrite);
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = startup.hStdError = errWrite;
        const std::string oldPath = getenv("PATH");
        testsupport::SetEnvironment("PATH", path);
        testsupport::SetEnvironment("FAKE_GPG_RECORD", dir_ / "record.txt");
        testsupport::SetEnvironment("FAKE_GPG_EXIT", std::to_string(GetParam().gpgStatus));
        std::wstring line =
            NativePath("\"" + (dir_ / "app\\gpg.exe") + "\" " + kCommandTail).wstring();
        PROCESS_INFORMATION process{};
        const BOOL started =
            CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                           NativePath(dir_ / "work").c_str(), &startup, &process);
        testsupport::SetEnvironment("PATH", oldPath);
        CloseHandle(inRead);
        CloseHandle(errWrite);
        DWORD status = 9999;
        EXPECT_TRUE(started);
        if (started && WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &status);
        else if (started)
            TerminateProcess(process.hProcess, 9999);
        char buffer[4096];
        if (PeekNamedPipe(errRead, nullptr, 0, nullptr, &n, nullptr) && n > 0 &&
            ReadFile(errRead, buffer, sizeof(buffer), &n, nullptr))
            errors->assign(buffer, n);
        CloseHandle(errRead);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return status;
    }

    testsupport::TempFolder dir_;
    std::string planted_; // a gpg.exe put where the row says
};

TEST_P(GpgLauncher, RunsInstalledGnuPG) {
    const Row& row = GetParam();
    if (row.found == Found::Registry64)
        SetInstallDirectory(KEY_WOW64_64KEY, dir_ / "installed");
    if (row.found == Found::Registry32)
        SetInstallDirectory(KEY_WOW64_32KEY, dir_ / "installed");
    if (row.gnupgFolder)
        std::filesystem::create_directory(NativePath(dir_ / "app\\gnupg"));
    // The launcher's own folder comes first on PATH: it must pass over itself.
    std::string path = (dir_ / "app") + ";C:\\windows\\system32";
    if (row.found == Found::Path || row.found == Found::LauncherOnPath)
        path += ";" + (dir_ / "tools");
    if (row.found == Found::Relative)
        path += ";..\\tools;tools";
    if (row.found == Found::Cwd)
        path += ";.";

    std::string errors;
    const DWORD status = RunLauncher(path, &errors);

    if (row.found >= Found::LauncherOnPath) {
        EXPECT_EQ(status, 2u);
        EXPECT_FALSE(std::filesystem::exists(NativePath(dir_ / "record.txt")));
        EXPECT_NE(errors.find("install GnuPG for Windows"), std::string::npos) << errors;
        return;
    }
    EXPECT_EQ(status, static_cast<DWORD>(row.gpgStatus));
    std::string expected = "cwd=" + (dir_ / "work") + "\nstdin=null\n";
    for (const char* fixed : {"--batch", "--no-tty", "--yes", "--trust-model", "always"})
        expected += "arg=" + std::string(fixed) + "\n";
    if (row.gnupgFolder)
        expected += "arg=--homedir\narg=" + (dir_ / "app\\gnupg") + "\n";
    for (const std::string& arg : kArguments)
        expected += "arg=" + arg + "\n";
    EXPECT_EQ(testsupport::ReadBytes(dir_ / "record.txt"), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, GpgLauncher,
                         ::testing::Values(Row{"Registry", Found::Registry64, false, 0},
                                           Row{"RegistryWow6432Node", Found::Registry32, true, 7},
                                           Row{"StandardFolder", Found::Standard, false, 0},
                                           Row{"PathPastItself", Found::Path, true, 3},
                                           Row{"RelativePathEntry", Found::Relative, false, 0},
                                           Row{"CurrentFolder", Found::Cwd, false, 0},
                                           Row{"AnotherLauncherOnPath", Found::LauncherOnPath,
                                               false, 0},
                                           Row{"NotFound", Found::Nowhere, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
