// Which HID devices left and which came between two looks at the attached ones, for the systems
// whose controllers re-scan (after a missed hot-plug notice, or on a timer where no notice exists).
// A device whose path stays but whose identifiers changed is another device: gone, then come.
// A plain function on plain values.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/hid_devices.h"

namespace keep::platform {

struct HidDeviceChanges {
  std::vector<HidDeviceInfo> gone;  // in path order
  std::vector<HidDeviceInfo> came;  // in path order
};

// Compares `attached_now` with `known` (path -> device, the previous look), then makes `known` the
// devices attached now.
HidDeviceChanges TrackHidDevices(std::map<std::string, HidDeviceInfo>& known,
                                 const std::vector<HidDeviceInfo>& attached_now);

}  // namespace keep::platform
