// Splitting an argument text into words by the Windows C runtime rules, so companion programs get
// the same words whatever platform the server runs on.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace keep::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;

    std::string word;
    bool in_quotes = false;
    while (i < n) {
      const char c = text[i];
      if (c == '\\') {
        size_t count = 0;
        while (i < n && text[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && text[i] == '"') {
          word.append(count / 2, '\\');
          if (count % 2 == 1) {
            word.push_back('"');
            ++i;
          }
          // An even count leaves the quote to the quote handling below.
        } else {
          word.append(count, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (in_quotes && i + 1 < n && text[i + 1] == '"') {
          // The newer runtimes keep quoting after a doubled quote; older ones ended it.
          word.push_back('"');
          i += 2;
        } else {
          in_quotes = !in_quotes;
          ++i;
        }
        continue;
      }
      if (IsBlank(c) && !in_quotes) break;
      word.push_back(c);
      ++i;
    }
    // A word is pushed even when empty: only "" can make one, and it is a deliberate empty argument.
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace keep::platform
