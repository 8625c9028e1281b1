#include "common/scrambling.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace keep {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int ErrorCode(std::errc e) { return static_cast<int>(e); }

}  // namespace

std::string ScrambleText(std::string_view plain) {
  // Sized once and written by index: every answer to every client goes through here.
  std::string result(plain.size() * 2, '\0');
  char* out = result.data();
  uint16_t key = kScrambleStartKey;
  for (const char c : plain) {
    const auto b = static_cast<uint8_t>(static_cast<uint8_t>(c) ^ (key >> 8));
    *out++ = kHexDigits[b >> 4];
    *out++ = kHexDigits[b & 0x0F];
    key = NextScrambleKey(key, b);
  }
  return result;
}

std::string UnscrambleText(std::string_view scrambled) {
  const size_t count = scrambled.size() / 2;
  std::string result(count, '\0');
  uint16_t key = kScrambleStartKey;
  for (size_t i = 0; i < count; ++i) {
    const int high = HexValue(scrambled[2 * i]);
    const int low = HexValue(scrambled[2 * i + 1]);
    const uint8_t b = high < 0 || low < 0 ? 0 : static_cast<uint8_t>(high * 16 + low);
    result[i] = static_cast<char>(b ^ (key >> 8));
    key = NextScrambleKey(key, b);
  }
  return result;
}

int ReadScrambledFile(TStringList& list, const std::string& file_name) {
  list.clear();
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file_name, ec);
  if (status.type() == std::filesystem::file_type::not_found) return ErrorCode(std::errc::no_such_file_or_directory);
  if (std::filesystem::is_directory(status)) return ErrorCode(std::errc::is_a_directory);

  errno = 0;
  std::ifstream in(file_name, std::ios::binary);
  if (!in) return errno != 0 ? errno : ErrorCode(std::errc::permission_denied);

  std::string line;
  char chunk[16 * 1024];
  for (;;) {
    in.read(chunk, sizeof(chunk));
    const auto got = static_cast<size_t>(in.gcount());
    for (size_t i = 0; i < got; ++i) {
      if (chunk[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        list.push_back(UnscrambleText(line));
        line.clear();
        continue;
      }
      // A line this long is no scrambled record; stop before it costs unbounded memory.
      if (line.size() >= kScrambledLineLimit) return ErrorCode(std::errc::value_too_large);
      line += chunk[i];
    }
    if (in.eof()) break;
    if (!in) return ErrorCode(std::errc::io_error);
  }
  if (in.bad()) return ErrorCode(std::errc::io_error);
  if (!line.empty()) {  // A last line without line end still counts.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    list.push_back(UnscrambleText(line));
  }
  return 0;
}

}  // namespace keep
