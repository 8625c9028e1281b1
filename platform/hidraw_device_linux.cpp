#include <errno.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/hidraw_device.h"

namespace keep::platform {

namespace {

static_assert(HID_MAX_DESCRIPTOR_SIZE == kHidMaxDescriptorBytes, "the descriptor bound is the kernel's");

// The feature ioctls carry the transfer's length in a 14-bit field of their number.
constexpr int kMaxIoctlBytes = (1 << _IOC_SIZEBITS) - 1;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class HidrawDevice final : public HidDevice {
 public:
  HidrawDevice(int fd, int wake_fd, const HidDeviceInfo& info, const HidReportSummary& summary)
      : fd_(fd), wake_fd_(wake_fd), info_(info), summary_(summary), report_(kHidMaxReportBytes + 1) {}
  HidrawDevice(const HidrawDevice&) = delete;
  HidrawDevice& operator=(const HidrawDevice&) = delete;

  ~HidrawDevice() override {
    ::close(fd_);
    ::close(wake_fd_);
  }

  const HidDeviceInfo& Info() const override { return info_; }

  int Capabilities(HidCapabilities* capabilities) override {
    capabilities->input_report_length = summary_.input_length;
    capabilities->output_report_length = summary_.output_length;
    capabilities->feature_report_length = summary_.feature_length;
    return 0;
  }

  int FirstInputValueReportId(uint8_t* report_id) override {
    if (!summary_.has_input_value) return ENOENT;
    *report_id = summary_.first_input_value_id;
    return 0;
  }

  int ReadInputReport(uint8_t* buffer, int capacity, int timeout_ms, int* count) override {
    *count = 0;
    // A read with no room would still take a report off the queue and lose it.
    if (capacity <= 0) return EINVAL;
    const int64_t deadline = timeout_ms < 0 ? -1 : NowMs() + timeout_ms;
    for (;;) {
      const int remaining = deadline < 0 ? -1 : static_cast<int>(std::max<int64_t>(deadline - NowMs(), 0));
      pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
      const int ready = ::poll(fds, 2, remaining);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (ready == 0) return 0;
      if ((fds[0].revents & POLLIN) != 0) {
        // Consumed as it is reported: one Interrupt ends one read, not every read after it.
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(wake_fd_, &wakes, sizeof wakes);
        return 0;
      }
      // Reports queued before the device left are still delivered; the hang-up is seen after them.
      if ((fds[1].revents & POLLIN) != 0) {
        // Byte 0 is left free for the identifier of a device that does not number its reports.
        const ssize_t n = ::read(fd_, report_.data() + 1, report_.size() - 1);
        if (n > 0) return Deliver(static_cast<size_t>(n), buffer, capacity, count);
        // hidraw never delivers an empty report: end of file means the device has gone.
        if (n == 0) return ENODEV;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
        return errno;
      }
      if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return ENODEV;
    }
  }

  void Interrupt() override {
    const uint64_t one = 1;
    // The counter only overflows after 2^64 - 2 wake-ups, none of them consumed: then one is waiting.
    [[maybe_unused]] const ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
  }

  int WriteOutputReport(const uint8_t* data, int size, int* written) override {
    *written = 0;
    if (size <= 0) return EINVAL;
    // hidraw takes byte 0 as the report number and drops it for a device without numbers: the
    // report goes as the caller framed it.
    for (;;) {
      const ssize_t n = ::write(fd_, data, static_cast<size_t>(size));
      if (n >= 0) {
        *written = static_cast<int>(n);
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  int SetFeatureReport(const uint8_t* data, int size) override {
    if (size <= 0 || size > kMaxIoctlBytes) return EINVAL;
    // The kernel only reads the buffer; the ioctl's type just cannot say so.
    return Ioctl(HIDIOCSFEATURE(size), const_cast<uint8_t*>(data), nullptr);
  }

  int GetFeatureReport(uint8_t* data, int size, int* count) override {
    *count = 0;
    if (size <= 0 || size > kMaxIoctlBytes) return EINVAL;
    int result = 0;
    const int error = Ioctl(HIDIOCGFEATURE(size), data, &result);
    if (error == 0) *count = std::min(result, size);
    return error;
  }

 private:
  int Deliver(size_t length, uint8_t* buffer, int capacity, int* count) {
    const uint8_t* report = report_.data() + 1;
    if (!summary_.numbered) {
      // Reports of a device without numbers come without the identifier byte: it is 0.
      report_[0] = 0;
      report = report_.data();
      ++length;
    }
    const size_t copied = std::min(length, static_cast<size_t>(capacity));
    std::memcpy(buffer, report, copied);
    *count = static_cast<int>(copied);
    return 0;
  }

  int Ioctl(unsigned long request, uint8_t* data, int* result) {
    for (;;) {
      const int r = ::ioctl(fd_, request, data);
      if (r >= 0) {
        if (result != nullptr) *result = r;
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  const int fd_;
  const int wake_fd_;
  const HidDeviceInfo info_;
  const HidReportSummary summary_;
  // The reading thread's own: hidraw hands over one whole report per read, at most this long.
  std::vector<uint8_t> report_;
};

}  // namespace

int WrapHidrawDevice(int fd, const HidDeviceInfo& info, const HidReportSummary& summary,
                     std::unique_ptr<HidDevice>* device) {
  const int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd < 0) {
    const int code = errno;
    ::close(fd);
    return code;
  }
  *device = std::make_unique<HidrawDevice>(fd, wake_fd, info, summary);
  return 0;
}

int OpenHidrawDevice(const HidDeviceInfo& info, std::unique_ptr<HidDevice>* device) {
  // O_NONBLOCK: a read only happens after poll() reported a report, and must never wait.
  const int fd = ::open(info.path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  const auto fail = [fd](int code) {
    ::close(fd);
    return code;
  };
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) return fail(errno);
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) return fail(EPROTO);
  auto descriptor = std::make_unique<hidraw_report_descriptor>();
  descriptor->size = static_cast<uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, descriptor.get()) < 0) return fail(errno);
  const size_t length = std::min<size_t>(descriptor->size, sizeof descriptor->value);
  HidReportSummary summary;
  if (ReadHidReportDescriptor(descriptor->value, length, &summary) != HidDescriptorError::kNone) return fail(EPROTO);
  return WrapHidrawDevice(fd, info, summary, device);
}

}  // namespace keep::platform
