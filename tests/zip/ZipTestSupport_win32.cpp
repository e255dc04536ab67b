// The count of this process's threads, for the zip tests on Windows.
#include "ZipTestSupport.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <tlhelp32.h>

namespace ziptest {

size_t ThreadsOfProcess() {
    const DWORD self = ::GetCurrentProcessId();
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    size_t n = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == self)
            ++n;
    ::CloseHandle(snapshot);
    return n;
}

} // namespace ziptest
