// Reading a HID report descriptor (the bytes a device gives to say how its reports are laid out)
// into what the HID device layer needs of it: report lengths and the identifier of the first input
// value. The bytes come from the device and are not trusted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace keep::platform {

// The longest descriptor a device can give (the kernel's limit); longer input is refused.
constexpr size_t kHidMaxDescriptorBytes = 4096;
// The longest report accepted, without its identifier byte. A descriptor that lays out a longer one
// is refused rather than believed: no transfer of the system carries more.
constexpr int kHidMaxReportBytes = 16384;
// Push items nested deeper than this make the descriptor invalid.
constexpr int kHidMaxPushDepth = 16;

enum class HidDescriptorError {
  kNone,
  kTooLong,         // more than kHidMaxDescriptorBytes
  kTruncated,       // an item runs past the end
  kBadReportId,     // a Report ID of 0 or above 255
  kReportTooLong,   // a report longer than kHidMaxReportBytes
  kPushTooDeep,     // more than kHidMaxPushDepth nested Push items
  kPopWithoutPush,  // a Pop with nothing pushed
};

struct HidReportSummary {
  // Some Report ID item is present: every report then starts with its identifier on the wire.
  bool numbered = false;
  // The longest report of each direction in bytes, identifier byte included (it counts even when
  // reports are not numbered, as 0); 0 when the direction has no main item at all.
  int input_length = 0;
  int output_length = 0;
  int feature_length = 0;
  // The first input field that is data, variable and wider than one bit: a value, as opposed to a
  // button, an array of usages or padding.
  bool has_input_value = false;
  uint8_t first_input_value_id = 0;
};

// Reads `size` bytes at `data`. On kNone *summary holds the result; otherwise it is left reset.
HidDescriptorError ReadHidReportDescriptor(const uint8_t* data, size_t size, HidReportSummary* summary);

}  // namespace keep::platform
