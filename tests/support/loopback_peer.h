// A descriptor a test owns for talking to a simulator: its pty slave, or a loopback TCP connection
// to one of its ports. Every read is bounded in time.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace keep::test {

class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // A connection to 127.0.0.1:port; null when refused.
  static std::unique_ptr<Peer> Connect(int port);
  // The slave as a serial link opens it: no controlling terminal, raw bytes.
  static std::unique_ptr<Peer> OpenSlave(const std::string& path);

  bool Ok() const { return fd_ >= 0; }
  void Send(std::string_view bytes);
  // One read of whatever arrives within `limit`; "" when nothing does (or the peer closed).
  std::string ReadSome(std::chrono::milliseconds limit);
  // Reads until `end` arrives, at most `limit`; the pieces as they came.
  std::vector<std::string> ReadPiecesUntil(char end, std::chrono::milliseconds limit);
  std::string ReadUntil(char end, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
  // True when the other side closed the connection within `limit`.
  bool SeesEnd(std::chrono::milliseconds limit);
  // A simulator control command and its whole reply ("OK\n", "ERR ...\n", or data lines and "END\n").
  std::string Command(const std::string& line);

 private:
  int fd_ = -1;
};

// The number after `label` on a line of its own in `output` ("TCP 4711"), -1 when missing.
int PortIn(const std::string& output, const std::string& label);

}  // namespace keep::test
