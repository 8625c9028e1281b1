// Answers that carry lists: the event lists (109, 139), the alarm list (137), the code tables of
// modular kinds (136, 140) and the scheduler download (202).
#include <algorithm>
#include <optional>

#include "console/message_parser.h"
#include "console/status_texts.h"

namespace keep::console {

namespace {

// A download adds one item per frame; a server that never ends one cannot fill the memory.
constexpr size_t kMaxSchedulerItems = 10000;

// The count field as a positive number of entries, bounded by what the answer holds from `first`.
size_t EntriesToRead(const std::string& count, const TStringList& e, size_t first) {
  const std::optional<int64_t> n = ParseInteger(count);
  if (!n || *n <= 0 || first >= e.size()) return 0;
  return std::min(static_cast<size_t>(std::min<int64_t>(*n, static_cast<int64_t>(e.size()))), e.size() - first);
}

TStringList SplitAtComma(const std::string& entry) {
  TStringList parts;
  SplitText(',', entry, parts, true);
  return parts;
}

void ParseStandardEvents(const TStringList& e, ConsoleData& data) {
  data.event_list.clear();
  const std::optional<int64_t> n = ParseInteger(e[1]);
  if (!n || *n <= 0) return;
  for (size_t i = 2; i < e.size(); ++i) {
    const TStringList parts = SplitAtComma(e[i]);
    if (parts.size() != 3) continue;
    std::string line = "- ";
    if (parts[0] != "&") line += parts[0] + " ";
    if (parts[1] != "&") line += parts[1] + "  ";
    line += EventText(parts[2]);
    data.event_list.push_back(std::move(line));
  }
}

void ParseModularEvents(const TStringList& e, ConsoleData& data) {
  data.ups.event_list_name = e[1];
  data.ups.event_list_count = e[2];
  data.event_list.clear();
  const size_t count = EntriesToRead(e[2], e, 3);
  for (size_t i = 3; i < 3 + count; ++i) {
    const TStringList parts = SplitAtComma(e[i]);
    if (parts.size() != 3) continue;
    data.event_list.push_back(" " + parts[0] + " " + parts[1] + " - " + LookUpCode(data.event_codes, parts[2]));
  }
}

void ParseAlarms(const TStringList& e, ConsoleData& data) {
  data.ups.alarm_list_count = e[1];
  data.alarm_list.clear();
  const size_t count = EntriesToRead(e[1], e, 2);
  for (size_t i = 2; i < 2 + count; ++i) {
    const TStringList parts = SplitAtComma(e[i]);
    if (parts.size() != 2) continue;
    data.alarm_list.push_back(" Module ID: " + parts[0] + "  -  Alarm: " + LookUpCode(data.alarm_codes, parts[1]));
  }
}

// The table entries are "code,description"; a description may hold commas of its own.
CodeTable ParseCodeTable(const TStringList& e) {
  CodeTable table;
  const size_t count = EntriesToRead(e[1], e, 2);
  for (size_t i = 2; i < 2 + count; ++i) {
    const size_t comma = e[i].find(',');
    if (comma == std::string::npos) continue;
    table.emplace_back(std::string(TrimBlanks(std::string_view(e[i]).substr(0, comma))),
                       std::string(TrimBlanks(std::string_view(e[i]).substr(comma + 1))));
  }
  return table;
}

// Scheduler download: a head with the count, one frame per item (number and six fields), and
// "@" after the last item. Only the end of the download answers the request.
bool ParseSchedulerFrame(const TStringList& e, ConsoleData& data) {
  if (e.size() == 2) {
    if (e[1] == "@") return true;
    data.scheduler_items.clear();
    return e[1] == "0";
  }
  if (e.size() == 8) {
    if (data.scheduler_items.size() < kMaxSchedulerItems) {
      data.scheduler_items.push_back(JoinText(TStringList(e.begin() + 2, e.end()), '|'));
    }
  }
  return false;
}

}  // namespace

bool ParseListAnswer(int code, const TStringList& e, ConsoleData& data) {
  switch (code) {
    case 109:
      if (e.size() < 2) return false;
      ParseStandardEvents(e, data);
      return true;
    case 139:
      if (e.size() < 3) return false;
      ParseModularEvents(e, data);
      return true;
    case 137:
      if (e.size() < 2) return false;
      ParseAlarms(e, data);
      return true;
    case 136:
    case 140:
      if (e.size() < 2) return false;
      if (code == 136) {
        data.ups.alarm_table_count = PlainValue(e[1]);
        data.alarm_codes = ParseCodeTable(e);
      } else {
        data.ups.event_table_count = PlainValue(e[1]);
        data.event_codes = ParseCodeTable(e);
      }
      return true;
    case 202:
      return ParseSchedulerFrame(e, data);
    default:
      return false;
  }
}

}  // namespace keep::console
