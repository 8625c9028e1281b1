#include "platform/clock.h"

#include <chrono>
#include <mutex>
#include <utility>

namespace keep::platform {
namespace {

class SteadyClock final : public MonotonicClock {
 public:
  int64_t NowMs() const override {
    const auto since_origin = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since_origin).count();
  }
};

}  // namespace

std::unique_ptr<MonotonicClock> MonotonicClock::CreateReal() { return std::make_unique<SteadyClock>(); }

struct ManualClock::State {
  mutable std::mutex mutex;
  int64_t monotonic_ms = 0;
  DateTime wall;
  std::function<int64_t(DateTime)> offset_of;
};

ManualClock::ManualClock(DateTime wall_start, int64_t monotonic_start) : state_(std::make_shared<State>()) {
  state_->monotonic_ms = monotonic_start;
  state_->wall = wall_start;
}

int64_t ManualClock::NowMs() const {
  std::lock_guard lock(state_->mutex);
  return state_->monotonic_ms;
}

DateTime ManualClock::Now() const {
  std::lock_guard lock(state_->mutex);
  return state_->wall;
}

int64_t ManualClock::UtcOffsetMs(DateTime local) const {
  std::lock_guard lock(state_->mutex);
  return state_->offset_of ? state_->offset_of(local) : 0;
}

void ManualClock::SetUtcOffsets(std::function<int64_t(DateTime local)> offset_of) {
  std::lock_guard lock(state_->mutex);
  state_->offset_of = std::move(offset_of);
}

void ManualClock::AdvanceMs(int64_t ms) {
  if (ms <= 0) return;
  std::lock_guard lock(state_->mutex);
  state_->monotonic_ms += ms;
  state_->wall = state_->wall + ms;
}

void ManualClock::SetWall(DateTime when) {
  std::lock_guard lock(state_->mutex);
  state_->wall = when;
}

}  // namespace keep::platform
