// Delivery of socket notifications, lookup results and timer ticks on the
// user-interface thread.
//
// Nothing here runs on its own: notifications are delivered while an
// operation of the socket layer waits (it pumps the program's events through
// the installed hook, then waits for its sockets, see kWaitPassMs), and
// while no operation waits, by DispatchSocketEvents(), which the program's
// event loop must call regularly (for example from a 20 ms timer). So an idle
// connection that the server closes is noticed and leaves Connected false.
#pragma once
#include "net/SocketApi.h"

#include <functional>

class TThreadTimer;

// The "let events run" step of every wait (the program installs its event
// loop's processing of pending events; tests may install any function).
// An empty function removes the hook.
void SetPumpMessagesHook(std::function<void()> Hook);

// For the program's event loop: polls every live socket without waiting,
// delivers their notifications, finished name lookups and due timers. Does
// not run the pump hook. Safe to call from event handlers and while a wait runs.
void DispatchSocketEvents();

// The longest one pass of a wait waits for its sockets before the program's
// events run again. On POSIX 2 ms: the wait cannot see the window events, so
// it looks at them that often. On Windows the wait also ends as soon as a
// window message comes, a timer is due or another thread posts work, so a
// wait on a silent server sleeps; the bound is only a safety net.
inline constexpr int kWaitPassMs = sockapi::kLongestEventWaitMs;

// One step of a wait: runs the pump hook once, then delivers notifications,
// waiting at most MaxWaitMs (capped at kWaitPassMs; 0: no wait) for
// something to happen.
void PumpMessages(int MaxWaitMs = 0);

// Internal interface between the sockets/timers and the delivery.
namespace sockevents {

// A watched socket. WatchedEvents() returns the sockapi::Poll events wanted
// now (0: not watched at the moment); Notify() gets what Poll found.
class TWatcher {
public:
    virtual ~TWatcher() = default;
    virtual sockapi::THandle WatchedFd() const = 0;
    virtual short WatchedEvents() const = 0;
    virtual void Notify(short Revents) = 0;
    // Input the watcher's stream has already taken from the socket (TLS
    // records decrypted ahead): while it is there and kReadable is watched,
    // the delivery notifies a read without waiting for the socket.
    virtual bool Buffered() const { return false; }
};

void Register(TWatcher* Watcher);
void Unregister(TWatcher* Watcher);

void RegisterTimer(TThreadTimer* Timer);
void UnregisterTimer(TThreadTimer* Timer);

// Runs the program's pump hook, if installed.
void RunPumpHook();

// Queues a function to run on the user-interface thread at the next
// delivery; safe to call from any thread (wakes a waiting poll).
void Post(std::function<void()> Work);

// One delivery pass (used by the waits): waits at most MaxWaitMs, or until
// the next timer is due, for a watched socket; ExtraFd/ExtraEvents let a
// wait include its own socket (for example writable) in the same wait.
void Deliver(int MaxWaitMs, sockapi::THandle ExtraFd = sockapi::kNoSocket, short ExtraEvents = 0);

} // namespace sockevents
