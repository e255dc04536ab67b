#include "app/NetPump.h"

#include "app/TerminationWatch.h"
#include "net/SocketEvents.h"
#include "ui/Application.h"
#include "ui/Timer.h"

#include <utility>

namespace {

std::function<void()>& WaitCheck() {
    static std::function<void()> check;
    return check;
}

} // namespace

void SetNetWaitCheck(std::function<void()> check) {
    WaitCheck() = std::move(check);
}

void InstallNetPump(ui::Timer& timer) {
    SetPumpMessagesHook([] {
        ui::ProcessWindowEvents();
        PollTerminationRequest();
        if (WaitCheck())
            WaitCheck()();
    });
    ui::SetExtraPump([] {
        DispatchSocketEvents();
        PollTerminationRequest();
    });
    timer.OnTick([] {
        DispatchSocketEvents();
        PollTerminationRequest();
    });
    timer.Start(20);
}
