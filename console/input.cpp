#include "console/input.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/text_lists.h"
#include "console/output.h"

namespace keep::console {

namespace {

bool WithinBounds(int value, int min, int max) {
  // -1 marks an open side of the range.
  if (min != -1 && value < min) return false;
  if (max != -1 && value > max) return false;
  return true;
}

std::optional<double> ParseDecimal(std::string_view text) {
  std::string number(TrimBlanks(text));
  if (number.empty() || number[0] == ',') return std::nullopt;
  const size_t comma = number.find(',');
  if (comma != std::string::npos) number[comma] = '.';
  double value = 0;
  const char* end = number.data() + number.size();
  const auto [rest, error] = std::from_chars(number.data(), end, value);
  if (error != std::errc() || rest != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<int> ParseWholeNumber(std::string_view text) {
  const std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty()) return std::nullopt;
  int value = 0;
  const char* end = trimmed.data() + trimmed.size();
  const auto [rest, error] = std::from_chars(trimmed.data(), end, value);
  if (error != std::errc() || rest != end) return std::nullopt;
  return value;
}

std::string ReadLine(ConsoleIo& io, std::string_view prompt, bool blank_line_first) {
  std::string text = blank_line_first ? "\n" : "";
  text += prompt;
  io.Write(text);
  return io.ReadInputLine();
}

char ReadKeyPrompt(ConsoleIo& io, std::string_view prompt, bool blank_line_first) {
  std::string text = blank_line_first ? "\n" : "";
  text += prompt;
  text += ' ';
  io.Write(text);
  if (const int pending = io.PendingKey(); pending != 0) {
    io.SetPendingKey(0);
    // Answered without a read: what follows is a new screen, as after any answer.
    io.BeginScreen();
    return static_cast<char>(pending & 0xFF);
  }
  const KeyPress key = io.ReadInputKey();
  if (key.character == 0 && key.extended != 0) io.SetPendingKey(key.extended);
  return key.character;
}

bool AskYesNo(ConsoleIo& io, std::string_view prompt, bool blank_line_first) {
  const std::string answer = ReadLine(io, prompt, blank_line_first);
  return answer == "Y" || answer == "y";
}

bool AskNumber(ConsoleIo& io, std::string_view prompt, int& value, int min, int max) {
  for (;;) {
    const std::string answer = ReadLine(io, prompt, false);
    if (TrimBlanks(answer).empty()) return false;
    const std::optional<int> number = ParseWholeNumber(answer);
    if (number && WithinBounds(*number, min, max)) {
      value = *number;
      return true;
    }
    char message[96];
    std::snprintf(message, sizeof message, "Number invalid or out of range (%d - %d) !", min, max);
    ShowErrorLine(io, message);
  }
}

bool AskDecimal(ConsoleIo& io, std::string_view prompt, double& value) {
  for (;;) {
    const std::string answer = ReadLine(io, prompt, false);
    if (TrimBlanks(answer).empty()) return false;
    if (const std::optional<double> number = ParseDecimal(answer)) {
      value = *number;
      return true;
    }
    ShowErrorLine(io, "Number invalid !");
  }
}

}  // namespace keep::console
