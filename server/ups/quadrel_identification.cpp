#include "server/ups/quadrel_identification.h"

#include <cmath>

#include "server/ups/quadrel_modules.h"
#include "server/ups/sentinels.h"

namespace keep::server {
namespace {

struct Configuration {
  uint8_t code;
  const char* ups_type;
  const char* input_config;
  const char* output_config;
};

constexpr Configuration kConfigurations[] = {
    {0, "3", "0", "0"}, {1, "4", "0", "2"}, {3, "4", "0", "1"},
    {4, "5", "1", "0"}, {5, "6", "1", "2"}, {7, "6", "1", "1"},
};

constexpr int64_t kOneKva = 1000;
constexpr int64_t kHundredKva = 100000;

// Module counts that are sentinels count no modules.
int64_t Modules(uint8_t raw) { return raw == kRaw8NotAvailable || raw == kRaw8Overrange ? 0 : raw; }

// Each field is move-assigned a fresh copy: assigning the literal in place trips a false overlap
// warning of g++ 12 at -O2.
void ClearInputPhase(TUpsInputPhase& phase) {
  for (std::string* field : {&phase.Voltage, &phase.ActivePower, &phase.ApparentPower, &phase.Current,
                             &phase.PeakCurrent, &phase.Frequency}) {
    *field = std::string(kNotAvailable);
  }
}

// Every value but State: the output may still be switched per phase.
void ClearOutputPhase(TUpsOutputPhase& phase) {
  for (std::string* field : {&phase.Voltage, &phase.NominalActivePower, &phase.NominalApparentPower, &phase.ActivePower,
                             &phase.ApparentPower, &phase.Current, &phase.PeakCurrent, &phase.Frequency}) {
    *field = std::string(kNotAvailable);
  }
}

}  // namespace

int64_t QuadrelModelPower(int64_t va) {
  // Division in double is exact enough here and keeps halves exact, so rint rounds them to even.
  if (va >= kHundredKva) return static_cast<int64_t>(std::rint(static_cast<double>(va) / 10000.0)) * 10;
  if (va >= kOneKva) return static_cast<int64_t>(std::rint(static_cast<double>(va) / 1000.0));
  return va;
}

bool StoreQuadrelIdentification(TUpsData& ups, const std::string& configured_model, const QuadrelReply& reply) {
  if (!reply.Has(kQuadrelIdentificationEnd)) return false;

  const uint8_t code = reply.Byte(5);
  for (const Configuration& configuration : kConfigurations) {
    if (configuration.code != code) continue;
    ups.Info.UpsType = configuration.ups_type;
    ups.Input.InputConfig = configuration.input_config;
    ups.Output.OutputConfig = configuration.output_config;
  }
  const bool single_input = ups.Input.InputConfig == "0";
  const bool single_output = ups.Output.OutputConfig == "0";
  if (single_input) {
    ClearInputPhase(ups.Input.PhaseS);
    ClearInputPhase(ups.Input.PhaseT);
  }
  if (single_output) {
    ClearOutputPhase(ups.Output.PhaseS);
    ClearOutputPhase(ups.Output.PhaseT);
  }

  TUpsHardwareData& hardware = ups.Hardware;
  hardware.ModulesL1 = SentinelText8(reply.Byte(10));
  hardware.ModulesL2 = SentinelText8(reply.Byte(11));
  hardware.ModulesL3 = SentinelText8(reply.Byte(12));
  int64_t installed = Modules(reply.Byte(10));
  if (!single_output) installed += Modules(reply.Byte(11)) + Modules(reply.Byte(12));

  TUpsInfoData& info = ups.Info;
  info.InstalledModules = std::to_string(installed);
  const int64_t apparent = int64_t{reply.Word(6)} * installed;
  info.ApparentNominalPower = std::to_string(apparent);
  info.ActiveNominalPower = std::to_string(int64_t{reply.Word(8)} * installed);
  if (info.ModuleCount == "-1") {
    const int64_t kva = QuadrelModelPower(apparent);
    info.ModelName = kva >= 1 ? configured_model + " " + std::to_string(kva) + " kVA" : configured_model;
  } else if (info.ModelName.empty()) {
    // A model whose record names its module count already says its size in its name.
    info.ModelName = configured_model;
  }
  info.ModuleCount = info.InstalledModules;
  info.BatteryBlocks = reply.Byte(13);
  info.FirmwareVersion = QuadrelVersion(reply.Byte(18), reply.Byte(19));
  info.SerialNumber = reply.Text(21, 32);
  return true;
}

}  // namespace keep::server
