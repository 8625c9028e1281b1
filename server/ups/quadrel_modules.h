// Replies about one power module of the modular UPS (protocol number 4): information, main state,
// output, input, battery, hardware and history. Each fills its own block of TUpsData::Module. Main
// loop only.
#pragma once

#include <cstdint>
#include <string>

#include "server/ups/quadrel_frame.h"
#include "server/ups/ups_data.h"

namespace keep::server {

// ModuleState of a module whose state byte has no meaning to us.
inline constexpr char kQuadrelModuleStateUnknown = '&';

// True for the module commands (8 and 40-45).
bool IsQuadrelModuleCommand(uint8_t cmd);

// Stores a module reply (byte 1 is its command). Byte 3 is the module number and byte 4 its state;
// only a module with valid data (state '0') has its values decoded, and it joins
// TUpsData::Info::ModuleIds once. False, storing nothing, when the reply is too short for what its
// state says it carries.
bool StoreQuadrelModuleReply(TUpsData& ups, const QuadrelReply& reply);

// "a.bb" (and ".dd" with the third byte), "&" when a or b is the not-available byte.
std::string QuadrelVersion(uint8_t a, uint8_t b);
std::string QuadrelVersion(uint8_t a, uint8_t b, uint8_t d);

}  // namespace keep::server
