// The main loop of a program: timers and tasks posted from other threads, run one at a time on the
// thread that calls Run() (or RunDue() in tests). All server state lives on this thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clock.h"

namespace keep::platform {

// Calls marked "loop thread only" abort the process with a message naming the call when made from
// another thread: that is a programming error, never a run-time condition.
class EventLoop {
 public:
  using Task = std::function<void()>;
  using TimerId = uint64_t;

  // `clock` must outlive the loop. The creating thread becomes the loop thread.
  // With a ManualClock, drive the loop with RunDue().
  explicit EventLoop(const MonotonicClock& clock);
  // Loop thread only, and not from a callback. Tasks still queued and timers still planned are
  // discarded without running.
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Any thread. The task runs on the loop thread, after the tasks posted before it. Tasks posted
  // after Stop() are discarded when the loop object is destroyed.
  void Post(Task task);

  // Loop thread only. `interval_ms` <= 0 is taken as 0 (due at the next turn).
  // Timers due at the same moment fire in the order they were added; an earlier due time goes first.
  // A one-shot timer is forgotten before its callback runs; a repeating one is rescheduled one
  // interval after it was due (never in the past: a late loop skips the missed ticks instead of
  // running them back to back), before its callback runs. Returns an id that is never 0 and never
  // reused.
  TimerId AddTimer(int64_t interval_ms, bool repeating, Task callback);
  // Loop thread only. Cancelling an unknown or finished timer does nothing; a callback may cancel
  // any timer, itself included, and a cancelled timer that was also due does not run.
  void CancelTimer(TimerId id);
  // Loop thread only.
  bool HasTimer(TimerId id) const;

  // Loop thread only: runs until Stop(). Waits in real time for the next due timer (its distance
  // read from the clock), a posted task or a watched descriptor; nothing runs while nothing happens.
  // Returns at once when Stop() was already called.
  void Run();
  // Any thread: Run() (or RunDue()) returns after the task or timer that is running now. Final: the
  // loop runs nothing more afterwards.
  void Stop();
  // Any thread.
  bool Stopped() const;

  // Loop thread only: runs every posted task and every timer due at the clock's present time,
  // including tasks and timers that become due at once because of them, then returns how many
  // callbacks ran. A timer fires at most once per call, so a zero-interval repeating timer fires
  // once per call rather than forever. A task that posts itself again on every run would keep the
  // call from returning, as it would keep Run() busy.
  // Does nothing after Stop(), and stops early when a callback calls Stop().
  // The tool of tests with a ManualClock: advance the clock, then RunDue(). Watched descriptors that
  // are ready now count as due; a handler that leaves its descriptor ready keeps the call going, as
  // a task that posts itself does.
  size_t RunDue();

  // Loop thread only. Milliseconds until the next timer is due (0 when a task is waiting or a timer
  // is overdue), -1 when nothing is planned.
  int64_t MsUntilNextWork() const;

  // True on the thread that created the loop (which must be the one that runs it).
  bool IsInLoopThread() const;

  // Descriptors the loop waits on together with its timers and tasks.
  using WatchId = uint64_t;
  using WatchHandler = std::function<void(unsigned events)>;
  static constexpr unsigned kReadable = 1;
  static constexpr unsigned kWritable = 2;
  // Loop thread only. Runs `handler` on the loop, with kReadable and/or kWritable, whenever
  // `descriptor` is ready for what `events` asks, and again at every turn while it stays so (a
  // hang-up or an error counts as ready, so the next read or write meets it). Unwatch before closing
  // the descriptor. 0 when the system will not watch it.
  WatchId Watch(int descriptor, unsigned events, WatchHandler handler);
  // Loop thread only: waits for other events from now on; 0 pauses the watch. False for an unknown id
  // or when the system refuses.
  bool ChangeWatch(WatchId id, unsigned events);
  // Loop thread only. A handler may unwatch any watch, itself included; an unwatched handler that was
  // also ready in the same turn does not run. Unknown ids are ignored.
  void Unwatch(WatchId id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A repeating timer object in the manner of a component timer: an interval, an enabled flag and a
// tick handler. Disabled on creation. Loop thread only; the loop must outlive the timer.
// While enabled it ticks every Interval() milliseconds, keeping its phase. The tick handler may
// disable the timer, change its interval or handler, re-enable it (a fresh period from then: the
// "disable while the tick runs" pattern) and even destroy the Timer, provided it touches the Timer
// no more afterwards.
class Timer {
 public:
  explicit Timer(EventLoop& loop);
  ~Timer();  // cancels the pending tick
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // Restarts the period when enabled and the value changes. An interval of 0 or less never ticks:
  // the timer stays enabled but silent, so a handler that re-enables its timer cannot spin the loop.
  void SetInterval(int64_t ms);
  int64_t Interval() const { return interval_ms_; }
  void SetOnTimer(EventLoop::Task tick);
  // Enabling a disabled timer starts a fresh period from now; setting the present state again
  // changes nothing.
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }

 private:
  void Arm();
  void Disarm();
  void Fire();
  EventLoop& loop_;
  int64_t interval_ms_ = 1000;
  EventLoop::Task tick_;
  bool enabled_ = false;
  EventLoop::TimerId id_ = 0;
};

}  // namespace keep::platform
