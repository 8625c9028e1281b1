// Test doubles of the console client's surroundings: a scripted console, a scripted server link and
// a pause that only counts. Each records what happened; every wait is bounded.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/scrambling.h"
#include "console/console_io.h"
#include "console/pause.h"
#include "console/server_link.h"

namespace keep::console::test {

// Lines and keys given in advance; once they are used up the input has ended (unless `hold` was
// set, in which case a reader waits until more is given or its stop is requested). A stopped read
// takes nothing.
class ScriptedInput : public InputSource {
 public:
  explicit ScriptedInput(std::vector<std::string> lines = {}) : lines_(lines.begin(), lines.end()) {}

  void AddLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
    changed_.notify_all();
  }
  void AddKey(KeyPress key) {
    std::lock_guard lock(mutex_);
    keys_.push_back(key);
    changed_.notify_all();
  }
  // Readers wait for more input instead of seeing its end.
  void Hold(bool hold) {
    std::lock_guard lock(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }
  int LinesRead() const {
    std::lock_guard lock(mutex_);
    return lines_read_;
  }
  int KeysRead() const {
    std::lock_guard lock(mutex_);
    return keys_read_;
  }

  std::optional<std::string> ReadLine(std::stop_token stop) override { return Take(lines_, lines_read_, stop); }
  std::optional<KeyPress> ReadKey(std::stop_token stop) override { return Take(keys_, keys_read_, stop); }

 private:
  // The first entry of `queue`, counted in `taken`; while held, waits (at most 10 s) for one to be
  // given unless `stop` is requested.
  template <typename Queue>
  std::optional<typename Queue::value_type> Take(Queue& queue, int& taken, std::stop_token stop) {
    // Registered before the lock is taken (and so ended after it is released): with a stop already
    // requested it runs at once.
    std::stop_callback wake(stop, [this] {
      std::lock_guard inner(mutex_);
      changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (queue.empty() && hold_ && !stop.stop_requested()) {
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    if (queue.empty() || stop.stop_requested()) return std::nullopt;
    typename Queue::value_type value = queue.front();
    queue.pop_front();
    ++taken;
    return value;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::deque<KeyPress> keys_;
  bool hold_ = false;
  int lines_read_ = 0;
  int keys_read_ = 0;
};

class RecordingOutput : public OutputSink {
 public:
  void Write(std::string_view text) override {
    std::lock_guard lock(mutex_);
    text_ += text;
  }
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  bool Shows(const std::string& part) const { return Text().find(part) != std::string::npos; }
  // Waits (bounded) until `part` has been written.
  bool WaitFor(const std::string& part) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Shows(part)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }
  size_t Count(const std::string& part) const {
    const std::string text = Text();
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// A server on the other end of the link. Every request written is unscrambled and handed to the
// responder, whose answer frames are queued as scrambled lines for the receive thread.
class FakeServerLink : public ServerLink {
 public:
  using Responder = std::function<std::vector<std::string>(const std::string& request)>;

  bool accept = true;        // whether Connect succeeds
  bool fail_writes = false;  // whether Write fails
  Responder responder;

  bool Connect(const std::string& host, const std::string& port, int) override {
    std::lock_guard lock(mutex_);
    connects_.push_back(host + ":" + port);
    connected_ = accept;
    incoming_.clear();
    return connected_;
  }
  bool Connected() const override {
    std::lock_guard lock(mutex_);
    return connected_;
  }
  bool Write(std::string_view bytes) override {
    std::vector<std::string> answers;
    {
      std::lock_guard lock(mutex_);
      if (!connected_ || fail_writes) return false;
      written_ += bytes;
      if (payload_due_ > 0) {
        // The bytes announced by an upload request: recorded, not a request.
        payload_ += bytes;
        payload_due_ -= std::min(payload_due_, bytes.size());
        return true;
      }
      const std::string line(bytes);
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        const std::string plain = UnscrambleText(line.substr(0, line.size() - 2));
        requests_.push_back(plain);
        if (plain.rfind("<|203|", 0) == 0) payload_due_ = std::stoul(plain.substr(6));
        if (responder) answers = responder(plain);
      }
    }
    for (const std::string& answer : answers) Push(answer);
    return true;
  }
  LinkRead ReadLine(std::string* line, int timeout_ms) override {
    std::unique_lock lock(mutex_);
    ++reads_;
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [this] { return !incoming_.empty() || !connected_; });
    if (!incoming_.empty()) {
      *line = incoming_.front();
      incoming_.pop_front();
      return LinkRead::kLine;
    }
    return connected_ ? LinkRead::kTimeout : LinkRead::kClosed;
  }
  void Close() override {
    std::lock_guard lock(mutex_);
    if (connected_) ++closes_;
    connected_ = false;
    changed_.notify_all();
  }

  // Queues the plain frame as the server would send it.
  void Push(const std::string& frame) {
    std::lock_guard lock(mutex_);
    incoming_.push_back(ScrambleText(frame));
    changed_.notify_all();
  }
  // The server ends the connection.
  void Drop() {
    std::lock_guard lock(mutex_);
    connected_ = false;
    changed_.notify_all();
  }
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::string Payload() const {
    std::lock_guard lock(mutex_);
    return payload_;
  }
  std::string Written() const {
    std::lock_guard lock(mutex_);
    return written_;
  }
  std::vector<std::string> Connects() const {
    std::lock_guard lock(mutex_);
    return connects_;
  }
  int Closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
  }
  bool Drained() const {
    std::lock_guard lock(mutex_);
    return incoming_.empty();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  std::deque<std::string> incoming_;
  std::vector<std::string> requests_;
  std::vector<std::string> connects_;
  std::string written_;
  std::string payload_;
  size_t payload_due_ = 0;
  int reads_ = 0;
  int closes_ = 0;
};

// Counts the waits instead of waiting; `on_wait` runs at each (with the number of the wait, from 1).
class CountingPause : public Pause {
 public:
  std::function<void(int)> on_wait;
  void Wait(int ms) override {
    ++waits_;
    total_ms_ += ms;
    if (on_wait) on_wait(waits_);
  }
  int Waits() const { return waits_; }
  long TotalMs() const { return total_ms_; }

 private:
  int waits_ = 0;
  long total_ms_ = 0;
};

// The identification of a UPS of `kind`, as the server answers request 100.
inline std::string Identification(int kind, const std::string& model = "Keep LineGuard 1000") {
  return "<|100|" + model + "|LineGuard|1|700|1000|2.1|SN42|LG1000|" + std::to_string(kind) + "|Lab|secret|>";
}

}  // namespace keep::console::test
