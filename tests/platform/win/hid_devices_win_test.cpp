// The HID layer on SetupAPI and hid.dll. Wine has no HID devices: enumeration must find none without
// failing, and a path that names no device must fail with the system's code, never open.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/hid_device_win.h"
#include "platform/hid_devices.h"

namespace keep::platform {
namespace {

TEST(WindowsHidDevicesTest, WithoutDevicesNothingIsAnnouncedOrOpened) {
  std::unique_ptr<MonotonicClock> clock = MonotonicClock::CreateReal();
  EventLoop loop(*clock);
  std::unique_ptr<HidDeviceController> controller;
  ASSERT_EQ(CreateSystemHidController(loop, &controller), 0);
  ASSERT_NE(controller, nullptr);
  std::vector<HidDeviceInfo> arrived;
  controller->SetHandlers([&arrived](const HidDeviceInfo& info) { arrived.push_back(info); }, nullptr);
  controller->Rescan();
  EXPECT_TRUE(arrived.empty());
  std::unique_ptr<HidDevice> device;
  EXPECT_EQ(controller->Open(0x0665, 0x5161, &device), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(device, nullptr);
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
