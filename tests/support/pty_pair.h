// A pseudo-terminal pair for tests of code that opens a serial device: the test plays the device on
// the master side.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace keep::test {

// A pseudo-terminal pair in raw mode: the test plays the peer on the master side while the code
// under test opens the slave by its path.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& SlavePath() const { return slave_path_; }
  // The slave descriptor the pair keeps open (for tcgetattr and to see the slave's queue).
  int Slave() const { return slave_; }

  // Writes `bytes` on the master: they arrive on the slave.
  void WriteMaster(std::string_view bytes);
  // Reads from the master until `count` bytes came or `limit` passed.
  std::string ReadMaster(size_t count, std::chrono::milliseconds limit);
  // Waits until the slave's input queue holds at least `count` bytes.
  bool WaitSlaveQueue(int count, std::chrono::milliseconds limit);
  // Closing the master hangs up the slave.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

// Threads of this process now (from /proc/self/task).
int CountProcessThreads();
// Whether the thread count becomes `expected` within `limit`: a joined thread can stay listed for a
// moment while the kernel finishes its exit, so a count taken right after a join may be one high.
bool ThreadsSettleAt(int expected, std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

}  // namespace keep::test
