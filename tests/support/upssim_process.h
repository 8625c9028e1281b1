// A running upssim for end-to-end tests: over a pty or loopback TCP, with its control port and a
// record of the queries it received.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/loopback_peer.h"

namespace keep::test {

class UpsSimulator {
 public:
  enum class Link { kPty, kTcp };

  // Starts the simulator of UPS protocol number `protocol` (any upssim answers, Megatec or binary)
  // and waits until it is ready; its output and record file go to `folder`. `extra_arguments` are
  // added to its command line (e.g. {"--ident", "#..."}). Check Ready() after.
  UpsSimulator(Link link, int protocol, const std::string& folder,
               const std::vector<std::string>& extra_arguments = {});
  ~UpsSimulator();

  bool Ready() const { return ready_; }
  // The device a serial link opens (pty) and the port a network link connects to (TCP).
  const std::string& SlavePath() const { return slave_path_; }
  int TcpPort() const { return tcp_port_; }

  // A control command and its reply ("OK\n", "ERR ...\n", or lines and "END\n").
  std::string Command(const std::string& line);
  // Every query received so far, one per line.
  std::string RecordedQueries() const;
  // Ends it with SIGTERM; its exit status (empty when it did not end in time).
  std::optional<int> Stop();
  std::string Output() const { return process_->StandardOutput() + process_->StandardError(); }

 private:
  std::unique_ptr<ChildProcess> process_;
  std::unique_ptr<Peer> control_;
  std::string record_file_;
  std::string slave_path_;
  int tcp_port_ = -1;
  bool ready_ = false;
};

}  // namespace keep::test
