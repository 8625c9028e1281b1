// SplitCommandLine on any text: never crashes, and words quoted back the Windows way split into
// the same words again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace {

// Quotes one word so that SplitCommandLine gives it back unchanged.
std::string QuoteWord(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  // Before the closing quote every backslash must be doubled.
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = keep::platform::SplitCommandLine(text);

  // Each byte of a word uses up at least one byte of the text.
  size_t total = 0;
  for (const std::string& word : words) {
    total += word.size();
  }
  if (total > size) std::abort();

  std::string joined;
  for (const std::string& word : words) {
    if (!joined.empty()) joined += (joined.size() % 2 == 0) ? " " : "\t ";
    joined += QuoteWord(word);
  }
  if (keep::platform::SplitCommandLine(joined) != words) std::abort();

  // The input itself read as one word must also survive quoting.
  const std::string whole(text);
  const std::vector<std::string> single = keep::platform::SplitCommandLine(QuoteWord(whole));
  if (single.size() != 1 || single[0] != whole) std::abort();
  return 0;
}
