// Driving a real-time event loop from a test: its due work runs until a condition holds, bounded.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "platform/event_loop.h"

namespace keep::test {

// Runs `loop`'s due work until `ready` holds, at most `limit` of real time (a real device or socket
// is on the other side). Sleeps 1 ms only when nothing was due.
inline bool RunLoopUntil(platform::EventLoop& loop, const std::function<bool()>& ready,
                         std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (loop.RunDue() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace keep::test
