// Linux only: one HID device reached through its hidraw node, as the HID device layer's controller
// opens it. Kept apart from the controller (enumeration, hot-plug) so each stays one concern.
#pragma once

#include <memory>

#include "platform/hid_devices.h"
#include "platform/hid_report_descriptor.h"

namespace keep::platform {

// Opens info.path and reads the device's report descriptor. EPROTO when the descriptor is
// malformed or longer than the kernel allows; otherwise 0 or the system's code.
int OpenHidrawDevice(const HidDeviceInfo& info, std::unique_ptr<HidDevice>* device);

// Wraps `fd`, an open hidraw node (or anything that reads one report per read() the same way) whose
// descriptor says `summary`. Takes `fd` over, closing it on failure too.
int WrapHidrawDevice(int fd, const HidDeviceInfo& info, const HidReportSummary& summary,
                     std::unique_ptr<HidDevice>* device);

}  // namespace keep::platform
