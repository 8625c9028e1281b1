// Reports from a USB UPS are outside input: whatever a device sends, the text taken from it stays
// within the report, ends at its first carriage return and never grows beyond one report's payload;
// the reports built to carry text hold it whole, in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/links/usb_reports.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckText(const std::string& text, size_t limit) {
  Check(text.size() <= limit);
  const size_t cr = text.find('\r');
  Check(cr == std::string::npos || cr + 1 == text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keep::server;
  const std::string input = UsbInputReportText(data, size);
  CheckText(input, kUsbReportBuffer - 1);
  Check(input.size() <= (size > 0 ? size - 1 : 0));
  CheckText(UsbFeatureReportText(data, size), kUsbReportBuffer);

  if (size == 0) return 0;
  // Lengths beyond the buffer are asked for too: they must be capped.
  const size_t asked = data[0] % (kUsbReportBuffer + 8);
  const size_t length = asked < kUsbReportBuffer ? asked : kUsbReportBuffer;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string joined;
  for (const std::string& report : UsbSplitIntoReports(data[0], text, asked)) {
    Check(report.size() == length);
    Check(static_cast<uint8_t>(report[0]) == data[0]);
    joined.append(report, 1);
  }
  if (length >= 2) Check(joined.compare(0, text.size(), text) == 0);

  const std::string line = UsbDumpLine(UsbDirection::kReceived, data[0], text);
  Check(text.empty() ? line.empty() : line.size() == 7 + 3 * text.size());
  return 0;
}
