// The power modules of the simulated modular UPS: the blocks of commands 8 and 40-45, each for the
// module the request's second data byte numbers, and the list of active module alarms (96). Modules
// are numbered from 0, line R's first; each carries an equal share of its output phase. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/quadrel_sim_unit.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

// The reply data: byte 2 repeated, the module number (byte 3), its state (byte 4: 0 installed, 255
// beyond the installed ones) and, for an installed module, the block's values from byte 5 on. Empty
// for a request without a module number or a command that is not a module block.
std::optional<std::string> QuadrelModuleBlock(const BinaryRequest& request, const QuadrelMoment& moment);

// The reply data to 96: byte 2 repeated, the count (byte 3), then module and alarm code for each:
// an overload alarm on every installed module while the load exceeds 100 %, an inverter fault on
// module 0 while the UPS has failed.
std::string QuadrelModuleAlarms(const BinaryRequest& request, const QuadrelUnit& unit, const SimState& state);

}  // namespace keep::tools
