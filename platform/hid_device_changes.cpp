#include "platform/hid_device_changes.h"

#include <utility>

namespace keep::platform {
namespace {

bool SameDevice(const HidDeviceInfo& a, const HidDeviceInfo& b) {
  return a.vendor == b.vendor && a.product == b.product;
}

}  // namespace

HidDeviceChanges TrackHidDevices(std::map<std::string, HidDeviceInfo>& known,
                                 const std::vector<HidDeviceInfo>& attached_now) {
  std::map<std::string, HidDeviceInfo> attached;
  for (const HidDeviceInfo& info : attached_now) attached[info.path] = info;
  HidDeviceChanges changes;
  for (const auto& [path, info] : known) {
    const auto now = attached.find(path);
    if (now == attached.end() || !SameDevice(now->second, info)) changes.gone.push_back(info);
  }
  for (const auto& [path, info] : attached) {
    const auto before = known.find(path);
    if (before == known.end() || !SameDevice(before->second, info)) changes.came.push_back(info);
  }
  known = std::move(attached);
  return changes;
}

}  // namespace keep::platform
