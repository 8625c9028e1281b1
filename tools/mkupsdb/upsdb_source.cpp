#include "tools/mkupsdb/upsdb_source.h"

#include <map>

#include "common/model_record.h"
#include "common/text_lists.h"

namespace keep::tools {

SourceLine CheckSourceLine(std::string_view line) {
  SourceLine result;
  const std::string_view text = TrimBlanks(line);
  if (text.empty() || text.front() == '#') return result;
  if (text.size() > kMaxRecordBytes) {
    result.error = "record of " + std::to_string(text.size()) + " bytes, at most " + std::to_string(kMaxRecordBytes);
    return result;
  }
  TStringList fields;
  SplitText('|', text, fields, true);
  if (fields.size() != kModelRecordFields) {
    result.error = std::to_string(fields.size()) + " fields, " + std::to_string(kModelRecordFields) +
                   " expected (a blank last field does not count)";
    return result;
  }
  if (fields[0].empty()) {
    result.error = "empty model name";
    return result;
  }
  // The conversion the server reads the file with: nothing it would refuse at start-up gets in.
  const ModelRecordResult converted = ConvertModelRecord(text);
  if (!converted.record) {
    result.error = converted.error;
    return result;
  }
  result.is_record = true;
  result.record = std::string(text);
  result.model_name = fields[0];
  return result;
}

ModelDatabase BuildModelDatabase(std::string_view source) {
  ModelDatabase database;
  std::string text;
  std::map<std::string, std::size_t> first_line_of;  // model name -> line it was defined on
  std::size_t line_number = 0;
  while (!source.empty()) {
    ++line_number;
    const std::size_t end = source.find('\n');
    const std::string_view line = source.substr(0, end);
    source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);

    SourceLine checked = CheckSourceLine(line);
    if (!checked.error.empty()) {
      database.errors.push_back({line_number, std::move(checked.error)});
      continue;
    }
    if (!checked.is_record) continue;
    const auto [earlier, inserted] = first_line_of.emplace(checked.model_name, line_number);
    if (!inserted) {
      database.errors.push_back({line_number, "model \"" + checked.model_name + "\" is already defined on line " +
                                                  std::to_string(earlier->second)});
      continue;
    }
    text += ScrambleText(checked.record);
    text += '\n';
    ++database.records;
  }
  if (database.errors.empty() && database.records == 0) database.errors.push_back({line_number, "no model records"});
  if (database.errors.empty()) database.text = std::move(text);
  return database;
}

}  // namespace keep::tools
