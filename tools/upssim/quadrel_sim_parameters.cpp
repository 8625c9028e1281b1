#include "tools/upssim/quadrel_sim_parameters.h"

#include "tools/upssim/quadrel_sim_format.h"

namespace keep::tools {
namespace {

constexpr uint32_t kFlag = 1;

struct Initial {
  uint16_t number;
  uint32_t value;
  uint32_t min;
  uint32_t max;
  bool writable;
};

// A unit as it leaves the factory, a few years into its service.
constexpr Initial kInitial[] = {
    {2, 0, 0, kFlag, true},     // automatic restart: 0 = enabled
    {3, 0, 0, kFlag, true},     // nominal frequency: 0 = 50 Hz
    {4, 0, 0, kFlag, true},     // PLL: 0 = enabled
    {5, 0, 0, kFlag, true},     // PLL extended range
    {9, 0, 0, kFlag, true},     // off-line mode
    {10, 1, 0, kFlag, true},    // frequency autoselect
    {12, 0, 0, 15, true},       // relay contacts, one bit each
    {13, 0, 0, kFlag, true},    // load on bypass at start
    {14, 1, 0, kFlag, true},    // charger with the UPS off
    {22, 0, 0, kFlag, true},    // start-up on battery
    {25, 2, 1, 3, true},        // bypass dip speed: 1 fast, 2 normal, 3 slow
    {29, 5, 0, 60, true},       // autonomy reserve time, minutes
    {34, 20, 0, 100, true},     // minimum charge for a restart, percent
    {35, 2, 1, 10, true},       // battery strings
    {37, 9, 1, 1000, true},     // capacity of one string, Ah
    {44, 0, 0, kFlag, true},    // bypass: 0 = enabled
    {45, 230, 200, 250, true},  // nominal output voltage, V
    {57, 21874, 0, 0, false},   // UPS operating hours
    {58, 21650, 0, 0, false},   // inverter operating hours
    {59, 21870, 0, 0, false},   // charger operating hours
    {60, 14, 0, 0, false},      // bypass interventions
    {61, 37, 0, 0, false},      // UPS interventions
    {62, 2, 0, 0, false},       // full battery discharges
    {63, 1, 0, 0, false},       // battery calibrations
    {64, 41, 0, 0, false},      // full battery charges
    {65, 6, 0, 0, false},       // battery equalizations
    {67, 0, 0, kFlag, true},    // EPS mode
};

}  // namespace

QuadrelParameters::QuadrelParameters() {
  for (const Initial& initial : kInitial) {
    entries_[initial.number] = Entry{initial.value, initial.min, initial.max, initial.writable};
  }
}

std::optional<uint32_t> QuadrelParameters::Value(uint16_t number) const {
  const auto found = entries_.find(number);
  if (found == entries_.end()) return std::nullopt;
  return found->second.value;
}

std::optional<std::string> QuadrelParameters::Answer(const BinaryRequest& request) {
  const bool write = request.cmd == kQuadrelWriteParameter;
  if (request.data.size() < (write ? 7u : 3u)) return std::nullopt;
  const uint16_t number =
      static_cast<uint16_t>(QuadrelDataByte(request, 1) | (unsigned{QuadrelDataByte(request, 2)} << 8));

  uint8_t status = kQuadrelParameterOk;
  uint32_t value = 0;
  const auto found = entries_.find(number);
  if (found == entries_.end()) {
    status = kQuadrelParameterUnknown;
  } else {
    Entry& entry = found->second;
    if (write) {
      uint32_t wanted = 0;
      for (size_t i = 0; i < 4; ++i) wanted |= uint32_t{QuadrelDataByte(request, 3 + i)} << (8 * i);
      // A value the setting cannot hold is refused rather than stored: the peer would read back a
      // setting the unit does not have.
      if (entry.writable && wanted >= entry.min && wanted <= entry.max) {
        entry.value = wanted;
      } else {
        status = kQuadrelParameterRefused;
      }
    }
    value = entry.value;
  }

  std::string reply = QuadrelReplyHead(request);
  AppendQuadrelWord(reply, number);
  AppendQuadrelByte(reply, status);
  AppendQuadrelDword(reply, value);
  return reply;
}

}  // namespace keep::tools
