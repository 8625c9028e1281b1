// The HID layer on SetupAPI and hid.dll, under Wine: enumeration must work whatever it finds, and a
// path that names no device must fail with the system's code, never open.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/hid_device_win.h"
#include "platform/hid_devices.h"

namespace keep::platform {
namespace {

// Wine's own bus driver may or may not present devices of the host: what enumeration finds must be
// announced as found, and an identifier pair nobody has must not open.
TEST(WindowsHidDevicesTest, RescanAnnouncesWhatIsAttachedAndAbsentIdentifiersDoNotOpen) {
  std::unique_ptr<MonotonicClock> clock = MonotonicClock::CreateReal();
  EventLoop loop(*clock);
  std::unique_ptr<HidDeviceController> controller;
  ASSERT_EQ(CreateSystemHidController(loop, &controller), 0);
  ASSERT_NE(controller, nullptr);
  std::vector<HidDeviceInfo> arrived;
  controller->SetHandlers([&arrived](const HidDeviceInfo& info) { arrived.push_back(info); }, nullptr);
  controller->Rescan();
  std::set<std::pair<uint16_t, uint16_t>> present;
  for (const HidDeviceInfo& info : arrived) {
    EXPECT_FALSE(info.path.empty());
    present.insert({info.vendor, info.product});
  }
  // An identifier pair none of them has.
  uint16_t product = 0xFFFF;
  while (present.count({0xFFFF, product}) != 0) --product;
  std::unique_ptr<HidDevice> device;
  EXPECT_EQ(controller->Open(0xFFFF, product, &device), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(device, nullptr);
  // A device found either opens and tells its report lengths, or fails with the system's code.
  for (const HidDeviceInfo& info : arrived) {
    std::unique_ptr<HidDevice> opened;
    const int error = OpenWindowsHidDevice(info, &opened);
    if (error != 0) {
      EXPECT_EQ(opened, nullptr) << info.path;
      continue;
    }
    ASSERT_NE(opened, nullptr);
    HidCapabilities capabilities;
    EXPECT_EQ(opened->Capabilities(&capabilities), 0);
    EXPECT_GE(capabilities.input_report_length, 0);
    EXPECT_EQ(opened->Info().path, info.path);
  }
}

TEST(WindowsHidDevicesTest, PathsNamingNoDeviceFailWithTheSystemsCode) {
  for (const char* path :
       {"\\\\?\\hid#vid_0665&pid_5161#0#{4d1e55b2-f16f-11cf-88cb-001111000030}", "Z:\\no\\such\\device", ""}) {
    std::unique_ptr<HidDevice> device;
    const int error = OpenWindowsHidDevice(HidDeviceInfo{path, 0x0665, 0x5161}, &device);
    EXPECT_NE(error, 0) << path;
    EXPECT_EQ(device, nullptr) << path;
  }
  // A NUL would cut the name short and open another device.
  std::unique_ptr<HidDevice> device;
  EXPECT_EQ(OpenWindowsHidDevice(HidDeviceInfo{std::string("NUL\0x", 5), 0, 0}, &device), ERROR_INVALID_NAME);
  EXPECT_EQ(device, nullptr);
}

}  // namespace
}  // namespace keep::platform
