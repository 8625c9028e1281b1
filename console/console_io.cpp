#include "console/console_io.h"

#include <algorithm>

namespace keep::console {

void ConsoleIo::Write(std::string_view text) {
  std::lock_guard lock(mutex_);
  screen_ += text;
  if (!notice_) out_.Write(text);
}

void ConsoleIo::WriteLine(std::string_view text) {
  std::string line(text);
  line += '\n';
  Write(line);
}

void ConsoleIo::BeginScreen() {
  std::lock_guard lock(mutex_);
  screen_.clear();
}

std::string ConsoleIo::ReadInputLine() {
  std::string line;
  ReadAsMenu([&](std::stop_token stop) {
    std::optional<std::string> read = in_.ReadLine(stop);
    if (read) line = std::move(*read);
    return read.has_value();
  });
  return line;
}

KeyPress ConsoleIo::ReadInputKey() {
  KeyPress key;
  ReadAsMenu([&](std::stop_token stop) {
    const std::optional<KeyPress> read = in_.ReadKey(stop);
    if (read) key = *read;
    return read.has_value();
  });
  return key;
}

bool ConsoleIo::ReadAsMenu(const std::function<bool(std::stop_token)>& read) {
  for (;;) {
    std::stop_source interrupt;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !notice_; });
      menu_read_ = &interrupt;
    }
    const bool got = read(interrupt.get_token());
    std::lock_guard lock(mutex_);
    menu_read_ = nullptr;
    changed_.notify_all();
    if (got) {
      // What comes next answers this: a notice from now on does not repeat the question.
      screen_.clear();
      return true;
    }
    if (!interrupt.stop_requested()) {
      input_ended_ = true;
      return false;
    }
    // A notice took the keyboard; it draws the screen again when dismissed, then this reads again.
  }
}

void ConsoleIo::ShowNotice(std::string_view notice, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait(lock, stop, [this] { return !notice_; })) return;
  notice_ = true;
  const size_t held_from = screen_.size();
  if (menu_read_ != nullptr) menu_read_->request_stop();
  if (!changed_.wait(lock, stop, [this] { return menu_read_ == nullptr; })) {
    // Given up before it was shown: the screen was not interrupted, only its new text held back.
    EndNotice(std::string_view(screen_).substr(held_from));
    return;
  }
  out_.Write(notice);
  lock.unlock();
  const bool dismissed = in_.ReadLine(stop).has_value();
  lock.lock();
  if (!dismissed && !stop.stop_requested()) input_ended_ = true;
  // The notice scrolled the screen away: show it again, so the user sees what the next key answers.
  std::string redraw = screen_;
  std::erase(redraw, '\a');
  EndNotice(redraw);
}

void ConsoleIo::EndNotice(std::string_view text) {
  if (!text.empty()) out_.Write(text);
  notice_ = false;
  changed_.notify_all();
}

bool ConsoleIo::InputEnded() const {
  std::lock_guard lock(mutex_);
  return input_ended_;
}

}  // namespace keep::console
