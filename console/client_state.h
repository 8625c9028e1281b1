// The one client state of the console program: where it is connected, the flags the menu thread
// and the receive thread meet at, and the data the answers filled in.
//
// Threads: host, port and connected belong to the menu thread. The flags are atomic. The data is
// written by the receive thread under the state's lock; the menu thread reads it through Snapshot
// (or Update) after the answer-received flag was set, which happens only once an answer is stored.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "console/console_data.h"

namespace keep::console {

inline constexpr char kDefaultHost[] = "127.0.0.1";
inline constexpr int kDefaultPort = 5769;
inline constexpr int kConnectTimeoutMs = 10000;
inline constexpr int kAnswerPollMs = 100;
inline constexpr int kAnswerPolls = 400;

class ClientState {
 public:
  std::string host;
  std::string port;
  bool connected = false;

  std::atomic<bool> ups_present{false};
  // Set by the receive thread when an answer to the pending request has been stored.
  std::atomic<bool> answer_received{false};
  // The code of the request last sent; answers of other codes do not count as its answer.
  std::atomic<int> pending_code{-1};

  // A copy of the data, taken under the lock.
  ConsoleData Snapshot() const {
    std::lock_guard lock(mutex_);
    return data_;
  }
  // Runs `read(data)` under the lock and returns what it returns.
  template <typename Read>
  auto Inspect(Read&& read) const {
    std::lock_guard lock(mutex_);
    return read(static_cast<const ConsoleData&>(data_));
  }
  // Runs `change(data)` under the lock and returns what it returns.
  template <typename Change>
  auto Update(Change&& change) {
    std::lock_guard lock(mutex_);
    return change(data_);
  }

 private:
  mutable std::mutex mutex_;
  ConsoleData data_;
};

}  // namespace keep::console
