// The hidraw device over a packet socket pair: like a hidraw node it hands over one whole report per
// read() (cutting what does not fit), takes one report per write(), and hangs up when the other side
// goes. The feature ioctls need the real node: the virtual device test covers them.
#include "platform/hidraw_device.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace keep::platform {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kLimitMs = 5000;

class HidrawDeviceTest : public ::testing::Test {
 protected:
  // A device whose descriptor said `summary`; peer_ plays the kernel's side (of the latest device).
  std::unique_ptr<HidDevice> Make(const HidReportSummary& summary) {
    if (peer_ >= 0) ::close(peer_);
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    peer_ = fds[1];
    std::unique_ptr<HidDevice> device;
    EXPECT_EQ(WrapHidrawDevice(fds[0], HidDeviceInfo{"/dev/hidraw7", 0x1234, 0x5678}, summary, &device), 0);
    return device;
  }

  void TearDown() override {
    if (peer_ >= 0) ::close(peer_);
  }

  void Send(const Bytes& report) { ASSERT_EQ(::write(peer_, report.data(), report.size()), ssize_t(report.size())); }

  // One read of at most `capacity` bytes; the bytes it gave, or an error code.
  static Bytes Read(HidDevice& device, int capacity, int timeout_ms, int* error = nullptr) {
    Bytes buffer(static_cast<size_t>(capacity) + 8, 0xEE);
    int count = -1;
    const int result = device.ReadInputReport(buffer.data(), capacity, timeout_ms, &count);
    if (error != nullptr) *error = result;
    EXPECT_GE(count, 0);
    EXPECT_EQ(buffer[static_cast<size_t>(capacity)], 0xEE) << "wrote past the capacity";
    buffer.resize(static_cast<size_t>(std::max(count, 0)));
    return buffer;
  }

  int peer_ = -1;
};

TEST_F(HidrawDeviceTest, InputReportsComeWithTheirIdentifierFirstNumberedOrNot) {
  HidReportSummary numbered;
  numbered.numbered = true;
  numbered.input_length = 64;
  numbered.output_length = 32;
  numbered.feature_length = 16;
  numbered.has_input_value = true;
  numbered.first_input_value_id = 3;
  auto device = Make(numbered);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Info().path, "/dev/hidraw7");
  EXPECT_EQ(device->Info().vendor, 0x1234);
  HidCapabilities capabilities;
  ASSERT_EQ(device->Capabilities(&capabilities), 0);
  EXPECT_EQ(capabilities.input_report_length, 64);
  EXPECT_EQ(capabilities.output_report_length, 32);
  EXPECT_EQ(capabilities.feature_report_length, 16);
  uint8_t id = 0;
  ASSERT_EQ(device->FirstInputValueReportId(&id), 0);
  EXPECT_EQ(id, 3);

  // A numbered device sends its identifier itself; a report longer than the room is cut.
  Send({3, 'A', 'B', 'C'});
  Send({4, '1', '2', '3', '4', '5'});
  EXPECT_EQ(Read(*device, 64, kLimitMs), (Bytes{3, 'A', 'B', 'C'}));
  EXPECT_EQ(Read(*device, 3, kLimitMs), (Bytes{4, '1', '2'}));
  EXPECT_EQ(Read(*device, 64, 10), Bytes{}) << "the rest of a cut report is gone; the time runs out";
  int error = 0;
  Read(*device, 0, kLimitMs, &error);
  EXPECT_EQ(error, EINVAL) << "no room would lose a report";

  // Without numbers the identifier byte is added as 0, and counts against the room.
  HidReportSummary plain;
  plain.input_length = 9;
  auto unnumbered = Make(plain);
  ASSERT_NE(unnumbered, nullptr);
  ASSERT_EQ(unnumbered->FirstInputValueReportId(&id), ENOENT) << "this descriptor has no input value";
  Send({'(', '2', '3', '0'});
  Send({'x', 'y'});
  EXPECT_EQ(Read(*unnumbered, 64, kLimitMs), (Bytes{0, '(', '2', '3', '0'}));
  EXPECT_EQ(Read(*unnumbered, 2, kLimitMs), (Bytes{0, 'x'}));
}

TEST_F(HidrawDeviceTest, InterruptEndsOneReadOnlyWhetherItCameBeforeOrDuring) {
  auto device = Make(HidReportSummary{});
  ASSERT_NE(device, nullptr);

  // Interrupts given before the read: that read ends at once even without a limit, and no later
  // read sees them again.
  device->Interrupt();
  device->Interrupt();
  Send({'a'});
  int error = -1;
  EXPECT_EQ(Read(*device, 16, -1, &error), Bytes{});
  EXPECT_EQ(error, 0);
  EXPECT_EQ(Read(*device, 16, kLimitMs), (Bytes{0, 'a'})) << "the waiting report, not a stale interrupt";

  // From another thread, during a read that waits without limit.
  int count = -1;
  int result = -1;
  uint8_t buffer[16];
  std::thread reader([&] { result = device->ReadInputReport(buffer, sizeof buffer, -1, &count); });
  device->Interrupt();
  reader.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(count, 0);
  Send({'b'});
  EXPECT_EQ(Read(*device, 16, kLimitMs), (Bytes{0, 'b'}));
}

TEST_F(HidrawDeviceTest, OutputGoesAsFramedAndADeviceThatLeftFailsTheReadAfterItsLastReport) {
  HidReportSummary numbered;
  numbered.numbered = true;
  auto device = Make(numbered);
  ASSERT_NE(device, nullptr);

  const Bytes output = {2, 'Q', '1', '\r'};
  int written = 0;
  ASSERT_EQ(device->WriteOutputReport(output.data(), static_cast<int>(output.size()), &written), 0);
  EXPECT_EQ(written, 4);
  Bytes got(16);
  ASSERT_EQ(::read(peer_, got.data(), got.size()), 4);
  got.resize(4);
  EXPECT_EQ(got, output);
  EXPECT_EQ(device->WriteOutputReport(output.data(), 0, &written), EINVAL);

  Send({1, 'z'});
  ::close(peer_);
  peer_ = -1;
  EXPECT_EQ(Read(*device, 16, kLimitMs), (Bytes{1, 'z'}));
  int error = 0;
  EXPECT_EQ(Read(*device, 16, kLimitMs, &error), Bytes{});
  EXPECT_EQ(error, ENODEV);
}

}  // namespace
}  // namespace keep::platform
