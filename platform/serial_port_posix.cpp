#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/serial_port.h"

namespace keep::platform {

namespace {

// How often a hung-up device is looked at again.
constexpr int kHangUpRecheckMs = 100;
// How often a device holding only bytes already reported is looked at again: poll() would report
// it readable at once, every time.
constexpr int kQuietRecheckMs = 50;

int MapOpenError(int code) {
  switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return 2;  // the port does not exist
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return 5;  // someone else holds it, or we may not use it
    default:
      return code;
  }
}

bool SpeedOf(int bit_rate, speed_t* speed) {
  static constexpr struct {
    int rate;
    speed_t speed;
  } kSpeeds[] = {
      {110, B110},   {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},     {4800, B4800},
      {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
  };
  for (const auto& entry : kSpeeds) {
    if (entry.rate == bit_rate) {
      *speed = entry.speed;
      return true;
    }
  }
  return false;
}

bool CharSizeOf(int data_bits, tcflag_t* size) {
  switch (data_bits) {
    case 5:
      *size = CS5;
      return true;
    case 6:
      *size = CS6;
      return true;
    case 7:
      *size = CS7;
      return true;
    case 8:
      *size = CS8;
      return true;
    default:
      return false;
  }
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort(int fd, int wake_read, int wake_write, int initial_level)
      : fd_(fd), wake_read_(wake_read), wake_write_(wake_write), reported_level_(initial_level) {}
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  ~PosixSerialPort() override {
    // Exclusivity belongs to the terminal, not to this descriptor: clear it, or the device stays
    // closed to everyone else (but root) while any other descriptor of it remains open.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the flock
    ::close(wake_read_);
    ::close(wake_write_);
  }

  int Apply(const SerialSettings& settings) override {
    speed_t speed = B0;
    tcflag_t char_size = CS8;
    if (!SpeedOf(settings.bit_rate, &speed) || !CharSizeOf(settings.data_bits, &char_size)) return EINVAL;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    const tcflag_t kept_hardware_flow = t.c_cflag & CRTSCTS;
    const tcflag_t kept_software_flow = t.c_iflag & (IXON | IXOFF | IXANY);

    ::cfmakeraw(&t);
    // CLOCAL: a UPS cable seldom carries carrier detect, and without it the port would not read.
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag = (t.c_cflag & ~CSIZE) | char_size;
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (settings.parity) {
      case SerialParity::kNone:
        break;
      case SerialParity::kOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
      case SerialParity::kEven:
        t.c_cflag |= PARENB;
        break;
      case SerialParity::kMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
      case SerialParity::kSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (settings.stop_bits != SerialStopBits::kOne) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(INPCK | IGNPAR | IXON | IXOFF | IXANY);
    if (settings.parity_check) t.c_iflag |= INPCK;
    switch (settings.flow_control) {
      case SerialFlowControl::kNone:
      case SerialFlowControl::kDtr:
        break;
      case SerialFlowControl::kCts:
        t.c_cflag |= CRTSCTS;
        break;
      case SerialFlowControl::kSoftware:
        t.c_iflag |= IXON | IXOFF;
        break;
      case SerialFlowControl::kKeep:
        t.c_cflag |= kept_hardware_flow;
        t.c_iflag |= kept_software_flow;
        break;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(settings.xon_char);
    t.c_cc[VSTOP] = static_cast<cc_t>(settings.xoff_char);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) return errno;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    return 0;
  }

  int Read(char* buffer, int capacity, int* count) override {
    *count = 0;
    if (capacity <= 0) return 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(capacity));
      if (n > 0) {
        *count = static_cast<int>(n);
        consumed_.fetch_add(1);
        return 0;
      }
      // 0 is what a hung-up terminal gives; WaitEvent reports the hang-up itself.
      if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      if (errno != EINTR) return errno;
    }
  }

  int Write(const char* data, int size, int timeout_ms, int* written) override {
    *written = 0;
    const int64_t deadline = NowMs() + std::max(timeout_ms, 0);
    while (*written < size) {
      const ssize_t n = ::write(fd_, data + *written, static_cast<size_t>(size - *written));
      if (n > 0) {
        *written += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
      const int64_t remaining = deadline - NowMs();
      if (remaining <= 0) return 0;
      pollfd out{fd_, POLLOUT, 0};
      const int ready = ::poll(&out, 1, static_cast<int>(remaining));
      if (ready < 0 && errno != EINTR) return errno;
      if (ready > 0 && (out.revents & POLLOUT) == 0) return EIO;  // hung up: it will never take them
    }
    return 0;
  }

  int InQueue(int* count) override {
    int level = 0;
    if (::ioctl(fd_, FIONREAD, &level) != 0) return errno;
    *count = level;
    return 0;
  }

  int Purge(bool input, bool output) override {
    if (!input && !output) return 0;
    const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (::tcflush(fd_, queue) != 0) return errno;
    if (input) consumed_.fetch_add(1);
    return 0;
  }

  int SetModemLine(SerialModemLine line, bool raised) override {
    int bits = line == SerialModemLine::kDtr ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
    // A pseudo-terminal has no modem lines; the simulator's peer on it does not look at them.
    if (errno == ENOTTY || errno == EINVAL) return 0;
    return errno;
  }

  int SetBreak(bool on) override { return ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno; }

  int SetOutputFlow(bool resume) override { return ::tcflow(fd_, resume ? TCOON : TCOOFF) == 0 ? 0 : errno; }

  Event WaitEvent(int timeout_ms) override {
    const int64_t deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
    for (;;) {
      const int remaining = deadline < 0 ? -1 : static_cast<int>(std::max<int64_t>(deadline - NowMs(), 0));
      // poll() cannot wait for "more bytes than now" nor for "no longer hung up", so in those
      // states only the wake-up pipe is watched, for a bounded slice, and the device is looked at
      // afterwards.
      const bool watch_device = !hung_up_ && !quiet_;
      int wait = remaining;
      if (!watch_device) {
        const int slice = hung_up_ ? kHangUpRecheckMs : kQuietRecheckMs;
        wait = remaining < 0 ? slice : std::min(remaining, slice);
      }
      pollfd fds[2] = {{wake_read_, POLLIN, 0}, {fd_, POLLIN, 0}};
      const int ready = ::poll(fds, watch_device ? 2 : 1, wait);
      if (ready < 0 && errno != EINTR) {
        hung_up_ = true;
        return Event::kHangUp;
      }
      if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        DrainWakeUps();
        return Event::kInterrupted;
      }
      short device = fds[1].revents;
      if (!watch_device) {
        pollfd now{fd_, POLLIN, 0};
        device = ::poll(&now, 1, 0) > 0 ? now.revents : 0;
      }
      if ((device & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        if (!hung_up_) {
          hung_up_ = true;
          return Event::kHangUp;
        }
      } else {
        hung_up_ = false;
        quiet_ = false;
        if ((device & POLLIN) != 0) {
          int level = 0;
          const uint64_t consumed = consumed_.load();
          if (::ioctl(fd_, FIONREAD, &level) == 0 && level > 0 &&
              (consumed != reported_consumed_ || level > reported_level_)) {
            reported_consumed_ = consumed;
            reported_level_ = level;
            return Event::kReadable;
          }
          quiet_ = true;
        }
      }
      if (deadline >= 0 && NowMs() >= deadline) return Event::kTimeout;
    }
  }

  void Interrupt() override {
    const char byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_, &byte, 1);
  }

 private:
  void DrainWakeUps() {
    char bytes[64];
    while (::read(wake_read_, bytes, sizeof bytes) > 0) {
    }
  }

  const int fd_;
  const int wake_read_;
  const int wake_write_;
  // Counts reads and input purges, so WaitEvent can tell bytes already reported from fresh ones.
  std::atomic<uint64_t> consumed_{0};
  // WaitEvent's own state (its one thread only).
  int reported_level_ = 0;
  uint64_t reported_consumed_ = 0;
  bool hung_up_ = false;
  bool quiet_ = false;
};

bool MakeWakeUpPipe(int fds[2]) {
  if (::pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fds[i], F_SETFL, O_NONBLOCK) != 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return false;
    }
  }
  return true;
}

}  // namespace

SerialOpenResult SerialPort::Open(const std::string& path, std::unique_ptr<SerialPort>* port) {
  // O_NONBLOCK: neither the open nor a read may wait for carrier or data.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {MapOpenError(errno), false};
  const auto fail = [fd](int code, bool wrong_type = false) {
    ::close(fd);
    return SerialOpenResult{code, wrong_type};
  };
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(errno);
  if (!S_ISCHR(info.st_mode)) return fail(ENOTTY, true);
  // TIOCEXCL alone does not stop root, and the server often runs as root: the lock does.
  int locked = 0;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0) return fail(MapOpenError(errno));
  // A character device that is no terminal refuses this; applying the settings reports it then.
  ::ioctl(fd, TIOCEXCL);
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  int wake[2];
  if (!MakeWakeUpPipe(wake)) {
    const int code = errno;
    ::ioctl(fd, TIOCNXCL);
    return fail(code);
  }
  int level = 0;
  if (::ioctl(fd, FIONREAD, &level) != 0) level = 0;
  *port = std::make_unique<PosixSerialPort>(fd, wake[0], wake[1], level);
  return {};
}

}  // namespace keep::platform
