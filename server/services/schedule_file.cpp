#include "server/services/schedule_file.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/scrambling.h"
#include "common/text_lists.h"

namespace keep::server {
namespace {

namespace fs = std::filesystem;

bool ParseWhole64(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool IsTimeOfDay(int64_t seconds) { return seconds >= 0 && seconds < kSecondsPerDay; }

// The plain lines of an upload; false when a line fails the check of `request_code`.
bool DecodeUpload(std::string_view bytes, int request_code, std::string& plain) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    const size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view scrambled = bytes.substr(start, end - start);
    if (!scrambled.empty() && scrambled.back() == '\r') scrambled.remove_suffix(1);
    const std::string line = UnscrambleText(scrambled);
    if (request_code == 203 && !ValidScheduleLine(line)) return false;
    plain += line;
    plain += "\r\n";
    start = next;
  }
  return true;
}

// Writes `text` beside `file_name` and renames it over the file.
bool ReplaceFile(const std::string& file_name, const std::string& text) {
  const std::string fresh = file_name + ".new";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      std::error_code ignored;
      fs::remove(fresh, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(fresh, file_name, error);
  if (error) fs::remove(fresh, error);
  return !error;
}

}  // namespace

bool ValidScheduleLine(std::string_view line) {
  TStringList fields;
  SplitText('|', line, fields, true);
  if (fields.size() < 6) return false;
  if (fields[0] != "SR" && fields[0] != "BT" && fields[0] != "AT") return false;
  if (fields[1] != "O" && fields[1] != "D" && fields[1] != "W") return false;
  int64_t numbers[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    if (!ParseWhole64(fields[i + 2], numbers[i])) return false;
  }
  const int64_t time = numbers[1];
  const int64_t restart_time = numbers[3];
  return IsTimeOfDay(time) && (restart_time == -1 || IsTimeOfDay(restart_time));
}

ScheduleReceipt ReceiveScheduleFile(std::string_view bytes, int request_code, const std::string& file_name,
                                    const std::string& temp_folder) {
  std::error_code error;
  if (bytes.empty()) {
    fs::remove(file_name, error);
    return {false, "1"};
  }

  // Decoding first means a rejected upload never touches the file at all.
  std::string plain;
  if (!DecodeUpload(bytes, request_code, plain)) return {false, "0"};

  const bool had_file = fs::exists(file_name, error);
  const std::string backup = temp_folder + fs::path(file_name).filename().string();
  bool backed_up = false;
  if (had_file) {
    fs::create_directories(temp_folder, error);
    backed_up = fs::copy_file(file_name, backup, fs::copy_options::overwrite_existing, error) && !error;
    // Without a backup the old file could not be restored: keep it and refuse.
    if (!backed_up) return {false, "0"};
  }

  const bool stored = ReplaceFile(file_name, plain);
  if (!stored && backed_up) fs::copy_file(backup, file_name, fs::copy_options::overwrite_existing, error);
  if (backed_up) fs::remove(backup, error);
  return {stored, stored ? "1" : "0"};
}

}  // namespace keep::server
