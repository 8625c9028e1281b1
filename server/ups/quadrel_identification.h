// The identification reply of the modular UPS (protocol number 4): configuration, modules per
// phase, rated power, battery blocks, firmware and serial number, and from them the model name shown
// to clients. Main loop only.
#pragma once

#include <cstdint>
#include <string>

#include "server/ups/quadrel_frame.h"
#include "server/ups/ups_data.h"

namespace keep::server {

// The last byte the identification reply must hold.
inline constexpr size_t kQuadrelIdentificationEnd = 32;

// Stores the identification reply. The model name gains the rated power only while ModuleCount
// still holds the model database's "-1", that is at the first identification; a model listed with
// its module count is named as configured. False, storing
// nothing, when the reply is shorter than kQuadrelIdentificationEnd.
bool StoreQuadrelIdentification(TUpsData& ups, const std::string& configured_model, const QuadrelReply& reply);

// The rated apparent power `va` as the whole kVA number the model name carries: to the nearest kVA
// from 1000 VA, to the nearest 10 kVA from 100000 VA (halves to even), smaller values unchanged.
int64_t QuadrelModelPower(int64_t va);

}  // namespace keep::server
