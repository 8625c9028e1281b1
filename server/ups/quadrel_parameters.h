// The numbered parameter table of the modular UPS (protocol number 4): which TUpsData field each
// parameter fills and how its 32-bit value is coded. Main loop only.
#pragma once

#include <cstdint>
#include <optional>

#include "server/ups/ups_data.h"

namespace keep::server {

inline constexpr int kQuadrelParamRelays = 12;
inline constexpr int kQuadrelParamBatteryStrings = 35;
inline constexpr int kQuadrelParamStringCapacity = 37;

// The status byte values of a parameter reply that say the value is not available.
inline constexpr uint8_t kQuadrelParamUnavailable1 = 16;
inline constexpr uint8_t kQuadrelParamUnavailable2 = 128;

// Stores one parameter. `value` empty means not available; a raw value is first read through the
// 32-bit sentinel check. A coded parameter stores "&" for any value outside its codes; a parameter
// outside the table stores nothing.
void StoreQuadrelParameter(TUpsData& ups, int parameter, std::optional<uint32_t> value);

}  // namespace keep::server
