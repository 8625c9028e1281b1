// The command step: every 100 ms, when the UPS manager is idle, it completes the request that has
// just finished and hands the next queued request to the manager; when the manager has lost the
// UPS it marks the link as failed and identifies the UPS again. At most one request is with the
// UPS at a time. Main loop only.
// A step that finds nothing to do (manager idle, nothing to complete, queue empty) sleeps instead of
// ticking on; a request queued or work the manager takes up wakes it at the tick it would have had,
// so requests run when they always did and an idle server is not woken ten times a second.
#pragma once

#include <functional>
#include <memory>

#include "platform/event_loop.h"
#include "server/services/request_completion.h"
#include "server/services/request_queue.h"
#include "server/services/server_context.h"

namespace keep::server {

inline constexpr int64_t kCommandStepIntervalMs = 100;

class CommandStep {
 public:
  // `context` and `queue` must outlive the step, and the context's loop must outlive it too. The
  // timer is created disabled.
  CommandStep(ServerContext& context, RequestQueue& queue, AnswerRouter router);
  ~CommandStep();
  CommandStep(const CommandStep&) = delete;
  CommandStep& operator=(const CommandStep&) = delete;

  // The status evaluation, run after a lost link is seen and after the server's own requests
  // complete. May be left empty.
  void SetEvaluate(std::function<void()> evaluate) { evaluate_ = std::move(evaluate); }

  // Hands nothing to the UPS for `milliseconds` from now (the pause after asking a running
  // calibration test to stop); completions and link checks go on.
  void Hold(int64_t milliseconds);

  // Starts or stops the 100 ms timer. Enabled() stays true while an enabled step sleeps.
  void Enable(bool enabled);
  bool Enabled() const { return enabled_; }
  // True while the step sleeps for want of work (no timer planned).
  bool Sleeping() const { return sleeping_; }

  // One step. Does nothing while the manager is busy, or when there is no manager (before start,
  // after stop). When the completion of the last request is put off to the next step (first
  // identification pending), the queue waits for it. Also run directly by the stop sequence.
  void Step();
  // Hands the first queued request to the manager and answers it at once (and counts it complete)
  // when the manager needs no exchange for it; otherwise its completion follows at a later step.
  // Nothing when the queue is empty.
  void ExecuteNextRequest();

 private:
  void OnTick();
  bool HasWork() const;
  // Plans the next tick where the 100 ms grid of the last one puts it.
  void Wake();

  ServerContext& context_;
  RequestQueue& queue_;
  AnswerRouter router_;
  std::function<void()> evaluate_;
  int64_t held_until_ms_ = 0;
  platform::Timer timer_;
  bool enabled_ = false;
  bool sleeping_ = false;
  int64_t last_tick_ms_ = 0;
  platform::EventLoop::TimerId wake_ = 0;
};

}  // namespace keep::server
