#include "server/services/nut/nut_request.h"

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace keep::server::nut {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7f;
}

bool EqualsUpper(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

struct Shape {
  std::string_view first;
  std::string_view second;  // empty: the command is one word
  NutCommand command;
  uint8_t min_args;
  uint8_t max_args;
};

constexpr Shape kShapes[] = {
    {"VER", "", NutCommand::kVer, 0, 0},
    {"NETVER", "", NutCommand::kNetVer, 0, 0},
    {"PROTVER", "", NutCommand::kNetVer, 0, 0},
    {"HELP", "", NutCommand::kHelp, 0, 0},
    {"STARTTLS", "", NutCommand::kStartTls, 0, 0},
    {"USERNAME", "", NutCommand::kUsername, 1, 1},
    {"PASSWORD", "", NutCommand::kPassword, 1, 1},
    {"LOGIN", "", NutCommand::kLogin, 1, 1},
    {"LOGOUT", "", NutCommand::kLogout, 0, 0},
    {"LIST", "UPS", NutCommand::kListUps, 0, 0},
    {"LIST", "VAR", NutCommand::kListVar, 1, 1},
    {"LIST", "CMD", NutCommand::kListCmd, 1, 1},
    {"LIST", "RW", NutCommand::kListRw, 1, 1},
    {"LIST", "CLIENT", NutCommand::kListClient, 1, 1},
    {"LIST", "ENUM", NutCommand::kListEnum, 2, 2},
    {"LIST", "RANGE", NutCommand::kListRange, 2, 2},
    {"GET", "VAR", NutCommand::kGetVar, 2, 2},
    {"GET", "TYPE", NutCommand::kGetType, 2, 2},
    {"GET", "DESC", NutCommand::kGetDesc, 2, 2},
    {"GET", "UPSDESC", NutCommand::kGetUpsDesc, 1, 1},
    {"GET", "NUMLOGINS", NutCommand::kGetNumLogins, 1, 1},
    {"GET", "CMDDESC", NutCommand::kGetCmdDesc, 2, 2},
    {"SET", "VAR", NutCommand::kSetVar, 3, 3},
    {"INSTCMD", "", NutCommand::kInstCmd, 2, 3},
    {"FSD", "", NutCommand::kFsd, 1, 1},
};

NutParse Error(std::string_view word) {
  NutParse parse;
  parse.error = word;
  return parse;
}

}  // namespace

bool SplitNutWords(std::string_view line, size_t max_words, std::vector<std::string>& words) {
  words.clear();
  size_t i = 0;
  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return true;
    if (words.size() == max_words) return false;
    std::string& word = words.emplace_back();
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (IsControl(c)) return false;
      if (!quoted && IsBlank(c)) break;
      if (c == '"') {
        quoted = !quoted;
      } else if (c == '\\') {
        if (++i == line.size() || IsControl(line[i])) return false;
        word.push_back(line[i]);
      } else {
        word.push_back(c);
      }
    }
    if (quoted) return false;
  }
}

NutParse ParseNutRequest(std::string_view line) {
  std::vector<std::string> words;
  if (!SplitNutWords(line, kMaxNutWords, words)) return Error(err::kInvalidArgument);
  if (words.empty()) return Error(err::kUnknownCommand);
  bool known_first = false;
  for (const Shape& shape : kShapes) {
    if (!EqualsUpper(words[0], shape.first)) continue;
    known_first = true;
    const size_t taken = shape.second.empty() ? 1 : 2;
    if (taken == 2 && (words.size() < 2 || !EqualsUpper(words[1], shape.second))) continue;
    const size_t args = words.size() - taken;
    if (args < shape.min_args || args > shape.max_args) return Error(err::kInvalidArgument);
    NutParse parse;
    parse.ok = true;
    parse.request.command = shape.command;
    parse.request.args.assign(std::make_move_iterator(words.begin() + static_cast<std::ptrdiff_t>(taken)),
                              std::make_move_iterator(words.end()));
    return parse;
  }
  return Error(known_first ? err::kInvalidArgument : err::kUnknownCommand);
}

}  // namespace keep::server::nut
