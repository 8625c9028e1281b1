#include "common/model_record.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "common/text_lists.h"
#include "common/time_text.h"

namespace keep {

namespace {

constexpr std::size_t kFieldName = 0;
constexpr std::size_t kFieldFamily = 1;
constexpr std::size_t kFieldModelCode = 2;
constexpr std::size_t kFieldFamilyDigit = 3;
constexpr std::size_t kFieldProtocol = 4;
constexpr std::size_t kFieldSerialParams = 6;
constexpr std::size_t kFieldUsbDevices = 9;
constexpr std::size_t kFieldActivePower = 10;
constexpr std::size_t kFieldApparentPower = 11;
constexpr std::size_t kFieldModuleCount = 12;
constexpr std::size_t kFieldCalibration = 23;
constexpr std::size_t kFieldModelFactor = 24;
constexpr std::size_t kFieldTime1 = 26;
constexpr std::size_t kFieldTime2 = 27;

// A damaged file can hold fields of any length; messages quote only their start.
constexpr std::size_t kQuotedTextLimit = 40;

std::string Quoted(std::string_view text) {
  if (text.size() <= kQuotedTextLimit) return "\"" + std::string(text) + "\"";
  return "\"" + std::string(text.substr(0, kQuotedTextLimit)) + "...\"";
}

std::string FieldError(std::size_t field, std::string_view what, std::string_view text) {
  return "field " + std::to_string(field) + " " + std::string(what) + ": " + Quoted(text);
}

bool ParseWhole32(std::string_view text, int32_t& value) {
  int64_t wide = 0;
  if (!ParseDecimalInt64(text, wide)) return false;
  if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(wide);
  return true;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool ParseBooleanText(std::string_view text, bool& value) {
  if (EqualsIgnoringCase(text, "true")) {
    value = true;
    return true;
  }
  if (EqualsIgnoringCase(text, "false")) {
    value = false;
    return true;
  }
  int64_t number = 0;
  if (!ParseDecimalInt64(text, number)) return false;
  value = number != 0;
  return true;
}

bool ParseUsbDevices(std::string_view text, std::vector<TUsbDeviceId>& devices, std::string& error) {
  TStringList parts;
  SplitText(';', text, parts, true);
  devices.clear();
  devices.reserve(parts.size());
  for (const std::string& part : parts) {
    TStringList numbers;
    SplitText(',', part, numbers, true);
    TUsbDeviceId device;
    if (numbers.size() < 2 || !ParseWhole32(numbers[0], device.VendorId) ||
        !ParseWhole32(numbers[1], device.ProductId)) {
      error = FieldError(kFieldUsbDevices, "holds a device that is not two whole numbers", part);
      return false;
    }
    devices.push_back(device);
  }
  return true;
}

// A negative time cannot be meant; a longer one than the 16 bits hold is taken as the longest.
bool ParseModelTime(std::size_t field, std::string_view text, uint16_t& ms, std::string& error) {
  int64_t seconds = 0;
  if (!ParseDecimalInt64(text, seconds) || seconds < 0) {
    error = FieldError(field, "is not a whole number of seconds", text);
    return false;
  }
  ms = seconds > kMaxModelTimeMs / 1000 ? kMaxModelTimeMs : static_cast<uint16_t>(seconds * 1000);
  return true;
}

float ModelFactorOf(std::string_view text) {
  // from_chars refuses a leading "+", which a hand-written source may carry.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  double value = 0.0;
  const char* const end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  if (text.empty() || status != std::errc{} || stop != end || !std::isfinite(value)) return 0.0f;
  // V / 10 rounded to one decimal is round(V) / 10; rounding V itself avoids the error that the
  // division would add before rounding.
  const double factor = std::round(value) / 10.0;
  // Converting a double beyond the float range is undefined, so such a value counts as no number.
  if (std::fabs(factor) > std::numeric_limits<float>::max()) return 0.0f;
  return static_cast<float>(factor);
}

}  // namespace

// Every conversion that can fail reports an error value: a reader then refuses the record instead of
// meeting an exception it never expected from a data file.
ModelRecordResult ConvertModelRecord(std::string_view line) {
  ModelRecordResult result;
  TStringList fields;
  SplitText('|', line, fields, true);
  if (fields.size() != kModelRecordFields) {
    result.error = std::to_string(kModelRecordFields) + " fields expected, found " + std::to_string(fields.size());
    return result;
  }

  TModelRecord record;
  record.ModelName = fields[kFieldName];
  record.FamilyName = fields[kFieldFamily];
  record.ModelCode = fields[kFieldModelCode];
  record.UpsType = std::string_view(fields[kFieldFamilyDigit]).substr(0, 1);
  if (!ParseWhole32(fields[kFieldProtocol], record.ProtocolNumber)) {
    result.error = FieldError(kFieldProtocol, "(protocol number) is not a whole number", fields[kFieldProtocol]);
    return result;
  }
  record.ProtocolParams = fields[kFieldSerialParams];
  if (!ParseUsbDevices(fields[kFieldUsbDevices], record.UsbDevices, result.error)) return result;
  record.ActiveNominalPower = fields[kFieldActivePower];
  record.ApparentNominalPower = fields[kFieldApparentPower];
  record.ModuleCount = fields[kFieldModuleCount];
  if (!ParseBooleanText(fields[kFieldCalibration], record.CalibrationSupported)) {
    result.error = FieldError(kFieldCalibration, "(calibration) is not a boolean", fields[kFieldCalibration]);
    return result;
  }
  record.ModelFactor = ModelFactorOf(fields[kFieldModelFactor]);
  if (!ParseModelTime(kFieldTime1, fields[kFieldTime1], record.ModelTime1, result.error) ||
      !ParseModelTime(kFieldTime2, fields[kFieldTime2], record.ModelTime2, result.error)) {
    return result;
  }
  result.record = std::move(record);
  return result;
}

}  // namespace keep
