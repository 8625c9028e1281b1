// Every line keepterm reads from a server goes through ParseMessage: whatever a server sends must
// never crash the console, and a message that is not an answer must leave the data alone (downloads
// of the scheduler excepted: their item frames are kept until the end of the download answers).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_data.h"
#include "console/message_parser.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The codes a server answers with, so that most inputs reach a conversion instead of stopping at
// an unknown code.
std::vector<int> AnswerCodes() {
  std::vector<int> codes;
  for (int c = 100; c <= 140; ++c) codes.push_back(c);
  for (int c = 150; c <= 155; ++c) codes.push_back(c);
  for (int c = 200; c <= 203; ++c) codes.push_back(c);
  for (int c = 300; c <= 315; ++c) codes.push_back(c);
  for (int c = 400; c <= 402; ++c) codes.push_back(c);
  for (int c = 500; c <= 502; ++c) codes.push_back(c);
  return codes;
}

// A line that starts with "<" is taken as it is; any other gets a frame around it whose code its
// first byte picks.
std::string MessageOf(std::string_view line, const std::vector<int>& codes) {
  if (line.empty() || line[0] == '<') return std::string(line);
  const int code = codes[static_cast<unsigned char>(line[0]) % codes.size()];
  return "<|" + std::to_string(code) + "|" + std::string(line.substr(1)) + "|>";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using keep::console::ConsoleData;
  using keep::console::ParseResult;
  std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const keep::console::RenderStyle style = keep::console::RenderStyle::ForTerminal(size % 2 == 0);

  static const std::vector<int> codes = AnswerCodes();
  // One message per line, on data that carries over from one to the next as in a session.
  ConsoleData data;
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string message = MessageOf(input.substr(0, end), codes);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);

    const ConsoleData before = data;
    const ParseResult result = keep::console::ParseMessage(message, data, style);

    // The same message on the same data gives the same reading.
    ConsoleData again = before;
    const ParseResult repeated = keep::console::ParseMessage(message, again, style);
    Check(again == data && repeated.answer == result.answer && repeated.code == result.code &&
          repeated.broadcast == result.broadcast && repeated.ups_present == result.ups_present);

    if (result.answer) Check(result.code >= 100);
    if (result.ups_present) Check(result.code == 500 || result.code == 501);
    if (result.broadcast) Check(result.code == 401 || (result.code >= 500 && result.code <= 502));
    if (!result.answer && result.code != 202) Check(data == before);
    Check(data.scheduler_items.size() <= 10000);
  }
  return 0;
}
