// The measured values a simulated single-phase binary UPS reports, as reply data bytes built from
// SimState alone: output and input power, status, battery, waveforms, converter and bus readings,
// charge and autonomy. A unit of kHalvoraNominalWatts whose output power is the load percentage of
// it; input power is zero while the UPS runs from its battery. Pure functions.
#pragma once

#include <cstdint>
#include <string>

#include "tools/upssim/sim_state.h"

namespace keep::tools {

inline constexpr int kHalvoraNominalWatts = 1500;

// True when the UPS takes its power from the battery: the state says so, or a held battery test
// (the autonomy calibration, or "set test on") keeps it on battery while the mains is present.
bool HalvoraOnBattery(const SimState& state);

// Command 1: active power W, voltage V, current and peak current in tenths of an ampere, signed
// words.
std::string HalvoraOutputReply(const SimState& state);
// Command 2: the same four values at the input.
std::string HalvoraInputReply(const SimState& state);
// Command 3: power source (0 mains, 1 battery, 2 low battery, 3 bypass; a held test reads as
// battery), anomaly (0 none,
// 1 overload, 2 overheat, 3 hardware fault), temperature + 128.
std::string HalvoraStatusReply(const SimState& state);
// Command 27: faulty modules and fault type.
std::string HalvoraFaultReply(const SimState& state);
// Commands 28 (output) and 29 (input): 32 points of one mains period, each the voltage in V and
// the current in tenths of an ampere as signed words.
std::string HalvoraWaveformReply(const SimState& state, bool input);
// Command 30: A/D readings of input voltage and current, output voltage and current.
std::string HalvoraConvertersReply(const SimState& state);
// Command 31: positive and negative DC bus voltage, words.
std::string HalvoraBusReply(const SimState& state);

// The battery charge in percent, from the voltage of the whole battery over its cells.
int HalvoraChargePercent(const SimState& state);
// The seconds the battery lasts at the present load and charge.
int HalvoraAutonomySeconds(const SimState& state);
// The result byte of the short battery test: 1..5 for 20..100 %, 254 for a battery to replace,
// 255 when the test cannot run (on battery, or the UPS failed).
uint8_t HalvoraTestResult(const SimState& state);

}  // namespace keep::tools
