// A remote agent on a free 127.0.0.1 port for tests of the remote commands: it greets every
// connection with a configurable line and records what each connection sends until the other side
// closes. Every connection is served on a thread of its own; every wait is bounded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace keep::test {

class RemoteAgent {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{10000};

  // `greeting` is sent as it is followed by CR LF as soon as a connection is accepted; nothing
  // (an agent that never greets) when empty.
  explicit RemoteAgent(std::optional<std::string> greeting);
  // Closes every connection and joins the threads.
  ~RemoteAgent();
  RemoteAgent(const RemoteAgent&) = delete;
  RemoteAgent& operator=(const RemoteAgent&) = delete;

  bool Ok() const { return ok_; }
  int Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  // True once `count` connections were accepted and the other side closed each of them; false
  // when that did not happen within `limit`.
  bool WaitForClosedSessions(size_t count, std::chrono::milliseconds limit = kDefaultLimit);
  size_t Accepted() const;
  // What the connection numbered `index` (in the order accepted) sent so far.
  std::string Received(size_t index) const;

 private:
  struct Session {
    std::string received;
    bool closed = false;
  };
  void AcceptLoop();
  void Serve(int fd, size_t index);

  const std::optional<std::string> greeting_;
  int listener_ = -1;
  int port_ = 0;
  bool ok_ = false;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;  // guarded by mutex_
  std::vector<Session> sessions_;
  std::vector<std::thread> threads_;  // accept thread only, until the destructor joins them
  std::thread acceptor_;
};

}  // namespace keep::test
