#include "common/log_file.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

namespace keep {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

int32_t FileSizeOf(const std::string& file_name) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file_name, ec);
  if (status.type() == std::filesystem::file_type::not_found) return 0;
  if (ec || !std::filesystem::is_regular_file(status)) return -1;
  // Opening proves the file is readable, as a locked or forbidden file must count as an error.
  std::ifstream probe(file_name, std::ios::binary);
  if (!probe) return -1;
  const std::uintmax_t size = std::filesystem::file_size(file_name, ec);
  if (ec) return -1;
  // A file of 2 GiB or more is still a valid size: reporting INT32_MAX (not -1) keeps it at or above
  // any size limit, so the next log line starts the file again instead of failing for ever.
  constexpr auto kMax = static_cast<std::uintmax_t>(std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(size > kMax ? kMax : size);
}

bool AppendLogLine(const std::string& file_name, std::string_view header, char separator,
                   const TFormatSettings& settings, bool separator_form, int64_t max_size, std::string_view text,
                   DateTime now) {
  const std::string date = FormatShortDate(settings, now);
  const std::string time = FormatLongTime(settings, now);
  std::string line;
  line.reserve(date.size() + time.size() + text.size() + 4);
  if (separator_form) {
    line.append(date).append(1, separator).append(time).append(1, separator);
  } else {
    line.append(date).append(" ").append(time).append("  ");
  }
  line.append(text).append(kLineEnd);

  const int32_t size = FileSizeOf(file_name);
  if (size == -1) return false;

  std::ofstream out;
  if (size < 1 || size >= max_size) {
    // A full file is not trimmed but started again, so its header always comes first.
    out.open(file_name, std::ios::binary | std::ios::out | std::ios::trunc);
    if (out && !header.empty()) {
      out.write(header.data(), static_cast<std::streamsize>(header.size()));
      out.write(kLineEnd.data(), static_cast<std::streamsize>(kLineEnd.size()));
    }
  } else {
    out.open(file_name, std::ios::binary | std::ios::out | std::ios::app);
  }
  if (!out) return false;
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out.close();
  return !out.fail();
}

}  // namespace keep
