// Dialogs of a program without a desktop: a box is a line on standard error, a question goes to
// the controlling terminal. Nobody at a terminal means nobody said yes.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dialogs.h"

namespace keep::platform {

namespace {

// Longer answers are read to their end but only this much is looked at.
constexpr size_t kMaxAnswer = 64;

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Windows texts break lines with CR LF or CR; a terminal wants LF.
std::string WithUnixLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsYes(std::string_view answer) {
  while (!answer.empty() && (answer.front() == ' ' || answer.front() == '\t')) answer.remove_prefix(1);
  while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\t' || answer.back() == '\r')) {
    answer.remove_suffix(1);
  }
  std::string lower;
  for (char c : answer) lower.push_back(AsciiLower(c));
  return lower == "y" || lower == "yes";
}

// One line from the terminal, at most kMaxAnswer bytes kept. False when the terminal hung up or
// failed before anything was typed.
bool ReadLine(int fd, std::string& line) {
  char c = 0;
  while (true) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return !line.empty();
    if (c == '\n') return true;
    if (line.size() < kMaxAnswer) line.push_back(c);
  }
}

class SystemDialogs final : public Dialogs {
 public:
  int ShowMessageBox(std::string_view caption, std::string_view text, int /*flags*/) override {
    std::string line(caption);
    line += ": ";
    line += WithUnixLineBreaks(text);
    line += '\n';
    // One write, so lines of several threads do not interleave.
    WriteAll(STDERR_FILENO, line);
    return kIdOk;
  }

  bool AskYesNo(std::string_view caption, std::string_view text) override {
    // O_NOCTTY: a server without a terminal must not acquire one by asking.
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string question(caption);
    question += ": ";
    question += WithUnixLineBreaks(text);
    question += " [y/N] ";
    std::string answer;
    const bool yes = WriteAll(fd, question) && ReadLine(fd, answer) && IsYes(answer);
    ::close(fd);
    return yes;
  }
};

}  // namespace

std::unique_ptr<Dialogs> Dialogs::CreateSystem() { return std::make_unique<SystemDialogs>(); }

}  // namespace keep::platform
