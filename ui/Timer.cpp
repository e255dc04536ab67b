#include "ui/Timer.h"

#include "ui/Backend.h"
#include "ui/Prompts.h"

namespace ui {

Timer::Timer()
    : impl_(backend::CreateTimer([this] {
          if (tick_)
              RunGuarded(tick_);
      })) {}

Timer::~Timer() = default;

void Timer::Start(int intervalMs) {
    impl_->Start(intervalMs);
}

void Timer::Stop() {
    impl_->Stop();
}

bool Timer::Active() const {
    return impl_->Active();
}

} // namespace ui
