// A listening TCP socket on a free 127.0.0.1 port standing for the far end of a connection under
// test, and the one peer it accepted last. Every wait is bounded by `limit`, so a test that goes
// wrong fails instead of hanging. For one test thread; the sockets close with the object.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace keep::test {

class LoopbackListener {
 public:
  static constexpr std::chrono::milliseconds kDefaultLimit{5000};

  // `backlog` 0 makes a queue that fills at once (for connections that must hang).
  explicit LoopbackListener(int backlog = 4);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // False when the socket could not be set up; Port() is then meaningless.
  bool Ok() const { return ok_; }
  int Port() const { return port_; }

  // Takes the next connection as the peer, closing the previous one; false when none came in time.
  bool Accept(std::chrono::milliseconds limit = kDefaultLimit);
  // Whether a connection waits to be accepted, without waiting.
  bool Pending() const;
  // All of `data` to the peer at once; false when it did not all go (never raises SIGPIPE).
  bool Write(const std::string& data);
  // Reads until `count` bytes came, the peer went quiet for `limit`, or the stream ended.
  std::string Read(size_t count, std::chrono::milliseconds limit = kDefaultLimit);
  // True when the peer closed its end within `limit` (reads at most one byte).
  bool SeesEnd(std::chrono::milliseconds limit = kDefaultLimit);
  // With `reset` the other end is told at once that the connection is gone (RST instead of FIN).
  void ClosePeer(bool reset = false);

 private:
  int fd_ = -1;
  int peer_ = -1;
  int port_ = 0;
  bool ok_ = false;
};

// A loopback port that nothing listens on (one that was free a moment ago).
int ClosedLoopbackPort();

}  // namespace keep::test
