// Everything the status answer (101) shows: equal readings give the same frame, so a frame built
// once can be sent again while the reading stays equal. A plain value type.
#pragma once

#include <cstdint>
#include <string>

#include "server/ups/fixed_text.h"

namespace keep::server {

struct StatusFields {
  TCode status;
  TCode anomaly;
  float load = 0.0f;
  std::string temperature;
  int32_t autonomy = 0;
  float battery_capacity = 0.0f;
  std::string calibration;
  bool operator==(const StatusFields&) const = default;
};

}  // namespace keep::server
