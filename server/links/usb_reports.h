// Text in HID reports, both ways, and the dump lines the debug switch writes for them. Pure
// functions over untrusted bytes: nothing here reads past what it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace keep::server {

// Every report the link builds or reads fits this buffer.
inline constexpr size_t kUsbReportBuffer = 64;
// Feature mode: the identifier of the report that carries queries and answers.
inline constexpr uint8_t kUsbFeatureReportId = 5;

// The text a report carries: its bytes from `from` to the first carriage return (included), at most
// `limit` bytes, and never past the `count` bytes that were transferred (the rest of the buffer is
// no data).
std::string UsbReportText(const uint8_t* report, size_t count, size_t from, size_t limit);

// Input reports: after the identifier byte, at most 63 bytes.
inline std::string UsbInputReportText(const uint8_t* report, size_t count) {
  return UsbReportText(report, count, 1, kUsbReportBuffer - 1);
}
// Feature answers are read from byte 0, identifier and all: the protocol's parser skips to its mark.
inline std::string UsbFeatureReportText(const uint8_t* report, size_t count) {
  return UsbReportText(report, count, 0, kUsbReportBuffer);
}

// The report identifier followed by the text's pieces of `report_length` - 1 bytes each (the last
// may be shorter), one report per piece in a `report_length` buffer, zero-filled. An empty text
// gives one report holding the identifier alone. `report_length` is capped at kUsbReportBuffer; a
// length below 2 leaves no room for data and gives nothing.
std::vector<std::string> UsbSplitIntoReports(uint8_t report_id, std::string_view text, size_t report_length);

enum class UsbDirection { kSent = 1, kReceived = 2 };

// "1) 05 | 51 31 0D": the direction, the identifier byte in two lower-case hexadecimal digits, and
// the text's bytes as upper-case two-digit hexadecimal numbers separated by blanks. Empty for an
// empty text: nothing is dumped then.
std::string UsbDumpLine(UsbDirection direction, uint8_t report_id, std::string_view text);

// Appends `line` and a line end to the file (created when missing). A file that has reached
// `max_bytes` is started again, so a debug session left running cannot fill the disk. Failures are
// ignored: the dump is a diagnostic.
void AppendUsbDump(const std::string& file_name, std::string_view line, int64_t max_bytes);

}  // namespace keep::server
