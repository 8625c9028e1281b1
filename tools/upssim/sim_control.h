// The control language of the simulator: one command per line, words separated by blanks, keywords
// in any letter case. Every command is answered by "OK" or "ERR <reason>"; "status" and "queries"
// answer data lines followed by "END". Blank lines get no answer. See README.md for the commands.
// Pure: the loop that owns the control connections carries out the actions a reply asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/upssim/simulator.h"

namespace keep::tools {

// A control line longer than this is refused ("ERR line too long").
inline constexpr std::size_t kMaxControlLineBytes = 256;

enum class ControlAction {
  kNone,
  kDropLink,  // close the link's present peer (only ever asked for when one can be dropped)
  kQuit,      // end the simulator after sending the reply
};

struct ControlContext {
  int64_t now_ms = 0;
  bool link_droppable = false;  // a TCP client is connected to the link now
};

struct ControlReply {
  std::string text;  // whole lines, each ending with "\n"; empty for a blank command line
  ControlAction action = ControlAction::kNone;
};

ControlReply ExecuteControl(std::string_view line, Simulator& simulator, const ControlContext& context);

// The reply to a line that was too long to be read.
std::string OverlongControlReply();

}  // namespace keep::tools
