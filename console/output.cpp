#include "console/output.h"

#include "console/input.h"

namespace keep::console {

void ShowTitle(ConsoleIo& io, std::string_view text) {
  io.BeginScreen();
  std::string block = "\n\n";
  block += text;
  block += '\n';
  block += std::string(text.size(), '-');
  block += '\n';
  io.Write(block);
}

void ShowInfo(ConsoleIo& io, std::string_view text) {
  std::string line = " ";
  line += text;
  io.WriteLine(line);
}

void ShowErrorLine(ConsoleIo& io, std::string_view text) {
  std::string block = "\a\n ERROR !  ";
  block += text;
  block += "\n\n";
  io.Write(block);
}

void WaitEnter(ConsoleIo& io) { ReadLine(io, kEnterPrompt, true); }

}  // namespace keep::console
