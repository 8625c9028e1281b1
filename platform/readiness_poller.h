// Where the main loop sleeps: until one of the descriptors it watches is ready, the time given runs
// out, or another thread wakes it. One poller per loop; epoll on Linux (the Windows build brings
// its own). Every call but Wake belongs to the loop thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace keep::platform {

class ReadinessPoller {
 public:
  static constexpr unsigned kReadable = 1;
  static constexpr unsigned kWritable = 2;

  struct Ready {
    uint64_t token = 0;
    unsigned events = 0;  // kReadable and/or kWritable
  };

  // Null when the system gives no poller (no descriptors left).
  static std::unique_ptr<ReadinessPoller> Create();

  virtual ~ReadinessPoller() = default;

  // Starts or changes watching `descriptor` for `events`, reported with `token`. 0 or a system code.
  // Level-triggered: a descriptor is reported at every Wait for as long as it stays ready.
  virtual int Watch(int descriptor, unsigned events, uint64_t token) = 0;
  // Stops watching; must come before the descriptor is closed.
  virtual void Forget(int descriptor) = 0;

  // Waits up to `timeout_ms` (negative: without limit; 0: only looks) and fills `ready`. A hang-up
  // or an error on a descriptor is reported as the events it is watched for, so its owner's next
  // read or write meets it. Returns early, with nothing ready, when woken.
  virtual void Wait(int timeout_ms, std::vector<Ready>* ready) = 0;
  // Any thread: the current Wait, or the next one, returns at once.
  virtual void Wake() = 0;
};

}  // namespace keep::platform
