// keepterm: the text-mode diagnostic console of the UPS server.
#include <memory>
#include <string>
#include <vector>

#include "console/actions.h"
#include "console/keepterm_arguments.h"
#include "console/keepterm_program.h"
#include "console/menus.h"
#include "console/terminal_io.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  using namespace keep;
  std::unique_ptr<platform::Terminal> terminal = platform::Terminal::CreateStandard();
  switch (console::ParseKeeptermArguments(std::vector<std::string>(argv + 1, argv + argc))) {
    case console::KeeptermStart::kUsage:
      terminal->Write(console::kUsageText);
      return 0;
    case console::KeeptermStart::kCredits:
      terminal->Write(std::string(console::kCreditsLine) + "\n\n");
      return 0;
    case console::KeeptermStart::kDialog:
      break;
  }
  console::TerminalInput input(*terminal);
  console::TerminalOutput output(*terminal);
  console::ConsoleIo io(input, output);
  std::unique_ptr<console::ServerLink> link = console::CreateTcpServerLink();
  std::unique_ptr<console::Pause> pause = console::Pause::CreateReal();
  return console::RunConsoleProgram(io, link.get(), *pause, console::RenderStyle::ForTerminal(terminal->IsUtf8()),
                                    console::MakeUpsEntries({console::RunActionsMenu, console::RunSetupMenu}));
}
