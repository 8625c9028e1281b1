#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <mutex>

#include "platform/console.h"

namespace keep::platform {

namespace {

constexpr int kPollStepMs = 100;
// How long the rest of a control sequence may lag behind its ESC before ESC counts as a key.
constexpr int kSequenceGapMs = 50;

// The mode to restore when a signal ends the process in the middle of a key read. A signal
// handler can only reach it through static storage; one terminal is in raw mode at a time.
struct RawModeRecord {
  std::atomic<int> fd{-1};
  termios saved{};
};
RawModeRecord g_raw_mode;

constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreAndReraise(int signal_number) {
  const int fd = g_raw_mode.fd.load();
  if (fd >= 0) tcsetattr(fd, TCSANOW, &g_raw_mode.saved);
  // End the way the signal would have ended the process, so the parent sees the real cause.
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Raw mode for the lifetime of the object: no line editing, no echo, ENTER as CR, but Ctrl+C
// still raises SIGINT. Nothing happens when `fd` is not a terminal.
class RawModeScope {
 public:
  explicit RawModeScope(int fd) {
    termios current{};
    if (tcgetattr(fd, &current) != 0) return;
    termios raw = current;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_raw_mode.saved = current;
    g_raw_mode.fd.store(fd);
    struct sigaction action {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kRestoredSignals); ++i) {
      sigaction(kRestoredSignals[i], &action, &previous_[i]);
    }
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
      Leave();
      return;
    }
    fd_ = fd;
  }
  ~RawModeScope() {
    if (fd_ >= 0) {
      tcsetattr(fd_, TCSANOW, &g_raw_mode.saved);
      Leave();
    }
  }
  RawModeScope(const RawModeScope&) = delete;
  RawModeScope& operator=(const RawModeScope&) = delete;

 private:
  void Leave() {
    g_raw_mode.fd.store(-1);
    for (size_t i = 0; i < std::size(kRestoredSignals); ++i) sigaction(kRestoredSignals[i], &previous_[i], nullptr);
  }

  int fd_ = -1;
  struct sigaction previous_[std::size(kRestoredSignals)]{};
};

class PosixTerminal : public Terminal {
 public:
  PosixTerminal(int in_fd, int out_fd, bool owns) : in_fd_(in_fd), out_fd_(out_fd), owns_(owns) {}
  ~PosixTerminal() override {
    if (owns_) close(in_fd_);
  }
  PosixTerminal(const PosixTerminal&) = delete;
  PosixTerminal& operator=(const PosixTerminal&) = delete;

  std::optional<std::string> ReadLine(std::stop_token stop) override {
    for (;;) {
      {
        std::lock_guard lock(input_mutex_);
        if (std::optional<std::string> line = TakeLine()) return line;
        if (ended_) return std::nullopt;
      }
      if (stop.stop_requested()) return std::nullopt;
      if (!WaitInput(kPollStepMs)) continue;
      std::lock_guard lock(input_mutex_);
      FillLocked(0);
    }
  }

  std::optional<KeyPress> ReadKey(std::stop_token stop) override {
    RawModeScope raw(in_fd_);
    for (;;) {
      {
        std::lock_guard lock(input_mutex_);
        if (!buffer_.empty()) {
          // Give the rest of a control sequence a moment to arrive behind its ESC.
          if (buffer_.size() < 8 && buffer_[0] == 27) FillLocked(kSequenceGapMs);
          size_t used = 0;
          const std::optional<KeyPress> key = DecodeKeySequence(buffer_, &used);
          buffer_.erase(0, used);
          if (key) return key;
          continue;  // a sequence that names no key is skipped
        }
        if (ended_) return std::nullopt;
      }
      if (stop.stop_requested()) return std::nullopt;
      if (!WaitInput(kPollStepMs)) continue;
      std::lock_guard lock(input_mutex_);
      FillLocked(0);
    }
  }

  void Write(std::string_view text) override {
    std::lock_guard lock(output_mutex_);
    while (!text.empty()) {
      const ssize_t n = ::write(out_fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      text.remove_prefix(static_cast<size_t>(n));
    }
  }

  bool IsUtf8() const override {
    auto env = [](const char* name) {
      const char* value = std::getenv(name);
      return std::string_view(value == nullptr ? "" : value);
    };
    return LocaleIsUtf8(env("LC_ALL"), env("LC_CTYPE"), env("LANG"));
  }

 private:
  // True when input (or its end) is there within `timeout_ms`.
  bool WaitInput(int timeout_ms) const {
    pollfd entry{in_fd_, POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0;
  }

  // Reads what has arrived within `timeout_ms` into the buffer. Called with the input lock held;
  // another thread may have taken the input since it was announced, so read only when it is still
  // there: the read then never blocks.
  void FillLocked(int timeout_ms) {
    if (ended_ || !WaitInput(timeout_ms)) return;
    char chunk[4096];
    const ssize_t n = ::read(in_fd_, chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      ended_ = true;  // end of file, or a hung-up terminal (EIO)
    }
  }

  std::optional<std::string> TakeLine() { return TakeBufferedLine(&buffer_, ended_); }

  const int in_fd_;
  const int out_fd_;
  const bool owns_;
  std::mutex input_mutex_;
  std::string buffer_;  // input read but not handed out yet; shared by line and key reads
  bool ended_ = false;
  std::mutex output_mutex_;
};

}  // namespace

std::unique_ptr<Terminal> Terminal::CreateStandard() {
  return std::make_unique<PosixTerminal>(STDIN_FILENO, STDOUT_FILENO, false);
}

std::unique_ptr<Terminal> Terminal::OpenDevice(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixTerminal>(fd, fd, true);
}

}  // namespace keep::platform
