#include "tools/upssim/megatec_sim.h"

#include "tools/upssim/sim_numbers.h"

namespace keep::tools {
namespace {

struct VariantIdentity {
  int variant;
  std::string_view model;
  int rated_current;  // A at the rated voltage
};

// The models of the shipped database that stand for each variant.
constexpr VariantIdentity kIdentities[] = {
    {1, "LG-1000", 4},
    {3, "HS-800", 3},
    {7, "PG-650", 2},
    {8, "BG-600", 2},
};
constexpr std::string_view kCompany = "KEEP";
constexpr std::string_view kVersion = "V1.00";
constexpr double kRatedVoltage = 230.0;
constexpr double kRatedFrequency = 50.0;

const VariantIdentity& IdentityOf(int variant) {
  for (const VariantIdentity& identity : kIdentities) {
    if (identity.variant == variant) return identity;
  }
  return kIdentities[0];
}

std::string Padded(std::string_view text, size_t width) {
  std::string result(text);
  if (result.size() < width) result.append(width - result.size(), ' ');
  return result;
}

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "S<n>" or "S<n>R<m>" with n of one or two digits or ".d", m of one to four digits.
bool IsShutdownQuery(std::string_view query) {
  if (query.size() < 2 || query.front() != 'S') return false;
  query.remove_prefix(1);
  const size_t r = query.find('R');
  const std::string_view delay = query.substr(0, r);
  const bool delay_ok = (delay.size() >= 1 && delay.size() <= 2 && AllDigits(delay)) ||
                        (delay.size() == 2 && delay[0] == '.' && AllDigits(delay.substr(1)));
  if (!delay_ok) return false;
  if (r == std::string_view::npos) return true;
  const std::string_view restart = query.substr(r + 1);
  return !restart.empty() && restart.size() <= 4 && AllDigits(restart);
}

char Bit(bool on) { return on ? '1' : '0'; }

}  // namespace

bool IsMegatecVariant(int protocol) { return protocol == 1 || protocol == 3 || protocol == 7 || protocol == 8; }

std::string_view MegatecStatusQuery(int variant) { return variant == 8 ? "QS" : "Q1"; }

std::string MegatecStatusAnswer(const SimState& state, int variant, int64_t now_ms) {
  const bool on_battery = state.power == PowerSource::kBattery || state.power == PowerSource::kLowBattery;
  std::string bits;
  bits += Bit(on_battery);
  bits += Bit(state.power == PowerSource::kLowBattery);
  bits += Bit(state.power == PowerSource::kBypass);
  bits += Bit(state.ups_failed);
  bits += Bit(state.standby_type);
  bits += Bit(state.TestInProgress(now_ms));
  bits += Bit(state.shutdown_active);
  bits += Bit(state.beeper_on);
  // Variant 1 units report a frequency where the others report their temperature.
  const double last_reading = variant == 1 ? state.input_frequency : state.temperature;

  std::string line(1, kMegatecStatusMarker);
  line += FormatFixed(state.input_voltage, 1, 5) + ' ';
  line += FormatFixed(state.input_fault_voltage, 1, 5) + ' ';
  line += FormatFixed(state.output_voltage, 1, 5) + ' ';
  line += FormatFixed(state.load_percent, 0, 3) + ' ';
  line += FormatFixed(state.input_frequency, 1, 4) + ' ';
  line += FormatFixed(state.battery_voltage, 2, 4) + ' ';
  line += FormatFixed(last_reading, 1, 4) + ' ';
  line += bits;
  line += kMegatecEnd;
  return line;
}

std::string MegatecIdentAnswer(int variant) {
  std::string line(1, kMegatecInfoMarker);
  line += Padded(kCompany, 15) + ' ' + Padded(IdentityOf(variant).model, 10) + ' ' + Padded(kVersion, 10);
  line += kMegatecEnd;
  return line;
}

std::string MegatecIdentAnswer(const SimState& state, int variant) {
  if (state.ident.empty()) return MegatecIdentAnswer(variant);
  return state.ident + kMegatecEnd;
}

bool IsValidMegatecIdent(std::string_view text) {
  if (text.empty() || text.size() > kMaxIdentBytes) return false;
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string MegatecRatingAnswer(const SimState& state, int variant) {
  std::string line(1, kMegatecInfoMarker);
  line += FormatFixed(kRatedVoltage, 1, 5) + ' ';
  line += FormatFixed(IdentityOf(variant).rated_current, 0, 3) + ' ';
  line += FormatFixed(state.battery_nominal, 2, 5) + ' ';
  line += FormatFixed(kRatedFrequency, 1, 4);
  line += kMegatecEnd;
  return line;
}

MegatecSim::MegatecSim(int variant) : variant_(variant) {}

std::vector<SimExchange> MegatecSim::OnBytes(std::string_view in, SimState& state, int64_t now_ms) {
  std::vector<SimExchange> exchanges;
  for (const char c : in) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == kMegatecEnd) {
      if (!skipping_ && !pending_.empty()) {
        std::string answer = Answer(pending_, state, now_ms);
        exchanges.push_back({std::move(pending_), std::move(answer)});
      }
      pending_.clear();
      skipping_ = false;
    } else if (byte < 0x21 || byte > 0x7E) {
      if (!skipping_) pending_.clear();
    } else if (!skipping_) {
      if (pending_.size() < kMaxQueryBytes) {
        pending_ += c;
      } else {
        pending_.clear();
        skipping_ = true;
      }
    }
  }
  return exchanges;
}

void MegatecSim::Reset() {
  pending_.clear();
  skipping_ = false;
}

std::string MegatecSim::Answer(std::string_view query, SimState& state, int64_t now_ms) const {
  if (query == MegatecStatusQuery(variant_)) return MegatecStatusAnswer(state, variant_, now_ms);
  if (query == "I") return MegatecIdentAnswer(state, variant_);
  if (query == "F") return MegatecRatingAnswer(state, variant_);
  if (query == "T") {
    state.test_ends_ms = now_ms + kShortTestMs;
  } else if (query == "CT") {
    state.test_held = false;
    state.test_ends_ms = 0;
  } else if (query == "Q") {
    state.beeper_on = !state.beeper_on;
  } else if (query == "C") {
    state.shutdown_active = false;
  } else if (IsShutdownQuery(query)) {
    state.shutdown_active = true;
    state.shutdown_query = std::string(query);
  }
  return {};
}

}  // namespace keep::tools
