#include "net/ThreadTimer.h"

#include "net/SocketEvents.h"

#include <utility>

TThreadTimer::TThreadTimer() {
    sockevents::RegisterTimer(this);
}

TThreadTimer::~TThreadTimer() {
    sockevents::UnregisterTimer(this);
}

void TThreadTimer::SetEnabled(bool Value) {
    if (Value == Enabled)
        return;
    Enabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(unsigned Value) {
    if (Value == Interval)
        return;
    Interval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TTimerEvent Value) {
    OnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    Active = Interval != 0 && Enabled && static_cast<bool>(OnTimer);
    if (Active)
        DueAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(Interval);
}

void TThreadTimer::Elapsed(std::chrono::steady_clock::time_point Now) {
    // The next period counts from now, so a late delivery never fires twice in a row.
    DueAt = Now + std::chrono::milliseconds(Interval);
}

void TThreadTimer::Timer() {
    if (OnTimer)
        OnTimer(this);
}
