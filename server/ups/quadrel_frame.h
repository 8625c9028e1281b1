// Frames of the binary UPS protocols, both directions: the modular family (protocol number 4) and
// the single-phase family (0, 2, 5, 6) share them:
//
//   2, LEN, CMD, data..., CHK     LEN = bytes after it (CMD, data, CHK)
//                                 CHK = (LEN + CMD + sum of data) modulo 256
//
// A request and a reply share this layout, so one checksum rule serves both. Multi-byte numbers are
// little-endian. Pure functions, callable from any thread; received bytes are untrusted and never
// read past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace keep::server {

inline constexpr uint8_t kQuadrelStart = 2;
// Start byte and LEN come before the LEN counted bytes.
inline constexpr size_t kQuadrelFrameOverhead = 2;
inline constexpr size_t kQuadrelWakeUpLength = 255;

// (LEN + every byte of `counted`) modulo 256; `counted` is CMD and the data, without CHK.
uint8_t QuadrelChecksum(uint8_t len, std::string_view counted);

// The request frame for `cmd` and its data bytes.
std::string BuildQuadrelFrame(uint8_t cmd, const std::vector<uint8_t>& data);

// Number conversions both binary protocols share. The low byte of `value`, negatives in two's
// complement; `value` as `bytes` little-endian bytes appended to `data` (-1 gives all 255, which the
// UPS reads as "none").
uint8_t FrameByte(int64_t value);
void AppendLittleEndian(std::vector<uint8_t>& data, int64_t value, int bytes);
// The byte of a two-digit field in BCD (the value modulo 100), and back: a byte whose nibbles are
// not both decimal digits reads as "&".
uint8_t QuadrelBcd(int64_t value);
std::string QuadrelBcdText(uint8_t raw);

// The data bytes of a queue item's command: `fields` are the item's decimal fields after CMD (a
// missing or non-numeric field counts as 0; each is cut to the width its position takes). A command
// without data gives none.
std::vector<uint8_t> QuadrelDataBytes(uint8_t cmd, const std::vector<int64_t>& fields);

enum class QuadrelTake {
  kNoStart,      // no start byte: the buffer was emptied, none of it can begin a frame
  kIncomplete,   // a frame has begun; the bytes before it were dropped, the rest waits
  kBadChecksum,  // a whole frame was removed and its checksum did not match
  kTaken,        // a whole frame was removed; `reply` holds CMD and data, without CHK
};

// Takes the first frame out of `buffer`. Only ever removes bytes from the front: noise before the
// start byte, then the whole frame once it is complete. A frame whose LEN is 0 has no checksum and
// counts as a bad one.
QuadrelTake TakeQuadrelFrame(std::string& buffer, std::string& reply);

// Takes the first frame out of `buffer` as TakeQuadrelFrame does, as the reply to a request of
// command `sent`: a refusal ("Ko" in place of the command) gets `sent` put in front, so that its
// bytes keep their numbers, and `refused` says so.
QuadrelTake TakeQuadrelReply(std::string& buffer, uint8_t sent, std::string& reply, bool& refused);

// Read access to a reply's bytes numbered from 1 at CMD (CHK excluded). Reading beyond the end
// gives 0, but callers check Has() first so that a short reply stores nothing.
class QuadrelReply {
 public:
  explicit QuadrelReply(std::string_view bytes) : bytes_(bytes) {}

  size_t Size() const { return bytes_.size(); }
  bool Has(size_t last_byte) const { return last_byte >= 1 && last_byte <= bytes_.size(); }
  uint8_t Byte(size_t n) const { return Has(n) ? static_cast<uint8_t>(bytes_[n - 1]) : 0; }
  uint16_t Word(size_t low) const { return static_cast<uint16_t>(Byte(low) | (Byte(low + 1) << 8)); }
  int16_t SignedWord(size_t low) const { return static_cast<int16_t>(Word(low)); }
  uint32_t Dword(size_t low) const {
    return static_cast<uint32_t>(Word(low)) | (static_cast<uint32_t>(Word(low + 2)) << 16);
  }
  // Bytes first..last as characters, blanks and control characters trimmed; only the bytes the reply
  // holds. "&" when nothing is left.
  std::string Text(size_t first, size_t last) const;

 private:
  std::string_view bytes_;
};

}  // namespace keep::server
