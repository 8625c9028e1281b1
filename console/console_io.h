// The console as the client's screens see it: an input source and an output sink behind small
// interfaces, so that every screen can be driven by a script in tests, and the terminal is only one
// implementation of them (terminal_io.h).
#pragma once

#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/console.h"

namespace keep::console {

using platform::KeyPress;

class InputSource {
 public:
  virtual ~InputSource() = default;
  // One typed line without its line end. Empty at end of input or when `stop` was requested. May
  // be called from two threads at once (the menu thread and the receive thread showing a
  // broadcast); each line goes to one of them.
  virtual std::optional<std::string> ReadLine(std::stop_token stop) = 0;
  // One key press without echo; empty at end of input or when `stop` was requested.
  virtual std::optional<KeyPress> ReadKey(std::stop_token stop) = 0;
};

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void Write(std::string_view text) = 0;
};

// The pair the screens use, plus what the console remembers between reads: the pending extended
// key code and whether the input has ended. Writes are serialised, so text written by the receive
// thread never cuts into a line of the menu thread. Key reads are for one thread (the menu thread).
class ConsoleIo {
 public:
  // Both must outlive the object.
  ConsoleIo(InputSource& in, OutputSink& out) : in_(in), out_(out) {}

  void Write(std::string_view text);
  // `text` and a line end; an empty line without argument.
  void WriteLine(std::string_view text = {});
  void Beep() { Write("\a"); }

  // A line from the input source; "" at end of input (InputEnded() then tells) or on stop.
  std::string ReadInputLine(std::stop_token stop = {});
  // A key press; character 0 with extended 0 at end of input or on stop.
  KeyPress ReadInputKey(std::stop_token stop = {});

  // True once the input source reported its end: a caller that asks again would get nothing more.
  bool InputEnded() const;

  // The extended code left by the last key without a character; 0 when none.
  int PendingKey() const { return pending_key_; }
  void SetPendingKey(int code) { pending_key_ = code; }

 private:
  InputSource& in_;
  OutputSink& out_;
  std::mutex write_mutex_;
  mutable std::mutex state_mutex_;
  bool input_ended_ = false;
  int pending_key_ = 0;
};

}  // namespace keep::console
