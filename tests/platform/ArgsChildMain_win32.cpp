#include "ArgsChild.h"

#include "tests/support/Files.h"

#include <windows.h>

#include <cstdint>

bool HandleRefersTo(const std::string& handle, const std::string& path) {
    HANDLE file = CreateFileW(testsupport::NativePath(path).c_str(), 0, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same =
        GetFileInformationByHandle(reinterpret_cast<HANDLE>(std::stoll(handle)), &a) &&
        GetFileInformationByHandle(file, &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
        a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(file);
    return same;
}

// The arguments as the C runtime split the command line, in UTF-16, turned
// into UTF-8 so that no letter is lost to the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(arg);
    }
    return RunArgsChild(args);
}
