// The console's reading of the server's messages: each answer is checked against its entry count
// (the code counts as entry 0) and converted into display texts of ConsoleData; the messages the
// server sends on its own come back as a broadcast text. A pure function of its input and `data`;
// the receive thread calls it with the data lock held.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/text_lists.h"
#include "console/console_data.h"
#include "console/value_renderings.h"

namespace keep::console {

struct ParseResult {
  // The message is a complete answer of `code` (for a download: its last frame). False for
  // malformed messages, unknown codes, refused entry counts and the server's own messages.
  bool answer = false;
  int code = -1;  // -1 when the message carries no code
  // A text to show at once with ShowBroadcast (500, 501, 502 and three states of 401).
  std::optional<std::string> broadcast;
  // The UPS-present flag as 500 (false) and 501 (true) set it.
  std::optional<bool> ups_present;
};

// Splits the plain message `text` at "|", drops the frame marks and converts the answer into
// `data`. An answer whose entry count does not match leaves `data` unchanged.
ParseResult ParseMessage(std::string_view text, ConsoleData& data, const RenderStyle& style);

// The per-group conversions ParseMessage dispatches to. `entries` are the answer's entries with
// the code as entry 0. Each returns false (and changes nothing) when the count does not match;
// `result` receives broadcasts and flags.
bool ParseStatusAnswer(int code, const TStringList& entries, ConsoleData& data, const RenderStyle& style);
bool ParseListAnswer(int code, const TStringList& entries, ConsoleData& data);
bool ParseModuleAnswer(int code, const TStringList& entries, ConsoleData& data, const RenderStyle& style);
bool ParseSettingAnswer(int code, const TStringList& entries, ConsoleData& data, ParseResult& result);

}  // namespace keep::console
