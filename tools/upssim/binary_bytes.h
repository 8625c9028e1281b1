// The number layouts inside the binary UPS replies and requests: little-endian words and double
// words, signed words in two's complement, and two-digit BCD bytes. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace keep::tools {

inline void PutByte(std::string& out, int value) { out += static_cast<char>(static_cast<uint8_t>(value)); }

// The low 16 bits of `value`, low byte first; a negative value lands as its two's complement.
inline void PutWord(std::string& out, int64_t value) {
  const auto bits = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFFu);
  PutByte(out, bits & 0xFF);
  PutByte(out, bits >> 8);
}

inline void PutDword(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) PutByte(out, static_cast<int>((value >> shift) & 0xFFu));
}

// Byte `at` (from 0) of `bytes`; the caller checks the length.
inline uint8_t ByteAt(std::string_view bytes, std::size_t at) { return static_cast<uint8_t>(bytes[at]); }

inline uint16_t WordAt(std::string_view bytes, std::size_t at) {
  return static_cast<uint16_t>(ByteAt(bytes, at) | (ByteAt(bytes, at + 1) << 8));
}

inline uint32_t DwordAt(std::string_view bytes, std::size_t at) {
  return static_cast<uint32_t>(WordAt(bytes, at)) | (static_cast<uint32_t>(WordAt(bytes, at + 2)) << 16);
}

// 0..99 as two BCD digits (37 -> 0x37); other values are taken modulo 100.
inline uint8_t ToBcd(int value) {
  const int two_digits = ((value % 100) + 100) % 100;
  return static_cast<uint8_t>(((two_digits / 10) << 4) | (two_digits % 10));
}

// The value of a BCD byte; empty when a nibble is not a decimal digit.
inline std::optional<int> FromBcd(uint8_t byte) {
  const int high = byte >> 4;
  const int low = byte & 0x0F;
  if (high > 9 || low > 9) return std::nullopt;
  return high * 10 + low;
}

}  // namespace keep::tools
