#include "platform/hid_device_changes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace keep::test {
namespace {

using platform::HidDeviceInfo;

std::vector<std::string> Paths(const std::vector<HidDeviceInfo>& devices) {
  std::vector<std::string> paths;
  for (const HidDeviceInfo& info : devices) paths.push_back(info.path + "=" + std::to_string(info.product));
  return paths;
}

// Successive looks at the bus, as a re-scan sees them: what left and what came at each.
TEST(HidDeviceChanges, EachLookReportsWhatLeftAndWhatCame) {
  struct Look {
    std::vector<HidDeviceInfo> attached;
    std::vector<std::string> gone;
    std::vector<std::string> came;
  };
  const std::vector<Look> looks = {
      {{{"b", 0x0463, 1}, {"a", 0x0463, 2}}, {}, {"a=2", "b=1"}},
      {{{"a", 0x0463, 2}, {"b", 0x0463, 1}}, {}, {}},          // same devices, other order
      {{{"a", 0x0463, 2}}, {"b=1"}, {}},                         // unplugged
      {{{"a", 0x0463, 3}}, {"a=2"}, {"a=3"}},                    // another device on the same path
      {{{"a", 0x0463, 3}, {"a", 0x0463, 3}}, {}, {}},            // listed twice: still one
      {{}, {"a=3"}, {}},
  };
  std::map<std::string, HidDeviceInfo> known;
  for (size_t i = 0; i < looks.size(); ++i) {
    const platform::HidDeviceChanges changes = platform::TrackHidDevices(known, looks[i].attached);
    EXPECT_EQ(looks[i].gone, Paths(changes.gone)) << "look " << i;
    EXPECT_EQ(looks[i].came, Paths(changes.came)) << "look " << i;
  }
  EXPECT_TRUE(known.empty());
}

}  // namespace
}  // namespace keep::test
