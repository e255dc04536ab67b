#include "app/NetPump.h"

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
        if (WaitCheck())
            WaitCheck()();
    });
    ui::SetExtraPump([] { DispatchSocketEvents(); });
    timer.OnTick([] { DispatchSocketEvents(); });
    timer.Start(20);
}
