#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/signals.h"

namespace keep::platform {
namespace {

class PosixStopSignals final : public StopSignals {
 public:
  PosixStopSignals(EventLoop& loop, std::function<void()> on_terminate, std::function<void()> on_interrupt)
      : loop_(loop), on_terminate_(std::move(on_terminate)), on_interrupt_(std::move(on_interrupt)) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    // Blocked here, the signals stay blocked in every thread created later, so only the watcher
    // below ever receives them and the handlers run as ordinary tasks on the loop.
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    watcher_ = std::thread([this] { Watch(); });
  }

  ~PosixStopSignals() override {
    stopping_.store(true);
    // A signal aimed at the watcher alone wakes its sigwait; the flag tells it to leave.
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
  }

 private:
  void Watch() {
    for (;;) {
      int signal_number = 0;
      if (sigwait(&set_, &signal_number) != 0) continue;
      if (stopping_.load()) return;
      if (signal_number == SIGTERM) {
        loop_.Post(on_terminate_);
      } else if (signal_number == SIGINT) {
        loop_.Post(on_interrupt_);
      }
    }
  }

  EventLoop& loop_;
  std::function<void()> on_terminate_;
  std::function<void()> on_interrupt_;
  sigset_t set_{};
  std::atomic<bool> stopping_{false};
  std::thread watcher_;
};

}  // namespace

std::unique_ptr<StopSignals> StopSignals::Install(EventLoop& loop, std::function<void()> on_terminate,
                                                  std::function<void()> on_interrupt) {
  return std::make_unique<PosixStopSignals>(loop, std::move(on_terminate), std::move(on_interrupt));
}

bool StopSignals::InteractiveTerminal() { return isatty(STDIN_FILENO) == 1; }

}  // namespace keep::platform
