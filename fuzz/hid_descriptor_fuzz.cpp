// Reads arbitrary bytes as a HID report descriptor (they come from the device): never a crash nor a
// read past the end, and what is accepted stays within the bounds the device layer relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/hid_report_descriptor.h"

namespace {

using namespace keep::platform;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool LengthInBounds(int length) { return length >= 0 && length <= 1 + kHidMaxReportBytes; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HidReportSummary summary;
  const HidDescriptorError error = ReadHidReportDescriptor(data, size, &summary);
  if (size > kHidMaxDescriptorBytes) Require(error == HidDescriptorError::kTooLong);
  if (error != HidDescriptorError::kNone) {
    // Nothing of a refused descriptor is left for a caller to use by mistake.
    Require(!summary.numbered && !summary.has_input_value && summary.input_length == 0 && summary.output_length == 0 &&
            summary.feature_length == 0);
    return 0;
  }
  Require(LengthInBounds(summary.input_length));
  Require(LengthInBounds(summary.output_length));
  Require(LengthInBounds(summary.feature_length));
  if (summary.has_input_value) {
    // A value is wider than one bit, so its report holds at least its identifier and one byte.
    Require(summary.input_length >= 2);
    // Identifiers are given only by Report ID items, which make the descriptor numbered.
    Require(summary.first_input_value_id == 0 || summary.numbered);
  } else {
    Require(summary.first_input_value_id == 0);
  }
  return 0;
}
