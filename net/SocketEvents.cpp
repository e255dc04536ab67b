#include "net/SocketEvents.h"

#include "net/SocketApi.h"
#include "net/ThreadTimer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Everything below except the posted queue is touched only on the
// user-interface thread. Entries carry a serial number so that a delivery
// that runs handlers (which may destroy or create sockets, or nest another
// delivery) never calls an entry that went away meanwhile.
struct TWatcherEntry {
    sockevents::TWatcher* Watcher;
    uint64_t Serial;
};
struct TTimerEntry {
    TThreadTimer* Timer;
    uint64_t Serial;
};

std::vector<TWatcherEntry>& Watchers() {
    static std::vector<TWatcherEntry> list;
    return list;
}
std::vector<TTimerEntry>& Timers() {
    static std::vector<TTimerEntry> list;
    return list;
}
uint64_t NextSerial = 1;

std::function<void()>& PumpHook() {
    static std::function<void()> hook;
    return hook;
}

// Work posted from other threads. Never destroyed: a lookup thread may
// still post while the process ends.
std::mutex& PostedLock = *new std::mutex;
std::deque<std::function<void()>>& Posted = *new std::deque<std::function<void()>>;

bool WatcherAlive(const TWatcherEntry& e) {
    for (const auto& w : Watchers())
        if (w.Watcher == e.Watcher && w.Serial == e.Serial)
            return true;
    return false;
}
bool TimerAlive(const TTimerEntry& e) {
    for (const auto& t : Timers())
        if (t.Timer == e.Timer && t.Serial == e.Serial)
            return true;
    return false;
}

void RunPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> lock(PostedLock);
        work.swap(Posted);
    }
    for (auto& w : work)
        w();
}

void FireDueTimers() {
    const auto now = Clock::now();
    // The common case, nothing due, costs no copy (this runs after every send).
    bool any = false;
    for (const auto& e : Timers())
        any = any || (e.Timer->Running() && e.Timer->Due() <= now);
    if (!any)
        return;
    const std::vector<TTimerEntry> snapshot = Timers();
    for (const auto& e : snapshot) {
        if (!TimerAlive(e) || !e.Timer->Running() || e.Timer->Due() > now)
            continue;
        e.Timer->Elapsed(now);
        try {
            e.Timer->Timer();
        } catch (...) {
            // A timer handler's failure must not end the wait that happens to run it.
        }
    }
}

// Milliseconds until the next timer is due, capped at Limit.
int UntilNextTimer(int Limit) {
    const auto now = Clock::now();
    int result = Limit;
    for (const auto& e : Timers()) {
        if (!e.Timer->Running())
            continue;
        // Rounded up: a poll that ends just before the due time would spin.
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(e.Timer->Due() - now).count();
        if (ms < 0)
            ms = 0;
        result = std::min<int>(result, static_cast<int>(ms));
    }
    return result;
}

} // namespace

void SetPumpMessagesHook(std::function<void()> Hook) {
    PumpHook() = std::move(Hook);
}

void DispatchSocketEvents() {
    sockevents::Deliver(0);
}

void PumpMessages(int MaxWaitMs) {
    sockevents::RunPumpHook();
    sockevents::Deliver(std::clamp(MaxWaitMs, 0, kWaitPassMs));
}

namespace sockevents {

void RunPumpHook() {
    if (PumpHook())
        PumpHook()();
}

void Register(TWatcher* Watcher) {
    Watchers().push_back({Watcher, NextSerial++});
}

void Unregister(TWatcher* Watcher) {
    auto& list = Watchers();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [Watcher](const TWatcherEntry& e) { return e.Watcher == Watcher; }),
               list.end());
}

void RegisterTimer(TThreadTimer* Timer) {
    Timers().push_back({Timer, NextSerial++});
}

void UnregisterTimer(TThreadTimer* Timer) {
    auto& list = Timers();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [Timer](const TTimerEntry& e) { return e.Timer == Timer; }),
               list.end());
}

void Post(std::function<void()> Work) {
    {
        std::lock_guard<std::mutex> lock(PostedLock);
        Posted.push_back(std::move(Work));
    }
    sockapi::WakePoll();
}

void Deliver(int MaxWaitMs, sockapi::THandle ExtraFd, short ExtraEvents) {
    RunPosted();
    FireDueTimers();

    std::vector<sockapi::TPollEntry> fds;
    std::vector<TWatcherEntry> polled;
    std::vector<bool> buffered;
    bool anyBuffered = false;
    if (ExtraFd != sockapi::kNoSocket && ExtraEvents != 0)
        fds.push_back({ExtraFd, ExtraEvents, 0});
    const size_t first = fds.size();
    for (const auto& e : Watchers()) {
        const sockapi::THandle fd = e.Watcher->WatchedFd();
        const short events = fd != sockapi::kNoSocket ? e.Watcher->WatchedEvents() : 0;
        if (events == 0)
            continue;
        fds.push_back({fd, events, 0});
        polled.push_back(e);
        buffered.push_back((events & sockapi::kReadable) && e.Watcher->Buffered());
        anyBuffered = anyBuffered || buffered.back();
    }

    // Input that waits inside a stream is there now: no waiting for more.
    const int wait = anyBuffered ? 0 : UntilNextTimer(std::max(MaxWaitMs, 0));
    if (sockapi::WaitForEvents(fds, wait) < 0 && !anyBuffered)
        return; // interrupted: the caller simply comes round again
    RunPosted();
    for (size_t i = first; i < fds.size(); ++i) {
        if (buffered[i - first])
            fds[i].Ready |= sockapi::kReadable;
        if (fds[i].Ready == 0)
            continue;
        const TWatcherEntry& e = polled[i - first];
        // The watcher may have gone, or switched to another socket, while an
        // earlier handler ran.
        if (!WatcherAlive(e) || e.Watcher->WatchedFd() != fds[i].Socket ||
            e.Watcher->WatchedEvents() == 0)
            continue;
        e.Watcher->Notify(fds[i].Ready);
    }
    FireDueTimers();
}

} // namespace sockevents
