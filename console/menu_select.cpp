#include "console/menu_select.h"

#include <cctype>

#include "console/input.h"

namespace keep::console {

int SelectFromMenu(ConsoleIo& io, const TStringList& entries, std::string_view prompt, std::string_view quit_answer) {
  return SelectFromMenu(io, entries, prompt, quit_answer, {});
}

int SelectFromMenu(ConsoleIo& io, const TStringList& entries, std::string_view prompt, std::string_view quit_answer,
                   const std::function<bool()>& stale) {
  const std::string title = entries.empty() ? std::string() : entries.front();
  const size_t count = entries.empty() ? 0 : entries.size() - 1;
  for (;;) {
    std::string text = "\n\n\n";
    if (!title.empty()) text += "******** " + title + " ********\n\n";
    for (size_t i = 1; i <= count; ++i) {
      text += (count >= 10 && i < 10) ? "  " : " ";
      text += std::to_string(i) + " - " + entries[i] + "\n";
    }
    text += "\n";
    io.BeginScreen();
    io.Write(text);
    std::string answer = ReadLine(io, prompt, false);
    if (io.InputEnded()) return kMenuQuit;
    for (char& c : answer) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (answer == quit_answer) return kMenuQuit;
    const std::optional<int> number = ParseWholeNumber(answer);
    if (number && *number >= 1 && static_cast<size_t>(*number) <= count) return *number - 1;
    io.Beep();
    if (stale && stale()) return kMenuStale;
  }
}

}  // namespace keep::console
