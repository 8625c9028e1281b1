// The measurement replies of the simulated modular UPS: identification (1), status (32), output and
// input phases (33, 34) and battery (35), built from one moment of the unit. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/quadrel_sim_unit.h"

namespace keep::tools {

// Bytes 21-32 of the identification reply.
inline constexpr char kQuadrelSerialNumber[] = "KEEP4M002731";
inline constexpr uint8_t kQuadrelFirmwareMajor = 2;
inline constexpr uint8_t kQuadrelFirmwareMinor = 5;

// The battery settings of the parameter table that its reply depends on.
struct QuadrelBatterySettings {
  uint32_t strings = 1;
  uint32_t string_ah = 9;
  uint32_t reserve_minutes = 5;
};

// Bytes 2-32: configuration code (5), one module's VA and W (6-7, 8-9), modules per output line
// (10-12), battery blocks (13), firmware version (18-19), serial number (21-32).
std::string QuadrelIdentification(const BinaryRequest& request, const QuadrelUnit& unit);

// Bytes 2-5: status flags (3), anomaly flags (4), temperature in degrees Celsius (5). The load is on
// bypass when the state says so or while the bypass is forced with the mains present.
std::string QuadrelStatus(const BinaryRequest& request, const QuadrelMoment& moment, bool forced_bypass);

// Bytes 2-19 for the phase the request's second data byte names (0 R, 1 S, 2 T): nominal active and
// apparent power, active and apparent power, voltage, current, peak current, frequency. A phase the
// unit lacks reports every word as not available; empty for a phase number beyond 2.
std::optional<std::string> QuadrelOutputPhase(const BinaryRequest& request, const QuadrelMoment& moment);
// Bytes 2-15 likewise: active and apparent power, voltage, current, peak current, frequency.
std::optional<std::string> QuadrelInputPhase(const BinaryRequest& request, const QuadrelMoment& moment);

// Bytes 2-13: voltage of one battery block in hundredths of a volt (3-4), current of one string
// (5-6, negative while discharging), charge in percent (7), autonomy at full charge in seconds at the
// present load (8-11), the reserve time in seconds (12-13).
std::string QuadrelBatteryReply(const BinaryRequest& request, const QuadrelMoment& moment,
                                const QuadrelBatterySettings& settings);

}  // namespace keep::tools
