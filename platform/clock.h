// Injectable clocks. Everything that waits or dates something takes one of these, so tests can run
// hours of server time in milliseconds and set the time of day.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "common/date_time.h"

namespace keep::platform {

// Monotonic milliseconds from an arbitrary origin; never goes backwards. Thread-safe.
class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual int64_t NowMs() const = 0;

  // The process's real steady clock.
  static std::unique_ptr<MonotonicClock> CreateReal();
};

// Local civil time of day. Thread-safe.
class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual DateTime Now() const = 0;
  // The local time zone's distance from universal time at the local time `local`, in milliseconds
  // (east positive). Local times are a wall-clock reading, so two of them measure elapsed time only
  // once each has its offset taken away: across a daylight-saving change they differ by an hour.
  // A local time that a change skips or repeats gets one of the offsets around it.
  virtual int64_t UtcOffsetMs(DateTime local) const = 0;

  // The system's clock in the local time zone.
  static std::unique_ptr<WallClock> CreateReal();
};

// A clock pair that moves only when told to. Advancing it moves both clocks by the same amount.
// Thread-safe, and copies share one time: advancing a copy advances the original. Tests normally
// drive it from the thread that runs the event loop.
class ManualClock final : public MonotonicClock, public WallClock {
 public:
  explicit ManualClock(DateTime wall_start = DateTime(), int64_t monotonic_start = 0);

  int64_t NowMs() const override;
  DateTime Now() const override;
  // 0 unless a zone was set.
  int64_t UtcOffsetMs(DateTime local) const override;

  // A negative amount is ignored: the monotonic clock never goes backwards.
  void AdvanceMs(int64_t ms);
  // Jumps the wall clock only (as a user setting the system time would); the monotonic clock stays.
  void SetWall(DateTime when);
  // The offset of each local time from universal time, for tests of daylight-saving changes. The
  // function is called with the clock's lock held and must not use the clock.
  void SetUtcOffsets(std::function<int64_t(DateTime local)> offset_of);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace keep::platform
