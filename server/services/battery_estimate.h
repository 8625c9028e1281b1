// The server's own battery estimate: a charge in percent (TSetupData's UpsBatteryCapacity) that falls
// on battery and rises on mains, the autonomy derived from it, and the calibration test that
// measures the autonomy at the present load. Main loop only.
#pragma once

#include <cstdint>
#include <string_view>

#include "server/services/server_context.h"

namespace keep::server {

// Seconds for a full recharge when UpsRechargeTime is missing, zero or negative: a value that
// cannot be right would otherwise drain the estimate on mains or divide by zero.
inline constexpr int32_t kDefaultRechargeSeconds = 28800;

// The recharge time to use for a configured UpsRechargeTime.
int32_t RechargeSeconds(int32_t configured);
// The UPS's autonomy reserve text as the number to subtract: its low 16 bits, 0 when the text is
// not a whole decimal number.
uint16_t ReserveSeconds(std::string_view text);

// Recomputes Ups.Main.AutonomyTime from the charge, for the protocols the server estimates.
void UpdateAutonomy(ServerContext& context);
// The charge from the autonomy left (protocols the server estimates).
void CapacityFromAutonomy(ServerContext& context);
// The charge from the battery voltage (protocol 8); nothing while the nominal voltage is unknown.
void CapacityFromVoltage(ServerContext& context);

// One second on mains.
void RechargeStep(ServerContext& context);
// One second on battery outside a calibration test; returns the seconds of autonomy left (<= 0:
// exhausted).
int32_t DischargeStep(ServerContext& context);

// Writes the charge to the hive (a failed write is skipped).
void SaveBatteryCapacity(ServerContext& context);

// The calibration test: the start empties the estimate so AutonomyTime counts the seconds of
// discharge; the end stores that count with the present load as the new calibration.
void StartCalibrationTest(ServerContext& context);
void EndCalibrationTest(ServerContext& context);

}  // namespace keep::server
