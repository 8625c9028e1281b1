// One record of the UPS model database: the text form both the database builder (mkupsdb) and the
// server read, and its conversion. Unscrambled, a line is one record of exactly 40 fields separated
// by "|", split and trimmed as SplitText does (so a blank last field does not count); field 0 is the
// model name and the key. The fields that are read:
//
//   0  model name                 4  protocol number (whole)     12 module count, "-1" not modular
//   1  family name                6  serial parameters           23 calibration supported (boolean)
//   2  second model text          9  USB devices "v,p;v,p"       24 model factor (decimal, ".")
//   3  family digit (1st char)   10  active power W (modular)    26 reply time, whole seconds
//                                11  apparent power VA (modular) 27 second time, whole seconds
//
// A record is untrusted input: every field is checked and a bad record is an error value, never an
// exception or a crash. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/usb_device_id.h"

namespace keep {

inline constexpr std::size_t kModelRecordFields = 40;
// The times are kept in 16-bit milliseconds; a longer time is cut to this.
inline constexpr uint16_t kMaxModelTimeMs = 65535;

// The values of one record, converted and checked.
struct TModelRecord {
  std::string ModelName;                 // field 0
  std::string FamilyName;                // 1
  std::string ModelCode;                 // 2
  std::string UpsType;                   // 3, its first character (empty for an empty field)
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

// Splits one unscrambled record line and converts it. Refused: a field count other than 40; a
// protocol number, USB identifier (field 9: "vendor,product" pairs separated by ";", each part
// needing both numbers; further numbers in a part are ignored) or time that is not a whole number
// in range; a negative time; a field 23 that is not a boolean text ("0", "1", "true", "false" in
// any letter case, or any whole number, non-zero meaning true). Times above 65 seconds are clamped
// to 65535 ms. A field 24 that is not a decimal number with "." (or too large for a float) gives
// the model factor 0; any other value V gives round(V) / 10, halves rounded away from zero, which
// is V / 10 rounded to one decimal.
ModelRecordResult ConvertModelRecord(std::string_view line);

}  // namespace keep
