#include "app/NetPump.h"

#include "ui/Application.h"

#include <QTimer>

#if RODERUV_HAVE_NET
#include "net/SocketEvents.h"
#endif

void InstallNetPump(QTimer& timer) {
#if RODERUV_HAVE_NET
    SetPumpMessagesHook([] { ui::ProcessQtEvents(); });
    ui::SetExtraPump([] { DispatchSocketEvents(); });
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [] { DispatchSocketEvents(); });
    timer.start();
#else
    (void)timer;
#endif
}
