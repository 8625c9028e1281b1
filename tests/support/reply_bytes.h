// The data bytes of a binary UPS reply, set by their number as the drivers read them (byte 1 is the
// command, so the first data byte is byte 2). Gaps are filled with zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keep::test {

class ReplyBytes {
 public:
  ReplyBytes& Byte(size_t n, uint8_t value) {
    if (bytes_.size() < n - 1) bytes_.resize(n - 1, 0);
    bytes_[n - 2] = value;
    return *this;
  }
  ReplyBytes& Word(size_t n, uint16_t value) {
    return Byte(n, value & 0xFF).Byte(n + 1, static_cast<uint8_t>(value >> 8));
  }
  ReplyBytes& Dword(size_t n, uint32_t value) {
    return Word(n, value & 0xFFFF).Word(n + 2, static_cast<uint16_t>(value >> 16));
  }
  ReplyBytes& Text(size_t n, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) Byte(n + i, static_cast<uint8_t>(text[i]));
    return *this;
  }
  // Pads with zero bytes up to byte `n`.
  ReplyBytes& Through(size_t n) { return Byte(n, n < bytes_.size() + 2 ? bytes_[n - 2] : 0); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace keep::test
