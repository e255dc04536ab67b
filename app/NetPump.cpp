#include "app/NetPump.h"

#include "app/TerminationWatch.h"
#include "ui/Application.h"

#include <QTimer>
#include <utility>

#if RODERUV_HAVE_NET
#include "net/SocketEvents.h"
#endif

namespace {

std::function<void()>& WaitCheck() {
    static std::function<void()> check;
    return check;
}

} // namespace

void SetNetWaitCheck(std::function<void()> check) {
    WaitCheck() = std::move(check);
}

void InstallNetPump(QTimer& timer) {
#if RODERUV_HAVE_NET
    SetPumpMessagesHook([] {
        ui::ProcessQtEvents();
        PollTerminationRequest();
        if (WaitCheck())
            WaitCheck()();
    });
    ui::SetExtraPump([] {
        DispatchSocketEvents();
        PollTerminationRequest();
    });
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [] {
        DispatchSocketEvents();
        PollTerminationRequest();
    });
    timer.start();
#else
    (void)timer;
#endif
}
