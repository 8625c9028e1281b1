#include "platform/hid_report_descriptor.h"

#include <algorithm>
#include <array>

namespace keep::platform {

namespace {

// Item types of a short item (bits 2-3 of its prefix).
constexpr int kMainItem = 0;
constexpr int kGlobalItem = 1;

// Tags of the main items that lay out a report, and of the global items that matter here.
constexpr int kInputTag = 0x8;
constexpr int kOutputTag = 0x9;
constexpr int kFeatureTag = 0xB;
constexpr int kReportSizeTag = 0x7;
constexpr int kReportIdTag = 0x8;
constexpr int kReportCountTag = 0x9;
constexpr int kPushTag = 0xA;
constexpr int kPopTag = 0xB;

// The prefix of a long item: one byte of data size and one of tag follow, then the data.
constexpr uint8_t kLongItemPrefix = 0xFE;

// Bits 0 and 1 of a main item's data: constant (padding) rather than data, variable rather than array.
constexpr uint32_t kConstantFlag = 0x1;
constexpr uint32_t kVariableFlag = 0x2;

constexpr uint32_t kMaxReportBits = static_cast<uint32_t>(kHidMaxReportBytes) * 8;

// What a Push saves and a Pop restores; of the global items only these count here.
struct GlobalState {
  uint32_t report_size = 0;
  uint32_t report_count = 0;
  uint8_t report_id = 0;
};

uint32_t LittleEndian(const uint8_t* bytes, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

int LengthOf(const std::array<uint32_t, 256>& bits) {
  const uint32_t longest = *std::max_element(bits.begin(), bits.end());
  return 1 + static_cast<int>((longest + 7) / 8);
}

}  // namespace

HidDescriptorError ReadHidReportDescriptor(const uint8_t* data, size_t size, HidReportSummary* summary) {
  *summary = HidReportSummary{};
  if (size > kHidMaxDescriptorBytes) return HidDescriptorError::kTooLong;

  HidReportSummary result;
  GlobalState global;
  std::array<GlobalState, kHidMaxPushDepth> pushed{};
  int depth = 0;
  // Bits laid out so far per direction (input, output, feature) and report identifier.
  std::array<std::array<uint32_t, 256>, 3> bits{};
  std::array<bool, 3> present{};

  size_t at = 0;
  while (at < size) {
    const uint8_t prefix = data[at];
    const size_t left = size - at - 1;  // bytes after the prefix
    if (prefix == kLongItemPrefix) {
      // No long item is defined that matters here: skipped whole.
      if (left < 2 || left - 2 < data[at + 1]) return HidDescriptorError::kTruncated;
      at += 3 + data[at + 1];
      continue;
    }
    static constexpr size_t kDataBytes[4] = {0, 1, 2, 4};
    const size_t count = kDataBytes[prefix & 0x3];
    if (left < count) return HidDescriptorError::kTruncated;
    const uint32_t value = LittleEndian(data + at + 1, count);
    at += 1 + count;
    const int type = (prefix >> 2) & 0x3;
    const int tag = prefix >> 4;

    if (type == kGlobalItem) {
      switch (tag) {
        case kReportSizeTag:
          global.report_size = value;
          break;
        case kReportCountTag:
          global.report_count = value;
          break;
        case kReportIdTag:
          // 0 is reserved for "not numbered"; the identifier travels in one byte.
          if (value == 0 || value > 255) return HidDescriptorError::kBadReportId;
          global.report_id = static_cast<uint8_t>(value);
          result.numbered = true;
          break;
        case kPushTag:
          if (depth == kHidMaxPushDepth) return HidDescriptorError::kPushTooDeep;
          pushed[static_cast<size_t>(depth++)] = global;
          break;
        case kPopTag:
          if (depth == 0) return HidDescriptorError::kPopWithoutPush;
          global = pushed[static_cast<size_t>(--depth)];
          break;
        default:
          break;
      }
      continue;
    }
    if (type != kMainItem) continue;  // local and reserved items say nothing about lengths

    size_t direction = 0;
    switch (tag) {
      case kInputTag:
        direction = 0;
        break;
      case kOutputTag:
        direction = 1;
        break;
      case kFeatureTag:
        direction = 2;
        break;
      default:
        continue;  // collections
    }
    // Both factors come from the device: the product is taken in 64 bits and bounded before use.
    const uint64_t field_bits = static_cast<uint64_t>(global.report_size) * global.report_count;
    uint32_t& total = bits[direction][global.report_id];
    if (field_bits > kMaxReportBits - total) return HidDescriptorError::kReportTooLong;
    total += static_cast<uint32_t>(field_bits);
    present[direction] = true;

    const bool value_field = (value & kConstantFlag) == 0 && (value & kVariableFlag) != 0 && global.report_size > 1 &&
                             global.report_count > 0;
    if (direction == 0 && value_field && !result.has_input_value) {
      result.has_input_value = true;
      result.first_input_value_id = global.report_id;
    }
  }

  if (present[0]) result.input_length = LengthOf(bits[0]);
  if (present[1]) result.output_length = LengthOf(bits[1]);
  if (present[2]) result.feature_length = LengthOf(bits[2]);
  *summary = result;
  return HidDescriptorError::kNone;
}

}  // namespace keep::platform
