// The model database is read from a file that may be damaged: finding a record and converting it
// must never crash, and whatever is accepted must be what the record says. Input: the first line is
// the model name looked for, the rest are the unscrambled database lines.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "common/text_lists.h"
#include "common/time_text.h"
#include "server/records/server_data.h"
#include "server/records/setup_data.h"
#include "server/services/model_database.h"
#include "server/ups/ups_data.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string_view KeyOf(std::string_view line) { return keep::TrimBlanks(line.substr(0, line.find('|'))); }

// The milliseconds a time field must give when it is accepted.
uint16_t ExpectedTime(const std::string& field) {
  int64_t seconds = 0;
  Check(keep::ParseDecimalInt64(field, seconds) && seconds >= 0);
  return seconds > 65 ? 65535 : static_cast<uint16_t>(seconds * 1000);
}

void CheckConversion(std::string_view line) {
  const keep::ModelRecordResult result = keep::ConvertModelRecord(line);
  Check(result.record.has_value() == result.error.empty());
  if (!result.record) return;

  keep::TStringList fields;
  keep::SplitText('|', line, fields, true);
  Check(fields.size() == keep::kModelRecordFields);
  const keep::TModelRecord& record = *result.record;
  Check(record.ModelName == fields[0]);
  Check(record.UpsType == std::string_view(fields[3]).substr(0, 1));
  Check(record.ProtocolParams == fields[6]);
  keep::TStringList devices;
  keep::SplitText(';', fields[9], devices, true);
  Check(record.UsbDevices.size() == devices.size());
  Check(record.ModelTime1 == ExpectedTime(fields[26]));
  Check(record.ModelTime2 == ExpectedTime(fields[27]));
  Check(std::isfinite(record.ModelFactor));

  keep::server::TSetupData setup;
  keep::server::TUpsData ups;
  keep::server::TServerData server;
  keep::server::ApplyModelRecord(record, setup, ups, server);
  Check(setup.UpsSetup.UsbDevices.size() == record.UsbDevices.size());
  Check(server.ModelTime1 == record.ModelTime1);
  Check(ups.Main.CalibrationState == (record.CalibrationSupported ? "@" : "&"));
}

// A valid record whose converted fields come from `input` ("|"-separated parts), so that the
// conversions are reached without the fuzzer first having to find 39 separators.
std::string RecordFrom(std::string_view input) {
  keep::TStringList fields(keep::kModelRecordFields, "-");
  fields[4] = "1";
  fields[9] = "";
  fields[23] = "0";
  fields[26] = "3";
  fields[27] = "10";
  keep::TStringList parts;
  keep::SplitText('|', input, parts, true);
  constexpr size_t kTargets[] = {26, 27, 23, 24, 9, 4, 3, 0, 12};
  for (size_t i = 0; i < parts.size() && i < std::size(kTargets); ++i) fields[kTargets[i]] = parts[i];
  return keep::JoinText(fields, '|');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t end = input.find('\n');
  const std::string_view name = input.substr(0, end);
  const std::string_view rest = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

  keep::TStringList lines;
  keep::SplitText('\n', rest, lines, true);
  const int index = keep::server::FindModelLine(lines, name);
  Check(index >= -1 && index < static_cast<int>(lines.size()));
  const size_t stop = index < 0 ? lines.size() : static_cast<size_t>(index);
  for (size_t i = 0; i < stop; ++i) {
    Check(lines[i].find('|') == std::string::npos || KeyOf(lines[i]) != name);
  }
  if (index >= 0) {
    Check(lines[static_cast<size_t>(index)].find('|') != std::string::npos);
    Check(KeyOf(lines[static_cast<size_t>(index)]) == name);
    CheckConversion(lines[static_cast<size_t>(index)]);
  }
  CheckConversion(input);
  CheckConversion(RecordFrom(input));
  return 0;
}
