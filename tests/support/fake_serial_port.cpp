#include "tests/support/fake_serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace keep::test {

struct FakeSerialDevice::State {
  mutable std::mutex mutex;
  std::condition_variable changed;
  uint64_t generation = 0;

  platform::SerialOpenResult open_failure;
  int apply_failure = 0;
  int write_failure = 0;
  int line_failure = 0;
  int write_limit = -1;

  bool open = false;
  int open_count = 0;
  std::string last_path;
  std::optional<platform::SerialSettings> settings;
  std::string written;
  std::string input;
  std::vector<std::string> calls;
  int events_delivered = 0;

  // Event state of the port open now.
  bool unreported_input = false;
  bool hang_up_pending = false;
  bool interrupted = false;

  // Callers hold the mutex.
  void Changed() {
    ++generation;
    changed.notify_all();
  }
  void Record(std::string call) {
    calls.push_back(std::move(call));
    Changed();
  }
};

namespace {

using State = FakeSerialDevice::State;

class FakeSerialPort final : public platform::SerialPort {
 public:
  explicit FakeSerialPort(std::shared_ptr<State> state) : state_(std::move(state)) {}
  ~FakeSerialPort() override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->open = false;
    state_->Record("close");
  }

  int Apply(const platform::SerialSettings& settings) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->apply_failure != 0) return state_->apply_failure;
    state_->settings = settings;
    state_->Changed();
    return 0;
  }

  int Read(char* buffer, int capacity, int* count) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    const size_t n = std::min(state_->input.size(), static_cast<size_t>(std::max(capacity, 0)));
    std::copy_n(state_->input.begin(), n, buffer);
    state_->input.erase(0, n);
    *count = static_cast<int>(n);
    state_->Changed();
    return 0;
  }

  int Write(const char* data, int size, int /*timeout_ms*/, int* written) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    *written = 0;
    if (state_->write_failure != 0) return state_->write_failure;
    const int n = state_->write_limit < 0 ? size : std::min(size, state_->write_limit);
    state_->written.append(data, static_cast<size_t>(n));
    *written = n;
    state_->Changed();
    return 0;
  }

  int InQueue(int* count) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    *count = static_cast<int>(state_->input.size());
    return 0;
  }

  int Purge(bool input, bool output) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (input) state_->input.clear();
    if (input || output) state_->Record(input && output ? "purge-in-out" : (input ? "purge-in" : "purge-out"));
    return 0;
  }

  int SetModemLine(platform::SerialModemLine line, bool raised) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->line_failure != 0) return state_->line_failure;
    state_->Record(std::string(line == platform::SerialModemLine::kDtr ? "dtr" : "rts") + (raised ? "+" : "-"));
    return 0;
  }

  int SetBreak(bool on) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->Record(on ? "break+" : "break-");
    return 0;
  }

  int SetOutputFlow(bool resume) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->Record(resume ? "flow+" : "flow-");
    return 0;
  }

  Event WaitEvent(int timeout_ms) override {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const auto due = [this] { return state_->interrupted || state_->unreported_input || state_->hang_up_pending; };
    if (timeout_ms < 0) {
      state_->changed.wait(lock, due);
    } else if (!state_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), due)) {
      return Event::kTimeout;
    }
    if (state_->interrupted) {
      state_->interrupted = false;
      return Event::kInterrupted;
    }
    ++state_->events_delivered;
    state_->Changed();
    if (state_->unreported_input) {
      state_->unreported_input = false;
      return Event::kReadable;
    }
    state_->hang_up_pending = false;
    return Event::kHangUp;
  }

  void Interrupt() override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->interrupted = true;
    state_->Changed();
  }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace

FakeSerialDevice::FakeSerialDevice() : state_(std::make_shared<State>()) {}

FakeSerialDevice::~FakeSerialDevice() = default;

FakeSerialDevice::Opener FakeSerialDevice::MakeOpener() {
  std::shared_ptr<State> state = state_;
  return [state](const std::string& path, std::unique_ptr<platform::SerialPort>* port) {
    std::lock_guard<std::mutex> guard(state->mutex);
    state->last_path = path;
    if (state->open_failure.error != 0) return state->open_failure;
    if (state->open) return platform::SerialOpenResult{5, false};  // exclusive, as a real device
    state->open = true;
    ++state->open_count;
    state->unreported_input = false;
    state->hang_up_pending = false;
    state->interrupted = false;
    state->Record("open");
    *port = std::make_unique<FakeSerialPort>(state);
    return platform::SerialOpenResult{};
  };
}

void FakeSerialDevice::FailOpen(platform::SerialOpenResult result) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->open_failure = result;
}

void FakeSerialDevice::FailApply(int code) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->apply_failure = code;
}

void FakeSerialDevice::FailWrite(int code) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->write_failure = code;
}

void FakeSerialDevice::FailModemLines(int code) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->line_failure = code;
}

void FakeSerialDevice::LimitWrites(int bytes) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->write_limit = bytes;
}

void FakeSerialDevice::Receive(std::string_view bytes) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->input.append(bytes);
  state_->unreported_input = true;
  state_->Changed();
}

void FakeSerialDevice::HangUp() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->hang_up_pending = true;
  state_->Changed();
}

bool FakeSerialDevice::IsOpen() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->open;
}

int FakeSerialDevice::OpenCount() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->open_count;
}

std::string FakeSerialDevice::LastPath() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->last_path;
}

std::optional<platform::SerialSettings> FakeSerialDevice::Settings() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->settings;
}

std::string FakeSerialDevice::Written() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->written;
}

std::string FakeSerialDevice::InputQueue() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->input;
}

std::vector<std::string> FakeSerialDevice::Calls() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->calls;
}

int FakeSerialDevice::EventsDelivered() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->events_delivered;
}

bool FakeSerialDevice::WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    uint64_t seen = 0;
    {
      std::lock_guard<std::mutex> guard(state_->mutex);
      seen = state_->generation;
    }
    // Asked without the lock, so `ready` may use the getters.
    if (ready()) return true;
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->changed.wait_until(lock, deadline, [&] { return state_->generation != seen; })) {
      lock.unlock();
      return ready();
    }
  }
}

}  // namespace keep::test
