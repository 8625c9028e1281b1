// Windows only: one HID class device reached through its interface path with overlapped I/O, as the
// HID device layer's controller opens it. Kept apart from the controller (enumeration, arrival and
// removal) so each stays one concern.
#pragma once

#include <memory>

#include "platform/hid_devices.h"

namespace keep::platform {

// Opens info.path for reading and writing and reads the device's capabilities. 0, or the system's
// code (GetLastError) when the path names no device or the device cannot be opened or asked.
int OpenWindowsHidDevice(const HidDeviceInfo& info, std::unique_ptr<HidDevice>* device);

}  // namespace keep::platform
