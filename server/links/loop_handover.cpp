#include "server/links/loop_handover.h"

namespace keep::server {

LoopHandover::LoopHandover(platform::EventLoop* loop) : loop_(loop), state_(std::make_shared<State>()) {}

void LoopHandover::RunAndWait(std::function<void()> work) {
  if (loop_ == nullptr) {
    work();
    return;
  }
  const std::shared_ptr<State> state = state_;
  uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> guard(state->mutex);
    if (state->cancelled) return;
    ticket = ++state->posted;
  }
  // Closing happens on the loop thread too, so work that finds the state not cancelled runs before
  // any closing can start.
  loop_->Post([state, ticket, work = std::move(work)] {
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      if (state->cancelled) return;
    }
    work();
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      state->finished = ticket;
    }
    state->changed.notify_all();
  });
  std::unique_lock<std::mutex> wait(state->mutex);
  state->changed.wait(wait, [&] { return state->cancelled || state->finished >= ticket; });
}

bool LoopHandover::WaitForCancel(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> wait(state_->mutex);
  return state_->changed.wait_for(wait, limit, [this] { return state_->cancelled; });
}

void LoopHandover::Cancel() {
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->cancelled = true;
  }
  state_->changed.notify_all();
}

}  // namespace keep::server
