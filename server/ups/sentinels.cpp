#include "server/ups/sentinels.h"

namespace keep::server {

namespace {

template <typename T>
std::string SentinelText(T raw, T not_available, T overrange) {
  if (raw == not_available) return std::string(kNotAvailable);
  if (raw == overrange) return std::string(kOverrange);
  return std::to_string(raw);
}

}  // namespace

std::string SentinelText8(uint8_t raw) {
  // Widened so that to_string prints a number, not a character.
  return SentinelText<unsigned>(raw, kRaw8NotAvailable, kRaw8Overrange);
}

std::string SentinelText16(uint16_t raw) { return SentinelText<unsigned>(raw, kRaw16NotAvailable, kRaw16Overrange); }

std::string SentinelTextSigned16(int16_t raw) {
  return SentinelText<int>(raw, kRawSigned16NotAvailable, kRawSigned16Overrange);
}

std::string SentinelText32(uint32_t raw) {
  return SentinelText<unsigned long>(raw, kRaw32NotAvailable, kRaw32Overrange);
}

}  // namespace keep::server
