// A repeating timer of the user-interface thread: its handler runs from the
// event loop (and from "let events run") every interval while it is active.
#pragma once
#include <functional>
#include <memory>

namespace ui {

namespace backend {
class TimerWidget;
}

class Timer {
public:
    Timer();
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // The handler runs guarded: an exception goes to ShowException.
    void OnTick(std::function<void()> handler) { tick_ = std::move(handler); }
    void Start(int intervalMs);
    void Stop();
    bool Active() const;

private:
    std::function<void()> tick_;
    std::unique_ptr<backend::TimerWidget> impl_;
};

} // namespace ui
