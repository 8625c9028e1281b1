#include "server/links/usb_reports.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace keep::server {

std::string UsbReportText(const uint8_t* report, size_t count, size_t from, size_t limit) {
  std::string text;
  if (report == nullptr || from >= count) return text;
  const size_t end = std::min(count, from + limit);
  for (size_t i = from; i < end; ++i) {
    text += static_cast<char>(report[i]);
    if (report[i] == '\r') break;
  }
  return text;
}

std::vector<std::string> UsbSplitIntoReports(uint8_t report_id, std::string_view text, size_t report_length) {
  report_length = std::min(report_length, kUsbReportBuffer);
  std::vector<std::string> reports;
  if (report_length < 2) return reports;
  const size_t chunk = report_length - 1;
  size_t offset = 0;
  do {
    std::string report(report_length, '\0');
    report[0] = static_cast<char>(report_id);
    const std::string_view piece = text.substr(offset, chunk);
    report.replace(1, piece.size(), piece);
    reports.push_back(std::move(report));
    offset += chunk;
  } while (offset < text.size());
  return reports;
}

std::string UsbDumpLine(UsbDirection direction, uint8_t report_id, std::string_view text) {
  if (text.empty()) return {};
  char head[16];
  std::snprintf(head, sizeof head, "%d) %.2x | ", static_cast<int>(direction), report_id);
  std::string line = head;
  for (size_t i = 0; i < text.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%.2X", static_cast<unsigned char>(text[i]));
    if (i > 0) line += ' ';
    line += byte;
  }
  return line;
}

void AppendUsbDump(const std::string& file_name, std::string_view line, int64_t max_bytes) {
  if (line.empty()) return;
  std::error_code error;
  const auto size = std::filesystem::file_size(file_name, error);
  const bool restart = !error && static_cast<int64_t>(size) >= max_bytes;
  std::ofstream out(file_name, std::ios::binary | (restart ? std::ios::trunc : std::ios::app));
  if (!out) return;
  out << line << "\r\n";
}

}  // namespace keep::server
