// A stand-in for an installed gpg.exe in the launcher's tests and the
// program's whole runs: writes what it was given into the file named by
// FAKE_GPG_RECORD and exits with the status in FAKE_GPG_EXIT. With
// FAKE_GPG_ENCRYPT set it "encrypts" the last argument by copying it to the
// same name with ".gpg" added, replacing any file there as gpg --yes does.
// With "--version" last (the GnuPG check) it does neither. It writes
// FAKE_GPG_STDERR to standard error, with FAKE_GPG_CHILD set starts a copy
// of itself that sleeps a minute, and sleeps FAKE_GPG_SLEEP ms before it ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// The null device: a character device that is no console and reads as empty.
bool InputIsNullDevice() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0, got = 1;
    char byte = 0;
    return GetFileType(in) == FILE_TYPE_CHAR && !GetConsoleMode(in, &mode) &&
           ReadFile(in, &byte, 1, &got, nullptr) && got == 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (_wgetenv(L"FAKE_GPG_CHILD") != nullptr) {
        wchar_t self[MAX_PATH * 4];
        GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
        std::wstring line = L"\"" + std::wstring(self) + L"\" --version";
        SetEnvironmentVariableW(L"FAKE_GPG_CHILD", nullptr);
        SetEnvironmentVariableW(L"FAKE_GPG_SLEEP", L"60000");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &child))
            return 97;
    }
    if (const wchar_t* text = _wgetenv(L"FAKE_GPG_STDERR"))
        std::fprintf(stderr, "%s\n", Utf8(text).c_str());
    if (const wchar_t* ms = _wgetenv(L"FAKE_GPG_SLEEP"))
        Sleep(static_cast<DWORD>(_wtoi(ms)));
    const wchar_t* status = _wgetenv(L"FAKE_GPG_EXIT");
    if (std::wstring(argv[argc - 1]) == L"--version")
        return status ? _wtoi(status) : 0;
    const wchar_t* record = _wgetenv(L"FAKE_GPG_RECORD");
    if (record == nullptr)
        return 99;
    FILE* out = _wfopen(record, L"wb");
    if (out == nullptr)
        return 98;
    wchar_t cwd[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, cwd);
    std::fprintf(out, "cwd=%s\n", Utf8(cwd).c_str());
    std::fprintf(out, "stdin=%s\n", InputIsNullDevice() ? "null" : "other");
    for (int i = 1; i < argc; ++i)
        std::fprintf(out, "arg=%s\n", Utf8(argv[i]).c_str());
    std::fclose(out);
    if (_wgetenv(L"FAKE_GPG_ENCRYPT") != nullptr && argc > 1) {
        const std::wstring input = argv[argc - 1];
        if (!CopyFileW(input.c_str(), (input + L".gpg").c_str(), FALSE))
            return 2;
    }
    return status ? _wtoi(status) : 0;
}
