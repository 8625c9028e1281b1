// The system's HID controller and devices, end to end: against whatever this machine has attached,
// and against a virtual device the kernel makes through /dev/uhid (the test plays the device's side).
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/hid_devices.h"
#include "tests/support/loop_runner.h"

namespace keep::platform {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kLimit = 5000ms;
constexpr int kLimitMs = 5000;
constexpr char kHidrawClass[] = "/sys/class/hidraw";

// Every hidraw node this machine has, by the kernel's own list.
std::set<std::string> HidrawNodes() {
  std::set<std::string> nodes;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kHidrawClass, error)) {
    nodes.insert("/dev/" + entry.path().filename().string());
  }
  return nodes;
}

size_t ThreadCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

class HidSystemControllerTest : public ::testing::Test {
 protected:
  std::unique_ptr<MonotonicClock> clock_ = MonotonicClock::CreateReal();
  EventLoop loop_{*clock_};
};

TEST_F(HidSystemControllerTest, RescanAnnouncesTheAttachedNodesAndOpenFindsNoOtherIdentifiers) {
  std::unique_ptr<HidDeviceController> controller;
  ASSERT_EQ(CreateSystemHidController(loop_, &controller), 0);
  ASSERT_NE(controller, nullptr);
  std::vector<HidDeviceInfo> arrived;
  controller->SetHandlers([&](const HidDeviceInfo& info) { arrived.push_back(info); }, nullptr);
  loop_.RunDue();
  EXPECT_TRUE(arrived.empty()) << "nothing arrives unasked";

  controller->Rescan();
  std::set<std::string> announced;
  for (const HidDeviceInfo& info : arrived) announced.insert(info.path);
  EXPECT_EQ(announced, HidrawNodes()) << "on a machine without HID devices both are empty";
  EXPECT_EQ(announced.size(), arrived.size()) << "each device once";

  // A pair of identifiers no attached device has.
  uint16_t product = 0xFFFF;
  while (std::any_of(arrived.begin(), arrived.end(), [&](const auto& info) { return info.product == product; })) {
    --product;
  }
  std::unique_ptr<HidDevice> device;
  EXPECT_EQ(controller->Open(0xFFFF, product, &device), ENOENT);
  EXPECT_EQ(device, nullptr);

  controller->SetHandlers(nullptr, nullptr);
  arrived.clear();
  controller->Rescan();
  EXPECT_TRUE(arrived.empty()) << "null handlers announce nothing";
}

TEST_F(HidSystemControllerTest, DestructionStopsTheHotPlugThreadItStarted) {
  // A process's first thread may bring a runtime thread of its own (ThreadSanitizer's) that stays:
  // start one before counting.
  std::thread([] {}).join();
  const size_t before = ThreadCount();
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<HidDeviceController> controller;
    ASSERT_EQ(CreateSystemHidController(loop_, &controller), 0);
    // With netlink there is a watcher thread blocked in poll() without a time limit: only the
    // stop signal can end it, or this hangs.
    EXPECT_LE(ThreadCount(), before + 1);
    controller.reset();
    EXPECT_EQ(ThreadCount(), before) << "joined, not left behind";
  }
  loop_.RunDue();  // nothing posted by a gone controller may touch it
}

// The device side of a virtual HID device: creates it from a descriptor, sends input reports, and
// answers the kernel's requests on a thread of its own (feature transfers wait for the answer).
class VirtualHid {
 public:
  VirtualHid() : fd_(::open("/dev/uhid", O_RDWR | O_CLOEXEC)), open_error_(fd_ < 0 ? errno : 0) {}
  VirtualHid(const VirtualHid&) = delete;
  VirtualHid& operator=(const VirtualHid&) = delete;

  ~VirtualHid() {
    if (answering_.joinable()) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t ignored = ::write(stop_fd_, &one, sizeof one);
      answering_.join();
    }
    if (stop_fd_ >= 0) ::close(stop_fd_);
    if (fd_ >= 0) ::close(fd_);  // destroys the device if it is still there
  }

  int OpenError() const { return open_error_; }

  bool Create(const Bytes& descriptor, uint16_t vendor, uint16_t product) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::strcpy(reinterpret_cast<char*>(event.u.create2.name), "keep virtual UPS");
    event.u.create2.rd_size = static_cast<uint16_t>(descriptor.size());
    event.u.create2.bus = BUS_USB;
    event.u.create2.vendor = vendor;
    event.u.create2.product = product;
    std::memcpy(event.u.create2.rd_data, descriptor.data(), descriptor.size());
    if (!Write(event)) return false;
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_fd_ < 0) return false;
    answering_ = std::thread([this] { Answer(); });
    return true;
  }

  bool Input(const Bytes& report) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<uint16_t>(report.size());
    std::memcpy(event.u.input2.data, report.data(), report.size());
    return Write(event);
  }

  bool Destroy() {
    uhid_event event{};
    event.type = UHID_DESTROY;
    return Write(event);
  }

  // The next output report the device received, waiting at most kLimit.
  std::optional<Bytes> NextOutput() {
    std::unique_lock lock(mu_);
    if (!changed_.wait_for(lock, kLimit, [&] { return !outputs_.empty(); })) return std::nullopt;
    Bytes first = outputs_.front();
    outputs_.erase(outputs_.begin());
    return first;
  }

  // The feature report the host last set, by identifier; {} when none.
  Bytes Feature(uint8_t id) {
    std::lock_guard lock(mu_);
    const auto it = features_.find(id);
    return it == features_.end() ? Bytes{} : it->second;
  }

 private:
  bool Write(const uhid_event& event) { return ::write(fd_, &event, sizeof event) == ssize_t(sizeof event); }

  void Answer() {
    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[0].revents != 0 || (fds[1].revents & POLLIN) == 0) return;
      uhid_event event{};  // the kernel may write short events: the rest stays zero
      if (::read(fd_, &event, sizeof event) <= 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return;
      }
      uhid_event reply{};
      switch (event.type) {
        case UHID_OUTPUT: {
          const size_t size = std::min<size_t>(event.u.output.size, UHID_DATA_MAX);
          std::lock_guard lock(mu_);
          if (event.u.output.rtype == UHID_OUTPUT_REPORT) {
            const uint8_t* data = &event.u.output.data[0];
            outputs_.emplace_back(data, data + size);
          }
          changed_.notify_all();
          break;
        }
        case UHID_SET_REPORT: {
          const size_t size = std::min<size_t>(event.u.set_report.size, UHID_DATA_MAX);
          {
            std::lock_guard lock(mu_);
            if (event.u.set_report.rtype == UHID_FEATURE_REPORT) {
              const uint8_t* data = &event.u.set_report.data[0];
              features_[event.u.set_report.rnum] = Bytes(data, data + size);
            }
          }
          reply.type = UHID_SET_REPORT_REPLY;
          reply.u.set_report_reply.id = event.u.set_report.id;
          reply.u.set_report_reply.err = event.u.set_report.rtype == UHID_FEATURE_REPORT ? 0 : EIO;
          Write(reply);
          break;
        }
        case UHID_GET_REPORT: {
          const Bytes feature =
              event.u.get_report.rtype == UHID_FEATURE_REPORT ? Feature(event.u.get_report.rnum) : Bytes{};
          reply.type = UHID_GET_REPORT_REPLY;
          reply.u.get_report_reply.id = event.u.get_report.id;
          reply.u.get_report_reply.err = feature.empty() ? EIO : 0;
          reply.u.get_report_reply.size = static_cast<uint16_t>(feature.size());
          std::memcpy(reply.u.get_report_reply.data, feature.data(), feature.size());
          Write(reply);
          break;
        }
        default:
          break;  // start, stop, open, close
      }
    }
  }

  const int fd_;
  const int open_error_;
  int stop_fd_ = -1;
  std::thread answering_;
  std::mutex mu_;
  std::condition_variable changed_;
  std::vector<Bytes> outputs_;
  std::map<uint8_t, Bytes> features_;
};

// Identifiers no real device is expected to have.
constexpr uint16_t kVendor = 0x7A69;
constexpr uint16_t kProduct = 0x0101;

// A UPS-like vendor-page device: input report 1, output report 2 and feature report 5, each of
// 63 bytes.
const Bytes kUpsDescriptor = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor)
    0x09, 0x01,        // Usage
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum 0
    0x26, 0xFF, 0x00,  //   Logical Maximum 255
    0x75, 0x08,        //   Report Size 8
    0x95, 0x3F,        //   Report Count 63
    0x85, 0x01,        //   Report ID 1
    0x09, 0x02,        //   Usage
    0x81, 0x02,        //   Input (Data, Variable)
    0x85, 0x02,        //   Report ID 2
    0x09, 0x03,        //   Usage
    0x91, 0x02,        //   Output (Data, Variable)
    0x85, 0x05,        //   Report ID 5
    0x09, 0x04,        //   Usage
    0xB1, 0x02,        //   Feature (Data, Variable)
    0xC0,              // End Collection
};

bool Has(const std::vector<HidDeviceInfo>& devices, uint16_t vendor, uint16_t product) {
  return std::any_of(devices.begin(), devices.end(),
                     [&](const HidDeviceInfo& info) { return info.vendor == vendor && info.product == product; });
}

TEST_F(HidSystemControllerTest, AVirtualUpsIsFoundOpenedUsedAndHeardLeaving) {
  VirtualHid hid;
  if (hid.OpenError() == ENOENT) GTEST_SKIP() << "kernel offers no /dev/uhid (CONFIG_UHID unset)";
  if (hid.OpenError() != 0) GTEST_SKIP() << "cannot open /dev/uhid: " << std::strerror(hid.OpenError());
  if (!std::filesystem::exists(kHidrawClass)) GTEST_SKIP() << "kernel without hidraw (CONFIG_HIDRAW unset)";

  std::unique_ptr<HidDeviceController> controller;
  ASSERT_EQ(CreateSystemHidController(loop_, &controller), 0);
  std::vector<HidDeviceInfo> arrived;
  std::vector<HidDeviceInfo> removed;
  controller->SetHandlers([&](const HidDeviceInfo& info) { arrived.push_back(info); },
                          [&](const HidDeviceInfo& info) { removed.push_back(info); });
  ASSERT_TRUE(hid.Create(kUpsDescriptor, kVendor, kProduct));

  // The node appears a little later. Heard when the hot-plug monitor works here, else found by Rescan.
  const bool heard = test::RunLoopUntil(
      loop_, [&] { return Has(arrived, kVendor, kProduct); }, kLimit);
  if (!heard) {
    ASSERT_TRUE(test::RunLoopUntil(
        loop_,
        [&] {
          controller->Rescan();
          return Has(arrived, kVendor, kProduct);
        },
        kLimit));
  }
  const HidDeviceInfo announced = *std::find_if(arrived.begin(), arrived.end(), [](const HidDeviceInfo& info) {
    return info.vendor == kVendor && info.product == kProduct;
  });
  EXPECT_EQ(announced.path.rfind("/dev/hidraw", 0), 0u) << announced.path;

  std::unique_ptr<HidDevice> device;
  EXPECT_EQ(controller->Open(kVendor, kProduct + 1, &device), ENOENT);
  ASSERT_EQ(controller->Open(kVendor, kProduct, &device), 0);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Info().path, announced.path);
  HidCapabilities capabilities;
  ASSERT_EQ(device->Capabilities(&capabilities), 0);
  EXPECT_EQ(capabilities.input_report_length, 64);
  EXPECT_EQ(capabilities.output_report_length, 64);
  EXPECT_EQ(capabilities.feature_report_length, 64);
  uint8_t value_id = 0;
  ASSERT_EQ(device->FirstInputValueReportId(&value_id), 0);
  EXPECT_EQ(value_id, 1);

  // An input report, identifier first.
  Bytes input(64, 0);
  input[0] = 1;
  for (size_t i = 1; i < input.size(); ++i) input[i] = static_cast<uint8_t>('A' + i % 26);
  ASSERT_TRUE(hid.Input(input));
  Bytes buffer(64);
  int count = 0;
  ASSERT_EQ(device->ReadInputReport(buffer.data(), 64, kLimitMs, &count), 0);
  ASSERT_EQ(count, 64);
  EXPECT_EQ(buffer, input);

  // An output report reaches the device as written.
  const Bytes output = {2, 'Q', '1', '\r'};
  int written = 0;
  ASSERT_EQ(device->WriteOutputReport(output.data(), static_cast<int>(output.size()), &written), 0);
  EXPECT_EQ(written, 4);
  EXPECT_EQ(hid.NextOutput(), output);

  // A feature report set, then fetched back from the device.
  const Bytes feature = {5, 'S', 'E', 'T'};
  ASSERT_EQ(device->SetFeatureReport(feature.data(), static_cast<int>(feature.size())), 0);
  EXPECT_EQ(hid.Feature(5), feature);
  Bytes fetched(64, 0);
  fetched[0] = 5;
  ASSERT_EQ(device->GetFeatureReport(fetched.data(), 64, &count), 0);
  ASSERT_EQ(count, 4);
  fetched.resize(4);
  EXPECT_EQ(fetched, feature);

  // Interrupt ends a read waiting without limit.
  int read_result = -1;
  count = -1;
  std::thread reader([&] { read_result = device->ReadInputReport(buffer.data(), 64, -1, &count); });
  device->Interrupt();
  reader.join();
  EXPECT_EQ(read_result, 0);
  EXPECT_EQ(count, 0);

  // The device leaves: reading fails, and the monitor (when it works) announces it by its identifiers.
  ASSERT_TRUE(hid.Destroy());
  EXPECT_NE(device->ReadInputReport(buffer.data(), 64, kLimitMs, &count), 0);
  if (heard) {
    ASSERT_TRUE(test::RunLoopUntil(
        loop_, [&] { return !removed.empty(); }, kLimit));
    EXPECT_EQ(removed.front().path, announced.path);
    EXPECT_EQ(removed.front().vendor, kVendor);
    EXPECT_EQ(removed.front().product, kProduct);
  }
}

}  // namespace
}  // namespace keep::platform
