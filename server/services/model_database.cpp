#include "server/services/model_database.h"

#include "common/scrambling.h"
#include "server/records/error_codes.h"
#include "server/services/settings.h"
#include "server/ups/sentinels.h"

namespace keep::server {

namespace {

constexpr std::string_view kNotModular = "-1";

}  // namespace

int FindModelLine(const TStringList& lines, std::string_view model_name) { return IndexOfKey(lines, model_name); }

void ApplyModelRecord(const TModelRecord& record, TSetupData& setup, TUpsData& ups, TServerData& server) {
  TUpsSetup& ups_setup = setup.UpsSetup;
  ups_setup.UpsModelName = record.ModelName;
  ups_setup.ProtocolSetup.ProtocolNumber = record.ProtocolNumber;
  ups_setup.ProtocolSetup.ProtocolParams = record.ProtocolParams;
  ups_setup.UsbDevices = record.UsbDevices;

  ups.Info.FamilyName = record.FamilyName;
  ups.Info.ModuleCount = record.ModuleCount;
  ups.Info.ModelCode = record.ModelCode;
  ups.Info.UpsType = record.UpsType;
  // Other models report their rated power themselves; the database's values would only mislead.
  if (record.ModuleCount != kNotModular) {
    ups.Info.ActiveNominalPower = record.ActiveNominalPower;
    ups.Info.ApparentNominalPower = record.ApparentNominalPower;
  }

  ups.Main.UpsStatus = "0";
  ups.Main.UpsStatusSeen = "0";
  ups.Main.Anomaly = "0";
  ups.Main.AnomalySeen = "0";
  ups.Main.AutonomyFromUps = 0;
  // Moved in from a temporary: inlined here, the plain assignment trips a false overlap warning of g++ 12.
  ups.Main.AutonomyReserveTime = std::string(kNotAvailable);
  // A stored load of -1 means no calibration test has ever completed.
  if (!record.CalibrationSupported) {
    ups.Main.CalibrationState = kNotAvailable;
  } else if (ups_setup.UpsLoadPercent == kLoadNotAvailable) {
    ups.Main.CalibrationState = kOverrange;
  } else {
    ups.Main.CalibrationState = "0";
  }
  ups.Battery.ModelFactor = record.ModelFactor;
  ups.Test.AutonomyTestState = "0";

  server.ModelTime1 = record.ModelTime1;
  server.ModelTime2 = record.ModelTime2;
}

int LoadModelRecord(const platform::Registry& registry, TSetupData& setup, TUpsData& ups, TServerData& server) {
  const std::string model_name = GetUpsModelName(registry);
  if (model_name.empty()) return kErrorModelDatabase;

  TStringList lines;
  if (ReadScrambledFile(lines, setup.InstallPath + kModelDatabaseFile) != 0) return kErrorLinkOrDatabase;
  const int index = FindModelLine(lines, model_name);
  if (index < 0) return kErrorLinkOrDatabase;
  // Everything is converted before anything is copied, so a bad record leaves no half-set model
  // behind (a device list without its protocol, say).
  const ModelRecordResult result = ConvertModelRecord(lines[static_cast<std::size_t>(index)]);
  if (!result.record) return kErrorLinkOrDatabase;
  ApplyModelRecord(*result.record, setup, ups, server);
  return kErrorOk;
}

}  // namespace keep::server
