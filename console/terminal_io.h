// The real console: the client's input source and output sink on a platform terminal.
#pragma once

#include "console/console_io.h"
#include "platform/console.h"

namespace keep::console {

// Both read from and write to `terminal`, which must outlive them. Thread-safe as the terminal is.
class TerminalInput : public InputSource {
 public:
  explicit TerminalInput(platform::Terminal& terminal) : terminal_(terminal) {}
  std::optional<std::string> ReadLine(std::stop_token stop) override { return terminal_.ReadLine(stop); }
  std::optional<KeyPress> ReadKey(std::stop_token stop) override { return terminal_.ReadKey(stop); }

 private:
  platform::Terminal& terminal_;
};

class TerminalOutput : public OutputSink {
 public:
  explicit TerminalOutput(platform::Terminal& terminal) : terminal_(terminal) {}
  void Write(std::string_view text) override { terminal_.Write(text); }

 private:
  platform::Terminal& terminal_;
};

}  // namespace keep::console
