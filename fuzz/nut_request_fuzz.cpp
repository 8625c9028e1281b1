// Arbitrary request lines of the plain-text UPS network protocol through the parser and the
// answerer. Neither may crash. A parsed request keeps at most kMaxNutWords words; a refused one
// carries an error word; every answer line is one line the client can split again (no line break),
// and an error is "ERR " and a word. The words of a parsed request, quoted as the server quotes
// values and put together again, parse to the same words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/services/nut/nut_answer.h"
#include "server/services/nut/nut_request.h"

namespace {

using namespace keep::server::nut;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool HasControlByte(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The line server hands over lines without their LF; the first byte picks the data state.
  if (size == 0) return 0;
  const auto state = static_cast<NutDataState>(data[0] % 3);
  const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);

  const NutParse parse = ParseNutRequest(line);
  if (parse.ok) {
    Check(parse.request.args.size() < kMaxNutWords);
    std::string again = "X";
    for (const std::string& arg : parse.request.args) {
      Check(!HasControlByte(arg));
      again += " " + QuoteNutValue(arg);
    }
    std::vector<std::string> words;
    Check(SplitNutWords(again, kMaxNutWords, words));
    Check(std::vector<std::string>(words.begin() + 1, words.end()) == parse.request.args);
  } else {
    Check(!parse.error.empty());
  }

  NutServerView view;
  view.ups_name = "ups";
  view.ups_description = "fuzz \"unit\"";
  view.monitor_user = "mon";
  view.monitor_password = "pw";
  view.version = "keepd";
  view.data = state;
  view.variables = [] { return std::vector<NutVariable>{{"ups.status", "OL", false}, {"ups.load", "5", true}}; };
  view.logged_in_peers = [] { return std::vector<std::string>{"127.0.0.1"}; };
  NutSession session;
  // Twice on one session, so the second sees what the first set (USERNAME, LOGIN).
  for (int round = 0; round < 2; ++round) {
    const NutReply reply = AnswerNutLine(line, session, view);
    Check(!reply.lines.empty());
    for (const std::string& answer : reply.lines) {
      Check(answer.find_first_of("\r\n") == std::string::npos);
      if (answer.rfind("ERR ", 0) == 0) Check(reply.lines.size() == 1 && answer.size() > 4);
    }
  }
  return 0;
}
