// Hands work from a link's own thread to the main loop and waits until it has run, so received data
// is processed where all server state lives. Closing (which runs on the loop) cancels first: a
// waiting link thread then returns at once, and work posted but not yet run does nothing, so a
// close never waits for the loop it is running on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/event_loop.h"

namespace keep::server {

class LoopHandover {
 public:
  // With a null `loop` the work runs on the calling thread. The loop must outlive every hand-over.
  explicit LoopHandover(platform::EventLoop* loop);

  // Link thread: runs `work` on the loop and returns after it ran; returns at once when cancelled
  // (the work then never runs). One hand-over at a time per link thread.
  void RunAndWait(std::function<void()> work);
  // Link thread: waits up to `limit` for Cancel; true when cancelled.
  bool WaitForCancel(std::chrono::milliseconds limit);
  // Any thread: every pending and later hand-over does nothing; waiting threads return.
  void Cancel();

 private:
  // Shared with the posted work, which may run after the link thread and this object are gone.
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool cancelled = false;
    uint64_t posted = 0;
    uint64_t finished = 0;
  };

  platform::EventLoop* const loop_;
  const std::shared_ptr<State> state_;
};

}  // namespace keep::server
