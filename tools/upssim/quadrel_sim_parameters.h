// The numbered parameter table of the simulated modular UPS, read with command 67 and written with
// command 66. Both replies carry: byte 2 repeated from the request, the parameter number (bytes 3-4),
// a status (byte 5: 0 done, 16 no such parameter, 128 value refused) and the value the parameter now
// holds (dword 6-9). Settings accept only the values they can hold; the counters are read-only.
// Not thread-safe: part of one dialect object.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"

namespace keep::tools {

inline constexpr uint16_t kQuadrelParamNominalFrequency = 3;  // 0 50 Hz, 1 60 Hz
inline constexpr uint16_t kQuadrelParamReserveMinutes = 29;
inline constexpr uint16_t kQuadrelParamBatteryStrings = 35;

class QuadrelParameters {
 public:
  QuadrelParameters();

  // The reply data to a read (67) or write (66) request; empty when the request is too short to
  // name a parameter (or, for a write, to carry a value).
  std::optional<std::string> Answer(const BinaryRequest& request);

  // The value parameter `number` holds now; empty for a parameter the table lacks.
  std::optional<uint32_t> Value(uint16_t number) const;

 private:
  struct Entry {
    uint32_t value;
    uint32_t min;  // the values a write may store
    uint32_t max;
    bool writable;  // false for the counters
  };
  std::map<uint16_t, Entry> entries_;
};

}  // namespace keep::tools
