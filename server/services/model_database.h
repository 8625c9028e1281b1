// The UPS model database: "bin/upsdb.ups" below the installation folder, one scrambled line per
// model (each line scrambled on its own). Unscrambled, a line is one record of exactly 40 fields
// separated by "|", split and trimmed as SplitText does (so a blank last field does not count);
// field 0 is the model name and the key. The fields the server reads:
//
//   0  model name                 4  protocol number (whole)     12 module count, "-1" not modular
//   1  family name                6  serial parameters           23 calibration supported (boolean)
//   2  second model text          9  USB devices "v,p;v,p"       24 model factor (decimal, ".")
//   3  family digit (1st char)   10  active power W (modular)    26 reply time, whole seconds
//                                11  apparent power VA (modular) 27 second time, whole seconds
//
// The file is built by tools/mkupsdb from a plain text source, but it is read as untrusted input:
// every field is checked and a bad record is an error value, never an exception or a crash.
//
// The parsing parts are pure and callable from any thread; LoadModelRecord reads the registry and
// the file and is called once by the start sequence on the main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_lists.h"
#include "platform/registry.h"
#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/ups/fixed_text.h"
#include "server/ups/ups_data.h"

namespace keep::server {

// Relative to the installation folder.
inline constexpr char kModelDatabaseFile[] = "bin/upsdb.ups";
inline constexpr std::size_t kModelRecordFields = 40;
// The times are kept in 16-bit milliseconds; a longer time is cut to this.
inline constexpr uint16_t kMaxModelTimeMs = 65535;

// The values of one record, converted and checked.
struct TModelRecord {
  std::string ModelName;                 // field 0
  std::string FamilyName;                // 1
  std::string ModelCode;                 // 2
  TCode UpsType;                         // 3, its first character (empty for an empty field)
  int32_t ProtocolNumber = 0;            // 4
  std::string ProtocolParams;            // 6
  std::vector<TUsbDeviceId> UsbDevices;  // 9
  std::string ActiveNominalPower;        // 10
  std::string ApparentNominalPower;      // 11
  std::string ModuleCount;               // 12
  bool CalibrationSupported = false;     // 23
  float ModelFactor = 0.0f;              // 24, already divided by 10 and rounded
  uint16_t ModelTime1 = 0;               // 26, in milliseconds
  uint16_t ModelTime2 = 0;               // 27, in milliseconds
};

// The result of converting one record: the record, or why it was refused (naming the field and
// quoting its text).
struct ModelRecordResult {
  std::optional<TModelRecord> record;
  std::string error;
};

// Index of the first of the unscrambled database lines whose model name (text before the first
// "|", trimmed) equals `model_name` exactly; -1 when there is none.
int FindModelLine(const TStringList& lines, std::string_view model_name);

// Splits one unscrambled record line and converts it. Refused: a field count other than 40; a
// protocol number, USB identifier (field 9: "vendor,product" pairs separated by ";", each part
// needing both numbers; further numbers in a part are ignored) or time that is not a whole number
// in range; a negative time; a field 23 that is not a boolean text ("0", "1", "true", "false" in
// any letter case, or any whole number, non-zero meaning true). Times above 65 seconds are clamped
// to 65535 ms. A field 24 that is not a decimal number with "." (or too large for a float) gives
// the model factor 0; any other value V gives round(V) / 10, halves rounded away from zero, which
// is V / 10 rounded to one decimal.
ModelRecordResult ConvertModelRecord(std::string_view line);

// Copies a converted record: the model name, protocol number and parameters and the USB device
// list (replaced) into `setup`; the identification fields, model factor and initial status values
// (UpsStatus, Anomaly and their Seen copies "0", AutonomyFromUps 0, AutonomyReserveTime "&",
// AutonomyTestState "0", CalibrationState "&" when the model cannot calibrate, else "@" while the
// stored UpsLoadPercent is -1 (never calibrated) and "0" after a calibration) into `ups`; the two
// times into `server`. The nominal powers are copied only for a modular model (module count not
// "-1"); for the others the protocol driver fills them. ModuleIds is left as it is.
void ApplyModelRecord(const TModelRecord& record, TSetupData& setup, TUpsData& ups, TServerData& server);

// Looks up the model named by the registry value "UpsModelName" in setup.InstallPath +
// kModelDatabaseFile and applies it. Returns kErrorOk; kErrorModelDatabase (100003) when no model
// name is configured; kErrorLinkOrDatabase (100007) when the file cannot be read, holds no record
// of that name (the first of several wins), or the record is refused by ConvertModelRecord. On
// failure nothing is changed.
int LoadModelRecord(const platform::Registry& registry, TSetupData& setup, TUpsData& ups, TServerData& server);

}  // namespace keep::server
