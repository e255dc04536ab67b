// A repeating timer whose OnTimer runs on the user-interface thread, inside
// the socket layer's event delivery (waits and DispatchSocketEvents()).
#pragma once
#include <chrono>
#include <functional>

class TThreadTimer {
public:
    using TTimerEvent = std::function<void(TThreadTimer* Sender)>;

    TThreadTimer();
    ~TThreadTimer();
    TThreadTimer(const TThreadTimer&) = delete;
    TThreadTimer& operator=(const TThreadTimer&) = delete;

    bool GetEnabled() const { return Enabled; }
    unsigned GetInterval() const { return Interval; }
    // Changing a value restarts the period; setting the same value leaves a
    // running period alone.
    void SetEnabled(bool Value);
    void SetInterval(unsigned Value);
    // Always restarts the period.
    void SetOnTimer(TTimerEvent Value);

    // Runs only with Interval not 0, Enabled and OnTimer assigned.
    void UpdateTimer();
    // Raises OnTimer (called by the event delivery when the period ends).
    void Timer();

    // Internal to the event delivery: time the period ends, if running.
    bool Running() const { return Active; }
    std::chrono::steady_clock::time_point Due() const { return DueAt; }
    // Starts the next period after a tick.
    void Elapsed(std::chrono::steady_clock::time_point Now);

private:
    bool Enabled = true;
    unsigned Interval = 1000;
    TTimerEvent OnTimer;
    bool Active = false;
    std::chrono::steady_clock::time_point DueAt{};
};
