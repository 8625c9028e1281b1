// The console as the client's screens see it: an input source and an output sink behind small
// interfaces, so that every screen can be driven by a script in tests, and the terminal is only one
// implementation of them (terminal_io.h).
#pragma once

#include <condition_variable>
#include <functional>
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
  // One typed line without its line end. Empty at end of input or when `stop` was requested; a
  // stopped read returns soon and loses nothing: what it had taken in but not handed out stays for
  // the next read (ConsoleIo stops a waiting read to give the keyboard to a notice).
  virtual std::optional<std::string> ReadLine(std::stop_token stop) = 0;
  // One key press without echo; empty at end of input or when `stop` was requested (as ReadLine).
  virtual std::optional<KeyPress> ReadKey(std::stop_token stop) = 0;
};

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void Write(std::string_view text) = 0;
};

// The pair the screens use, plus what the console remembers between reads: the pending extended
// key code, whether the input has ended, and who has the keyboard.
//
// Threads: the menu thread draws the screens and asks the questions (every member but ShowNotice);
// the receive thread shows the server's notices (ShowNotice). The keyboard has one reader at a time.
// A notice takes it from the menu thread: a read of the menu thread that waits for the user is
// stopped, the menu thread's output is held back, the notice is shown and reads its ENTER, and then
// the screen the menu thread was showing is written again and its read goes on. So the ENTER that
// dismisses a notice never reaches a menu, and what is typed after it does.
class ConsoleIo {
 public:
  // Both must outlive the object.
  ConsoleIo(InputSource& in, OutputSink& out) : in_(in), out_(out) {}

  // Writes `text`; while a notice is shown it is held back and appears once the notice is dismissed.
  void Write(std::string_view text);
  // `text` and a line end; an empty line without argument.
  void WriteLine(std::string_view text = {});
  void Beep() { Write("\a"); }
  // A screen starts here (a menu or a title): a notice shows it again from here on. An answer read
  // from the user starts one as well, so a notice repeats at least the question it interrupted.
  void BeginScreen();

  // A line from the input source; "" at end of input (InputEnded() then tells). Waits while a
  // notice is shown; a notice that comes while this waits for the user reads first.
  std::string ReadInputLine();
  // A key press, as ReadInputLine; character 0 with extended 0 at end of input.
  KeyPress ReadInputKey();

  // Receive thread. Shows `notice` (its text ending with the ENTER prompt) once the menu thread's
  // read, if one waits, has given up the keyboard, reads one line (the ENTER), then writes again
  // the screen the menu thread was showing (without its beeps) and what it wrote meanwhile. Returns
  // early when `stop` is requested or the input ends. One notice at a time; a second one waits.
  void ShowNotice(std::string_view notice, std::stop_token stop);

  // True once the input source reported its end: a caller that asks again would get nothing more.
  bool InputEnded() const;

  // The extended code left by the last key without a character; 0 when none. Menu thread.
  int PendingKey() const { return pending_key_; }
  void SetPendingKey(int code) { pending_key_ = code; }

 private:
  // Runs `read` with a stop token that a notice may trigger, until it gives a value (true) or the
  // input ends (false); after a notice it waits until the notice is dismissed and reads again.
  bool ReadAsMenu(const std::function<bool(std::stop_token)>& read);
  // Writes `text`, ends the notice and wakes the menu thread. Called with mutex_ held.
  void EndNotice(std::string_view text);

  InputSource& in_;
  OutputSink& out_;
  mutable std::mutex mutex_;  // guards the members below; held while writing, never while reading
  std::condition_variable_any changed_;
  bool input_ended_ = false;
  bool notice_ = false;                    // a notice has the keyboard (or is taking it)
  std::stop_source* menu_read_ = nullptr;  // the menu thread's read in progress, to stop for a notice
  std::string screen_;                     // the menu thread's output since the screen began
  int pending_key_ = 0;
};

}  // namespace keep::console
