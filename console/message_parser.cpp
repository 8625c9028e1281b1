#include "console/message_parser.h"

#include <limits>

namespace keep::console {

ParseResult ParseMessage(std::string_view text, ConsoleData& data, const RenderStyle& style) {
  ParseResult result;
  TStringList entries;
  SplitText('|', text, entries, true);
  if (entries.size() < 3) return result;
  // The first and last entries are the frame marks "<" and ">".
  entries.erase(entries.begin());
  entries.pop_back();
  const std::optional<int64_t> code = ParseInteger(entries[0]);
  if (!code || *code < 0 || *code > std::numeric_limits<int>::max()) return result;
  result.code = static_cast<int>(*code);

  switch (result.code) {
    case 500:
      result.broadcast = "Communication lost with ups";
      result.ups_present = false;
      return result;
    case 501:
      result.broadcast = "Communication restored with ups";
      result.ups_present = true;
      return result;
    case 502:
      result.broadcast = "Unknown command";
      return result;
    default:
      break;
  }
  if (result.code >= 100 && result.code <= 138 && result.code != 109 && result.code != 136 && result.code != 137) {
    result.answer = ParseStatusAnswer(result.code, entries, data, style);
  } else if (result.code >= 150 && result.code <= 155) {
    result.answer = ParseModuleAnswer(result.code, entries, data, style);
  } else if (result.code == 109 || (result.code >= 136 && result.code <= 140) || result.code == 202) {
    result.answer = ParseListAnswer(result.code, entries, data);
  } else {
    result.answer = ParseSettingAnswer(result.code, entries, data, result);
  }
  return result;
}

}  // namespace keep::console
