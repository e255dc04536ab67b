// The gpg.exe launcher started as the program starts it, with a stand-in for
// an installed GnuPG (fake-gpg.exe, which records what it was given) found
// through the registry or PATH. Both executables lie beside this test.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// LauncherOnPath: a second installation's launcher is the only gpg.exe on PATH.
enum class Found { Registry64, Registry32, Path, LauncherOnPath, Nowhere };

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
const wchar_t kCommandTail[] = LR"(-r 5E2B7C19 -e "C:\Data dir\\\"x\" y\\" "" a\\\"b)";
const std::vector<std::string> kArguments = {"-r", "5E2B7C19", "-e", R"(C:\Data dir\"x" y\)",
                                             "",   R"(a\"b)"};

fs::path TestDir() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path();
}

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void SetInstallDirectory(REGSAM view, const fs::path* folder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\GnuPG", 0, nullptr, 0,
                              KEY_SET_VALUE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (folder) {
        const std::wstring text = folder->wstring();
        RegSetValueExW(key, L"Install Directory", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, L"Install Directory");
    }
    RegCloseKey(key);
}

class GpgLauncher : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("launcher-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(root_);
        for (const char* sub : {"app", "installed\\bin", "tools", "work"})
            fs::create_directories(root_ / sub);
        fs::copy_file(TestDir() / "gpg-launcher.exe", root_ / "app\\gpg.exe");
        fs::copy_file(TestDir() / "fake-gpg.exe", root_ / "installed\\bin\\gpg.exe");
        fs::copy_file(TestDir() / "fake-gpg.exe", root_ / "tools\\gpg.exe");
    }
    void TearDown() override {
        SetInstallDirectory(KEY_WOW64_64KEY, nullptr);
        SetInstallDirectory(KEY_WOW64_32KEY, nullptr);
        // Wine's console host of the finished stand-in lets go of the
        // inherited files a moment later.
        std::error_code failed;
        for (int i = 0; i < 100 && (fs::remove_all(root_, failed), failed); ++i)
            Sleep(20);
    }

    // Runs app\gpg.exe with kCommandTail as a GUI program starts it, standard
    // input from a file holding an answer; returns its exit status.
    DWORD RunLauncher(const std::wstring& path) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        std::ofstream(root_ / "answer.txt") << "y\n";
        HANDLE in = CreateFileW((root_ / "answer.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                &inherit, OPEN_EXISTING, 0, nullptr);
        HANDLE err = CreateFileW((root_ / "stderr.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = err;
        startup.hStdError = err;
        SetEnvironmentVariableW(L"PATH", path.c_str());
        SetEnvironmentVariableW(L"FAKE_GPG_RECORD", (root_ / "record.txt").c_str());
        SetEnvironmentVariableW(L"FAKE_GPG_EXIT", std::to_wstring(GetParam().gpgStatus).c_str());
        std::wstring line = L"\"" + (root_ / "app\\gpg.exe").wstring() + L"\" " + kCommandTail;
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0,
                                            nullptr, (root_ / "work").c_str(), &startup, &process);
        SetEnvironmentVariableW(L"PATH", path_.c_str());
        CloseHandle(in);
        CloseHandle(err);
        EXPECT_TRUE(started);
        if (!started)
            return 9999;
        DWORD status = 9999;
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &status);
        else
            TerminateProcess(process.hProcess, 9999);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return status;
    }

    fs::path root_;
    std::wstring path_ = _wgetenv(L"PATH");
};

TEST_P(GpgLauncher, RunsInstalledGnuPG) {
    const Row& row = GetParam();
    const fs::path installed = root_ / "installed";
    if (row.found == Found::Registry64)
        SetInstallDirectory(KEY_WOW64_64KEY, &installed);
    if (row.found == Found::Registry32)
        SetInstallDirectory(KEY_WOW64_32KEY, &installed);
    if (row.gnupgFolder)
        fs::create_directory(root_ / "app\\gnupg");
    // The launcher's own folder comes first on PATH: it must pass over itself.
    std::wstring path = (root_ / "app").wstring() + L";C:\\windows\\system32";
    if (row.found == Found::LauncherOnPath)
        fs::copy_file(TestDir() / "gpg-launcher.exe", root_ / "tools\\gpg.exe",
                      fs::copy_options::overwrite_existing);
    if (row.found == Found::Path || row.found == Found::LauncherOnPath)
        path += L";" + (root_ / "tools").wstring();

    const DWORD status = RunLauncher(path);

    if (row.found == Found::Nowhere || row.found == Found::LauncherOnPath) {
        EXPECT_EQ(status, 2u);
        EXPECT_FALSE(fs::exists(root_ / "record.txt"));
        EXPECT_NE(Slurp(root_ / "stderr.txt").find("install GnuPG for Windows"), std::string::npos);
        return;
    }
    EXPECT_EQ(status, static_cast<DWORD>(row.gpgStatus));
    std::string expected = "cwd=" + (root_ / "work").string() + "\nstdin=null\n";
    for (const char* fixed : {"--batch", "--no-tty", "--yes", "--trust-model", "always"})
        expected += "arg=" + std::string(fixed) + "\n";
    if (row.gnupgFolder)
        expected += "arg=--homedir\narg=" + (root_ / "app\\gnupg").string() + "\n";
    for (const std::string& arg : kArguments)
        expected += "arg=" + arg + "\n";
    EXPECT_EQ(Slurp(root_ / "record.txt"), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, GpgLauncher,
                         ::testing::Values(Row{"Registry", Found::Registry64, false, 0},
                                           Row{"RegistryWow6432Node", Found::Registry32, true, 7},
                                           Row{"PathPastItself", Found::Path, true, 3},
                                           Row{"AnotherLauncherOnPath", Found::LauncherOnPath,
                                               false, 0},
                                           Row{"NotFound", Found::Nowhere, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
