#include "platform/event_loop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/readiness_poller.h"

namespace keep::platform {
namespace {

// Run() re-reads the clock at least this often, so a very distant timer never overflows the wait and
// a clock that jumps is noticed.
constexpr int64_t kMaxWaitMs = 60'000;

// Due times saturate, so a caller may pass a huge interval to mean "practically never".
int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<int64_t>::max() : sum;
}

// Milliseconds from `now` until `due`, 0 when overdue.
int64_t MsUntil(int64_t due, int64_t now) {
  int64_t diff = 0;
  if (__builtin_sub_overflow(due, now, &diff)) return due > now ? std::numeric_limits<int64_t>::max() : 0;
  return std::max<int64_t>(diff, 0);
}

struct TimerEntry {
  int64_t due_ms = 0;
  int64_t interval_ms = 0;
  bool repeating = false;
  // Shared so a callback that cancels its own timer does not destroy itself mid-call.
  std::shared_ptr<EventLoop::Task> callback;
  // The pass in which the timer last fired; it does not fire twice in one pass.
  uint64_t fired_pass = 0;
};

// Ordering key: due time, then id, and ids grow with creation, so simultaneous timers keep the order
// in which they were added.
using TimerKey = std::pair<int64_t, EventLoop::TimerId>;

}  // namespace

struct EventLoop::Impl {
  explicit Impl(const MonotonicClock& c)
      : clock(c), owner(std::this_thread::get_id()), poller(ReadinessPoller::Create()) {
    if (poller == nullptr) {
      // Only at start, with no descriptors left: there is no loop to run without it.
      std::fprintf(stderr, "EventLoop: the system gives no readiness poller\n");
      std::abort();
    }
  }

  void CheckLoopThread(const char* call) const {
    if (std::this_thread::get_id() != owner) {
      std::fprintf(stderr, "EventLoop::%s called from a thread other than the loop thread\n", call);
      std::abort();
    }
  }

  // Read without the lock: it is asked once per handler and task, and only ever goes from false to
  // true (under the lock, so a sleeping Run() cannot miss it).
  bool StopRequested() const { return stop_requested.load(std::memory_order_acquire); }

  // Runs the tasks queued at the time of the call, so a task that posts another cannot starve the
  // timers. Tasks left over when Stop() interrupts go back to the head of the queue.
  size_t RunTaskBatch() {
    {
      // Most turns have no task: spare them the queue a batch would build.
      std::lock_guard lock(mutex);
      if (stop_requested || tasks.empty()) return 0;
    }
    std::deque<Task> batch;
    {
      std::lock_guard lock(mutex);
      if (stop_requested) return 0;
      batch.swap(tasks);
    }
    size_t ran = 0;
    while (!batch.empty()) {
      Task task = std::move(batch.front());
      batch.pop_front();
      if (task) task();
      ++ran;
      if (StopRequested()) {
        std::lock_guard lock(mutex);
        for (auto it = batch.rbegin(); it != batch.rend(); ++it) tasks.push_front(std::move(*it));
        break;
      }
    }
    return ran;
  }

  // The first timer due at `now` that has not fired in this pass, or timers.end().
  std::map<TimerId, TimerEntry>::iterator NextDue(int64_t now) {
    for (const TimerKey& key : queue) {
      if (key.first > now) break;
      auto it = timers.find(key.second);
      if (it->second.fired_pass != pass) return it;
    }
    return timers.end();
  }

  // Fires one due timer; false when none is due.
  bool FireOneTimer() {
    const int64_t now = clock.NowMs();
    auto it = NextDue(now);
    if (it == timers.end()) return false;
    TimerEntry& entry = it->second;
    std::shared_ptr<Task> callback = entry.callback;
    queue.erase({entry.due_ms, it->first});
    if (entry.repeating) {
      // Keep the phase; when the loop was late, skip to the first tick after now rather than
      // catching up with a burst of ticks.
      int64_t next = SaturatingAdd(entry.due_ms, entry.interval_ms);
      if (entry.interval_ms == 0) {
        next = now;
      } else if (next <= now) {
        next = SaturatingAdd(now, entry.interval_ms - (now - entry.due_ms) % entry.interval_ms);
      }
      entry.due_ms = next;
      entry.fired_pass = pass;
      queue.insert({next, it->first});
    } else {
      timers.erase(it);
    }
    if (*callback) (*callback)();
    return true;
  }

  size_t RunDueTimers() {
    size_t ran = 0;
    while (!StopRequested() && FireOneTimer()) ++ran;
    return ran;
  }

  // Waits up to `timeout_ms` for watched descriptors (or a wake-up) and runs the handlers of those
  // ready.
  size_t RunReadyWatches(int64_t timeout_ms) {
    // Kept between turns so a busy loop does not allocate the list each time; moved out while the
    // handlers run, in case one of them runs the loop itself (RunDue in tests).
    std::vector<ReadinessPoller::Ready> ready = std::move(ready_spare);
    ready.clear();
    poller->Wait(static_cast<int>(timeout_ms), &ready);
    size_t ran = 0;
    for (const ReadinessPoller::Ready& entry : ready) {
      if (StopRequested()) break;
      const auto it = watches.find(entry.token);
      if (it == watches.end()) continue;  // unwatched by an earlier handler of this turn
      std::shared_ptr<WatchHandler> handler = it->second.handler;
      if (*handler) (*handler)(entry.events);
      ++ran;
    }
    ready_spare = std::move(ready);
    return ran;
  }

  struct WatchEntry {
    int descriptor = -1;
    // Shared so a handler that unwatches itself does not destroy itself mid-call.
    std::shared_ptr<WatchHandler> handler;
  };

  const MonotonicClock& clock;
  const std::thread::id owner;

  // Shared with other threads.
  mutable std::mutex mutex;
  std::deque<Task> tasks;
  std::atomic<bool> stop_requested{false};
  bool sleeping = false;  // Run() waits in the poller: a posted task must wake it
  const std::unique_ptr<ReadinessPoller> poller;

  // Loop thread only.
  std::map<TimerId, TimerEntry> timers;
  std::set<TimerKey> queue;
  TimerId next_id = 1;
  uint64_t pass = 0;
  std::map<WatchId, WatchEntry> watches;
  std::vector<ReadinessPoller::Ready> ready_spare;
  WatchId next_watch_id = 1;
};

EventLoop::EventLoop(const MonotonicClock& clock) : impl_(std::make_unique<Impl>(clock)) {}

EventLoop::~EventLoop() = default;

void EventLoop::Post(Task task) {
  bool sleeping = false;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->tasks.push_back(std::move(task));
    sleeping = impl_->sleeping;
  }
  if (sleeping) impl_->poller->Wake();
}

EventLoop::TimerId EventLoop::AddTimer(int64_t interval_ms, bool repeating, Task callback) {
  impl_->CheckLoopThread("AddTimer");
  interval_ms = std::max<int64_t>(interval_ms, 0);
  const TimerId id = impl_->next_id++;
  TimerEntry entry;
  entry.due_ms = SaturatingAdd(impl_->clock.NowMs(), interval_ms);
  entry.interval_ms = interval_ms;
  entry.repeating = repeating;
  entry.callback = std::make_shared<Task>(std::move(callback));
  impl_->queue.insert({entry.due_ms, id});
  impl_->timers.emplace(id, std::move(entry));
  return id;
}

void EventLoop::CancelTimer(TimerId id) {
  impl_->CheckLoopThread("CancelTimer");
  auto it = impl_->timers.find(id);
  if (it == impl_->timers.end()) return;
  impl_->queue.erase({it->second.due_ms, id});
  impl_->timers.erase(it);
}

bool EventLoop::HasTimer(TimerId id) const {
  impl_->CheckLoopThread("HasTimer");
  return impl_->timers.count(id) != 0;
}

void EventLoop::Run() {
  impl_->CheckLoopThread("Run");
  while (!impl_->StopRequested()) {
    // One pass per turn: a zero-interval timer fires once a turn, between batches of tasks.
    ++impl_->pass;
    impl_->RunTaskBatch();
    impl_->RunDueTimers();

    int64_t wait_ms = 0;
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->stop_requested) break;
      if (impl_->tasks.empty()) {
        wait_ms = impl_->queue.empty()
                      ? -1
                      : std::min(MsUntil(impl_->queue.begin()->first, impl_->clock.NowMs()), kMaxWaitMs);
      }
      impl_->sleeping = wait_ms != 0;
    }
    impl_->RunReadyWatches(wait_ms);
    std::lock_guard lock(impl_->mutex);
    impl_->sleeping = false;
  }
}

void EventLoop::Stop() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stop_requested = true;
  }
  impl_->poller->Wake();
}

bool EventLoop::Stopped() const { return impl_->StopRequested(); }

size_t EventLoop::RunDue() {
  impl_->CheckLoopThread("RunDue");
  ++impl_->pass;
  size_t total = 0;
  for (;;) {
    size_t ran = impl_->RunTaskBatch() + impl_->RunDueTimers();
    if (!impl_->StopRequested()) ran += impl_->RunReadyWatches(0);
    if (ran == 0) break;
    total += ran;
  }
  return total;
}

int64_t EventLoop::MsUntilNextWork() const {
  impl_->CheckLoopThread("MsUntilNextWork");
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->tasks.empty()) return 0;
  }
  if (impl_->queue.empty()) return -1;
  return MsUntil(impl_->queue.begin()->first, impl_->clock.NowMs());
}

bool EventLoop::IsInLoopThread() const { return std::this_thread::get_id() == impl_->owner; }

EventLoop::WatchId EventLoop::Watch(int descriptor, unsigned events, WatchHandler handler) {
  impl_->CheckLoopThread("Watch");
  const WatchId id = impl_->next_watch_id++;
  if (events != 0 && impl_->poller->Watch(descriptor, events, id) != 0) return 0;
  impl_->watches.emplace(id, Impl::WatchEntry{descriptor, std::make_shared<WatchHandler>(std::move(handler))});
  return id;
}

bool EventLoop::ChangeWatch(WatchId id, unsigned events) {
  impl_->CheckLoopThread("ChangeWatch");
  const auto it = impl_->watches.find(id);
  if (it == impl_->watches.end()) return false;
  if (events == 0) {
    impl_->poller->Forget(it->second.descriptor);
    return true;
  }
  return impl_->poller->Watch(it->second.descriptor, events, id) == 0;
}

void EventLoop::Unwatch(WatchId id) {
  impl_->CheckLoopThread("Unwatch");
  const auto it = impl_->watches.find(id);
  if (it == impl_->watches.end()) return;
  impl_->poller->Forget(it->second.descriptor);
  impl_->watches.erase(it);
}

Timer::Timer(EventLoop& loop) : loop_(loop) {}

Timer::~Timer() { Disarm(); }

void Timer::SetInterval(int64_t ms) {
  if (ms == interval_ms_) return;
  interval_ms_ = ms;
  if (enabled_) {
    Disarm();
    Arm();
  }
}

void Timer::SetOnTimer(EventLoop::Task tick) { tick_ = std::move(tick); }

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled) {
    Arm();
  } else {
    Disarm();
  }
}

void Timer::Arm() {
  if (interval_ms_ <= 0) return;
  id_ = loop_.AddTimer(interval_ms_, true, [this] { Fire(); });
}

void Timer::Disarm() {
  if (id_ == 0) return;
  loop_.CancelTimer(id_);
  id_ = 0;
}

void Timer::Fire() {
  // A copy, so the handler may replace itself or destroy this Timer while it runs.
  EventLoop::Task tick = tick_;
  if (tick) tick();
}

}  // namespace keep::platform
