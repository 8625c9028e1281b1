#include "console/console_io.h"

namespace keep::console {

void ConsoleIo::Write(std::string_view text) {
  std::lock_guard lock(write_mutex_);
  out_.Write(text);
}

void ConsoleIo::WriteLine(std::string_view text) {
  std::string line(text);
  line += '\n';
  Write(line);
}

std::string ConsoleIo::ReadInputLine(std::stop_token stop) {
  std::optional<std::string> line = in_.ReadLine(stop);
  if (line) return *line;
  if (!stop.stop_requested()) {
    std::lock_guard lock(state_mutex_);
    input_ended_ = true;
  }
  return {};
}

KeyPress ConsoleIo::ReadInputKey(std::stop_token stop) {
  std::optional<KeyPress> key = in_.ReadKey(stop);
  if (key) return *key;
  if (!stop.stop_requested()) {
    std::lock_guard lock(state_mutex_);
    input_ended_ = true;
  }
  return {};
}

bool ConsoleIo::InputEnded() const {
  std::lock_guard lock(state_mutex_);
  return input_ended_;
}

}  // namespace keep::console
