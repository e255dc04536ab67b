#include "platform/AbruptEnd.h"
#include "platform/ErrorTail.h"
#include "platform/Process.h"
#include "platform/Wide_win32.h"
#include "platform/WindowsQuoting.h"

#include <algorithm>
#include <memory>

namespace platform {
namespace {

// Between two calls of the idle hook while no window message arrives.
constexpr DWORD kPumpMs = 50;
// Room in the error pipe, so that a chatty program never waits for us.
constexpr DWORD kPipeBytes = 64 * 1024;

// Bytes of a program that did not write UTF-8: console programs write in
// the console's code page, which is the OEM code page without a console.
std::string FromConsoleCodePage(const std::string& bytes) {
    if (bytes.empty())
        return bytes;
    const UINT codePage = ::GetConsoleOutputCP() != 0 ? ::GetConsoleOutputCP() : ::GetOEMCP();
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n <= 0 || ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        wide.data(), n) != n) {
        std::string ascii = bytes;
        for (char& c : ascii)
            if (static_cast<unsigned char>(c) >= 0x80)
                c = '?';
        return ascii;
    }
    return FromWide(wide);
}

// The handles the child may inherit, and only those: without such a list a
// child inherits every inheritable handle of this process.
class HandleList {
public:
    explicit HandleList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.reset(new char[size]);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
        if (::InitializeProcThreadAttributeList(list, 1, 0, &size) &&
            ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                        handles_.size() * sizeof(HANDLE), nullptr, nullptr))
            list_ = list;
    }
    ~HandleList() {
        if (list_)
            ::DeleteProcThreadAttributeList(list_);
    }
    HandleList(const HandleList&) = delete;
    HandleList& operator=(const HandleList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

private:
    std::vector<HANDLE> handles_; // the list points into this
    std::unique_ptr<char[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A job that ends every process in it when it is closed (also when this
// program dies), so nothing the child started can outlive the wait.
HANDLE MakeJob() {
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr)
        return INVALID_HANDLE_VALUE;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
        ::CloseHandle(job);
        return INVALID_HANDLE_VALUE;
    }
    return job;
}

// Takes what the pipe holds now, without waiting (an anonymous pipe cannot
// be waited on; the loop comes by often enough).
void ReadAvailable(HANDLE pipe, ErrorTail& tail) {
    char buffer[4096];
    DWORD available = 0;
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!::ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) ||
            got == 0)
            return;
        tail.Add(buffer, got);
    }
}

} // namespace

ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
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
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (options.errorTail > 0 && ::CreatePipe(&readEnd, &writeEnd, &inherit, kPipeBytes))
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    ScopedHandle errorRead(readEnd ? readEnd : INVALID_HANDLE_VALUE);
    ScopedHandle errorWrite(writeEnd ? writeEnd : INVALID_HANDLE_VALUE);

    std::vector<HANDLE> inherited{nullDevice.Get()};
    if (errorWrite.Valid())
        inherited.push_back(errorWrite.Get());
    const HandleList handleList(inherited);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nullDevice.Get();
    startup.StartupInfo.hStdOutput = nullDevice.Get();
    startup.StartupInfo.hStdError = errorWrite.Valid() ? errorWrite.Get() : nullDevice.Get();
    startup.lpAttributeList = handleList.Get();
    DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
    if (handleList.Get())
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    else
        startup.StartupInfo.cb = sizeof startup.StartupInfo;

    ScopedHandle job(MakeJob());
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!::CreateProcessW(wideProgram->c_str(), mutableLine.data(), nullptr, nullptr, TRUE, flags,
                          nullptr, nullptr, &startup.StartupInfo, &info))
        return result;
    result.started = true;
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    // Started suspended, so it is in the job before it can start anything.
    // Where that fails (an older system, a job that allows no nesting), only
    // the program itself can be ended.
    const bool inJob = job.Valid() && ::AssignProcessToJobObject(job.Get(), process.Get());
    SetChildForAbruptEnd(reinterpret_cast<std::intptr_t>(inJob ? job.Get() : nullptr),
                         reinterpret_cast<std::intptr_t>(process.Get()));
    ::ResumeThread(thread.Get());
    thread.Reset();
    nullDevice.Reset();
    errorWrite.Reset();

    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(options.timeoutMs);
    ErrorTail tail(options.errorTail);
    bool ended = false;
    for (;;) {
        if (errorRead.Valid())
            ReadAvailable(errorRead.Get(), tail);
        if (::WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT) {
            ended = true;
            break;
        }
        if (options.idle)
            options.idle();
        if (options.stop && options.stop()) {
            result.stopped = true;
            break;
        }
        DWORD waitMs = options.idle || options.stop || errorRead.Valid() ? kPumpMs : INFINITE;
        if (options.timeoutMs > 0) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) {
                result.timedOut = true;
                break;
            }
            waitMs = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, waitMs));
        }
        // A window message wakes the wait as well, so the window is served
        // at once; the process's end wakes it too.
        HANDLE handles[] = {process.Get()};
        if (options.idle)
            ::MsgWaitForMultipleObjects(1, handles, FALSE, waitMs, QS_ALLINPUT);
        else
            ::WaitForSingleObject(process.Get(), waitMs);
    }

    // The whole job goes, whatever ended the wait: a program that was
    // stopped, and anything it left behind.
    if (inJob)
        ::TerminateJobObject(job.Get(), 1);
    else if (!ended)
        ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), 10000);
    SetChildForAbruptEnd(0, 0);
    if (errorRead.Valid())
        ReadAvailable(errorRead.Get(), tail);
    DWORD code = 0;
    if (ended && ::GetExitCodeProcess(process.Get(), &code))
        result.exitCode = static_cast<int>(code);
    if (options.errorTail > 0)
        result.errorOutput = tail.Text(FromConsoleCodePage);
    return result;
}

} // namespace platform
