#include "platform/Process.h"
#include "platform/Wide_win32.h"
#include "platform/WindowsQuoting.h"

namespace platform {
namespace {

// The child's copy of one of our handles (inheritable), or the null device.
HANDLE InheritableCopy(DWORD which, HANDLE nullDevice) {
    HANDLE own = ::GetStdHandle(which);
    HANDLE copy = nullptr;
    if (own && own != INVALID_HANDLE_VALUE &&
        ::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE,
                          DUPLICATE_SAME_ACCESS))
        return copy;
    return nullDevice;
}

} // namespace

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         void (*idle)()) {
    ProcessResult result;
    auto wideProgram = ToWide(program);
    if (!wideProgram || wideProgram->empty())
        return result;
    // The program path is quoted whole (a path cannot hold a quote); the
    // system takes the program from lpApplicationName and never searches.
    std::wstring commandLine = L"\"" + *wideProgram + L"\"";
    for (const auto& arg : args) {
        auto wide = ToWide(arg);
        if (!wide)
            return result;
        commandLine += L" " + QuoteWindowsArgument(*wide);
    }

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ScopedHandle nullDevice(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!nullDevice.Valid())
        return result;
    // Output goes where ours goes (nowhere in a program without a console).
    ScopedHandle output(InheritableCopy(STD_OUTPUT_HANDLE, nullptr));
    ScopedHandle error(InheritableCopy(STD_ERROR_HANDLE, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullDevice.Get();
    startup.hStdOutput = output.Valid() ? output.Get() : nullDevice.Get();
    startup.hStdError = error.Valid() ? error.Get() : nullDevice.Get();
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!::CreateProcessW(wideProgram->c_str(), mutableLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                          &info))
        return result;
    result.started = true;
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    // Our copies of the child's handles are not needed while it runs.
    nullDevice.Reset();
    output.Reset();
    error.Reset();

    for (;;) {
        const DWORD waited = ::WaitForSingleObject(process.Get(), idle ? 50 : INFINITE);
        if (waited == WAIT_OBJECT_0)
            break;
        if (waited != WAIT_TIMEOUT)
            return result;
        idle();
    }
    DWORD code = 0;
    if (::GetExitCodeProcess(process.Get(), &code))
        result.exitCode = static_cast<int>(code);
    return result;
}

} // namespace platform
