// gpg.exe on Windows: runs the GnuPG for Windows that the user installed,
// in batch mode and without a window, with the arguments it was given.
//
// The program runs "gpg.exe -r <key> -e <file>" from its own folder; this
// launcher stands there in place of GnuPG itself, so GnuPG is installed once
// by its own installer and the registry's key lives in "gnupg" beside us.
// Batch mode, no terminal and standard input from the null device mean that
// an unattended run can never wait for an answer: a question gpg would ask
// becomes a failure instead.
#include "platform/WindowsQuoting.h"

#include <windows.h>

#include <string>

namespace {

// Exit status when no GnuPG can be run (gpg's own status for a fatal error).
constexpr int kExitFailed = 2;

// Set for the gpg we start: a launcher that finds it already set was started
// by another launcher (two installations on PATH) and must not go round again.
constexpr wchar_t kNestedMark[] = L"RODERUV_GPG_LAUNCHER";

void ReportError(const std::string& line) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE)
        return;
    const std::string text = "gpg.exe (RODERUV): " + line + "\r\n";
    DWORD written = 0;
    WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0 || path.size() > 32768)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/')
        return folder + name;
    return folder + L'\\' + name;
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The absolute path with short (8.3) parts written out, so that two names of
// one file compare equal.
std::wstring FullLongPath(const std::wstring& path) {
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size())
        return path;
    full.resize(n);
    std::wstring longer(GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
    n = GetLongPathNameW(full.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
    if (n == 0 || n >= longer.size())
        return full;
    longer.resize(n);
    return longer;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The folder GnuPG's installer records, in one view of the registry (a
// 32-bit GnuPG on 64-bit Windows writes under WOW6432Node).
std::wstring RegisteredInstallFolder(REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\GnuPG", 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS)
        return {};
    std::wstring folder;
    DWORD bytes = 0;
    // RRF_RT_REG_SZ also accepts REG_EXPAND_SZ and expands it.
    if (RegGetValueW(key, nullptr, L"Install Directory", RRF_RT_REG_SZ, nullptr, nullptr, &bytes) ==
            ERROR_SUCCESS &&
        bytes > 0) {
        folder.resize(bytes / sizeof(wchar_t));
        if (RegGetValueW(key, nullptr, L"Install Directory", RRF_RT_REG_SZ, nullptr, folder.data(),
                         &bytes) == ERROR_SUCCESS)
            folder.resize(wcsnlen(folder.c_str(), folder.size()));
        else
            folder.clear();
    }
    RegCloseKey(key);
    return folder;
}

std::wstring Environment(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    DWORD n = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(n < size ? n : 0);
    return value;
}

// A folder named from a drive's root or a share: never one that depends on
// the current folder ("tools", ".", "C:tools", "\tools").
bool IsAbsoluteFolder(const std::wstring& folder) {
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (folder.size() >= 3 && folder[1] == L':' && separator(folder[2]))
        return (folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z');
    return folder.size() >= 3 && separator(folder[0]) && separator(folder[1]);
}

// A gpg.exe in that absolute folder that is not this launcher, by its full
// long path.
std::wstring UsableGpg(const std::wstring& folder, const std::wstring& self) {
    if (!IsAbsoluteFolder(folder))
        return {};
    const std::wstring candidate = FullLongPath(Join(folder, L"gpg.exe"));
    return IsFile(candidate) && !SamePath(candidate, self) ? candidate : std::wstring();
}

// The first gpg.exe in the absolute folders of PATH other than this
// launcher (whose folder may well be on PATH, since it bears the same name).
// Relative entries are passed over: they would take the folder the program
// happens to be started in, where anyone may have put a gpg.exe.
std::wstring GpgOnPath(const std::wstring& self) {
    const std::wstring path = Environment(L"PATH");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos)
            end = path.size();
        std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
            folder = folder.substr(1, folder.size() - 2);
        const std::wstring gpg = UsableGpg(folder, self);
        if (!gpg.empty())
            return gpg;
    }
    return {};
}

// Where GnuPG's installer and Gpg4win's put gpg.exe: GnuPG 2 in
// GnuPG\bin, Gpg4win 2 in GNU\GnuPG\pub, in either Program Files folder.
std::wstring GpgInStandardFolders(const std::wstring& self) {
    for (const wchar_t* root : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
        const std::wstring folder = Environment(root);
        for (const wchar_t* sub : {L"GnuPG\\bin", L"Gpg4win\\bin", L"GNU\\GnuPG\\pub"}) {
            const std::wstring gpg = UsableGpg(Join(folder, sub), self);
            if (!gpg.empty())
                return gpg;
        }
    }
    return {};
}

// The installed GnuPG: the registry first, then the standard folders, then
// PATH's absolute folders.
std::wstring FindGnuPG(const std::wstring& self) {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        const std::wstring gpg = UsableGpg(Join(RegisteredInstallFolder(view), L"bin"), self);
        if (!gpg.empty())
            return gpg;
    }
    const std::wstring standard = GpgInStandardFolders(self);
    return standard.empty() ? GpgOnPath(self) : standard;
}

// A handle the child can inherit: a copy of ours, or the null device when we
// have none (a program without a console started without handles).
HANDLE InheritableCopy(DWORD which) {
    HANDLE own = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (own != nullptr && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS))
        return copy;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

int Run(const std::wstring& gpg, const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE output = InheritableCopy(STD_OUTPUT_HANDLE);
    HANDLE error = InheritableCopy(STD_ERROR_HANDLE);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;
    SetEnvironmentVariableW(kNestedMark, L"1");
    const BOOL started = CreateProcessW(gpg.c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    for (HANDLE h : {input, output, error})
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    if (!started) {
        ReportError("GnuPG could not be started (Windows error " + std::to_string(startError) +
                    ")");
        return kExitFailed;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = kExitFailed;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (!Environment(kNestedMark).empty()) {
        ReportError(
            "started by another gpg.exe launcher instead of GnuPG; install GnuPG for Windows");
        return kExitFailed;
    }
    const std::wstring own = OwnPath();
    if (own.empty()) {
        // Without our own folder neither gnupg\ nor ourselves could be told.
        ReportError("cannot name its own folder");
        return kExitFailed;
    }
    const std::wstring self = FullLongPath(own);
    const std::wstring gpg = FindGnuPG(self);
    if (gpg.empty()) {
        ReportError("GnuPG for Windows was not found (not under \"Install Directory\" of "
                    "HKLM\\SOFTWARE\\GnuPG, not in Program Files\\GnuPG\\bin, not in an "
                    "absolute folder on PATH); install GnuPG for Windows");
        return kExitFailed;
    }

    // The program path cannot hold a quote, so plain enclosing quotes do.
    std::wstring line = L"\"" + gpg + L"\" --batch --no-tty --yes --trust-model always";
    const std::wstring home = Join(FolderOf(self), L"gnupg");
    if (IsFolder(home))
        line += L" --homedir " + platform::QuoteWindowsArgument(home);
    for (int i = 1; i < argc; ++i)
        line += L" " + platform::QuoteWindowsArgument(argv[i]);
    return Run(gpg, line);
}
