// Termination requests from the operating system, delivered as tasks on the event loop.
#pragma once

#include <functional>
#include <memory>

#include "platform/event_loop.h"

namespace keep::platform {

class StopSignals {
 public:
  virtual ~StopSignals() = default;

  // Call before any other thread is started: blocks SIGTERM and SIGINT in the calling thread (and
  // so in every thread created later) and waits for them on a thread of its own, which posts
  // `on_terminate` or `on_interrupt` to `loop`. Destroying the object stops that thread.
  static std::unique_ptr<StopSignals> Install(EventLoop& loop, std::function<void()> on_terminate,
                                              std::function<void()> on_interrupt);

  // True when standard input is an interactive terminal (SIGINT then asks before stopping).
  static bool InteractiveTerminal();
};

}  // namespace keep::platform
