#include "common/text_lists.h"

#include <algorithm>

namespace keep {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

void SplitText(char delimiter, std::string_view text, TStringList& list, bool clear_first) {
  if (clear_first) list.clear();
  // One allocation for the list, not one per doubling: every client request is split here.
  list.reserve(list.size() + static_cast<size_t>(std::count(text.begin(), text.end(), delimiter)) + 1);
  for (;;) {
    const size_t pos = text.find(delimiter);
    if (pos == std::string_view::npos) {
      // A blank last field is dropped, so "a|b|" and "a|b" read the same.
      const std::string_view last = TrimBlanks(text);
      if (!last.empty()) list.emplace_back(last);
      return;
    }
    list.emplace_back(TrimBlanks(text.substr(0, pos)));
    text.remove_prefix(pos + 1);
  }
}

std::string JoinText(const TStringList& list, char delimiter) {
  std::string result;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) result += delimiter;
    result += list[i];
  }
  return result;
}

int IndexOfKey(const TStringList& list, std::string_view key) {
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string_view entry = list[i];
    const size_t bar = entry.find('|');
    if (bar == std::string_view::npos) continue;
    if (TrimBlanks(entry.substr(0, bar)) == key) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace keep
