// A real program started by a test, with its output captured in files and every wait bounded.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace keep::test {

class ChildProcess {
 public:
  // Starts `program` with `arguments`; `environment` entries are added to (or replace those of)
  // the test's own environment. Standard output and error go to files in `output_folder`.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment, const std::string& output_folder);
  ~ChildProcess();  // kills the process when it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  int Pid() const { return pid_; }
  // The exit status (or 128 + signal) once it ended within `limit`; empty when it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  bool Running();
  void Signal(int signal_number);

  std::string StandardOutput() const;
  std::string StandardError() const;
  // Waits until standard output or error holds `text`, at most `limit`.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const;

 private:
  int pid_ = -1;
  std::optional<int> status_;
  std::string stdout_file_;
  std::string stderr_file_;
};

// Polls `condition` every 10 ms until it holds or `limit` has passed.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit);

// Pointers to the texts followed by a null pointer, as argv and envp are passed.
std::vector<char*> CStringPointers(std::vector<std::string>& texts);

// This process's environment with `environment` added or replacing, as "NAME=value" texts.
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& environment);

// The built program `name` (keepd, keepterm, upssim, mailout, ...) from the build folder the tests were built in.
std::string BuiltProgram(const std::string& name);
// The folder the tests were built in.
std::string BuildFolder();
// The source tree (for dist/).
std::string SourceFolder();

}  // namespace keep::test

#include "tests/support/child_process_inl.h"
