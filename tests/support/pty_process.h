// A real program started on a pseudo-terminal of its own, as a person at a terminal would run it:
// the test types into it and reads what it shows. Every wait is bounded.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace keep::test {

class PtyProcess {
 public:
  PtyProcess(const std::string& program, const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& environment);
  ~PtyProcess();  // kills the program when it still runs
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Sends bytes as typed keys (a Ctrl+C is "\x03").
  void Type(const std::string& keys);
  // Reads until everything shown so far contains `text`, at most `limit`.
  bool WaitForScreen(const std::string& text, std::chrono::milliseconds limit);
  // Everything the program has written to the terminal so far.
  const std::string& Screen() const { return screen_; }
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  bool Running();

 private:
  void ReadAvailable(int timeout_ms);
  int pid_ = -1;
  int master_ = -1;
  std::optional<int> status_;
  std::string screen_;
};

}  // namespace keep::test
