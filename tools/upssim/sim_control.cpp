#include "tools/upssim/sim_control.h"

#include <algorithm>
#include <bitset>
#include <iterator>
#include <optional>
#include <vector>

#include "tools/upssim/megatec_sim.h"
#include "tools/upssim/sim_numbers.h"

namespace keep::tools {
namespace {

constexpr int kMaxSplitPieces = 64;
constexpr int kMaxFaultMs = 60000;
constexpr int kHighestCommand = 255;
constexpr std::string_view kDefaultIdent = "default";

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    const size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r') ++at;
    if (at > start) words.push_back(line.substr(start, at - start));
  }
  return words;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// A word of the line as an error reply may quote it: control bytes would garble the peer's terminal.
std::string Quoted(std::string_view word) {
  std::string text = "\"";
  for (const char c : word) text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  return text + "\"";
}

std::string Ok() { return "OK\n"; }
std::string Err(std::string_view reason) { return "ERR " + std::string(reason) + "\n"; }

std::optional<bool> ParseSwitch(std::string_view word) {
  const std::string lower = Lower(word);
  if (lower == "on") return true;
  if (lower == "off") return false;
  return std::nullopt;
}

std::string_view SwitchText(bool on) { return on ? "on" : "off"; }

// A reading settable with "set NAME VALUE": its range and how many decimals its answers show.
struct Reading {
  std::string_view name;
  double SimState::*field;
  double min;
  double max;
  int decimals;
};

constexpr Reading kReadings[] = {
    {"vin", &SimState::input_voltage, 0, 999.9, 1},    {"vfault", &SimState::input_fault_voltage, 0, 999.9, 1},
    {"vout", &SimState::output_voltage, 0, 999.9, 1},  {"freq", &SimState::input_frequency, 0, 99.9, 1},
    {"vbat", &SimState::battery_voltage, 0, 99.99, 2}, {"vnom", &SimState::battery_nominal, 0, 99.99, 2},
    {"temp", &SimState::temperature, -99.9, 999.9, 1},
};

struct Flag {
  std::string_view name;
  bool SimState::*field;
};

constexpr Flag kFlags[] = {
    {"failed", &SimState::ups_failed},
    {"standby", &SimState::standby_type},
    {"beeper", &SimState::beeper_on},
    {"shutdown", &SimState::shutdown_active},
};

std::string SetCommand(const std::vector<std::string_view>& words, SimState& state) {
  if (words.size() < 2) return Err("set needs a name");
  const std::string name = Lower(words[1]);
  if (const auto power = ParsePowerSource(name)) {
    if (words.size() != 2) return Err("set " + name + " takes no value");
    state.power = *power;
    return Ok();
  }
  const bool known =
      name == "load" || name == "test" ||
      std::any_of(std::begin(kReadings), std::end(kReadings), [&](const Reading& r) { return r.name == name; }) ||
      std::any_of(std::begin(kFlags), std::end(kFlags), [&](const Flag& f) { return f.name == name; });
  if (!known) return Err("unknown setting " + Quoted(words[1]));
  if (words.size() != 3) return Err("set " + name + " needs one value");
  const std::string_view value = words[2];
  if (name == "load") {
    const auto load = ParseWhole(value, 999);
    if (!load) return Err("load must be a whole number from 0 to 999");
    state.load_percent = *load;
    return Ok();
  }
  for (const Reading& reading : kReadings) {
    if (reading.name != name) continue;
    const auto number = ParseDecimal(value);
    if (!number || *number < reading.min || *number > reading.max) {
      return Err(name + " must be a number from " + FormatFixed(reading.min, reading.decimals, 0) + " to " +
                 FormatFixed(reading.max, reading.decimals, 0));
    }
    state.*reading.field = *number;
    return Ok();
  }
  const auto on = ParseSwitch(value);
  if (name == "test") {
    if (!on) return Err("test must be on or off");
    state.test_held = *on;
    if (!*on) state.test_ends_ms = 0;
    return Ok();
  }
  for (const Flag& flag : kFlags) {
    if (flag.name != name) continue;
    if (!on) return Err(name + " must be on or off");
    state.*flag.field = *on;
    return Ok();
  }
  return Err("unknown setting " + Quoted(words[1]));
}

// "set ident TEXT": the text is the rest of the line after the one blank behind "ident", blanks kept.
std::string SetIdent(std::string_view line, std::string_view ident_word, SimState& state) {
  std::string_view text = line.substr(static_cast<size_t>(ident_word.data() - line.data()) + ident_word.size());
  if (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (Lower(text) == kDefaultIdent) {
    state.ident.clear();
    return Ok();
  }
  if (!IsValidMegatecIdent(text)) {
    return Err("ident needs 1 to " + std::to_string(kMaxIdentBytes) + " printable characters, or default");
  }
  state.ident = std::string(text);
  return Ok();
}

// "fault refuse N [N ...]" adds commands to those refused; "fault refuse off" (or "none") clears them.
std::string RefuseCommand(const std::vector<std::string_view>& words, SimState& state) {
  if (words.size() < 3) return Err("fault refuse needs command numbers, or off");
  if (words.size() == 3 && (Lower(words[2]) == "off" || Lower(words[2]) == "none")) {
    state.refused_commands.reset();
    return Ok();
  }
  std::bitset<256> refused = state.refused_commands;
  for (size_t i = 2; i < words.size(); ++i) {
    const auto command = ParseWhole(words[i], kHighestCommand);
    if (!command) return Err("refuse takes command numbers from 0 to " + std::to_string(kHighestCommand) + ", or off");
    refused.set(static_cast<size_t>(*command));
  }
  state.refused_commands = refused;
  return Ok();
}

std::string RefusedText(const std::bitset<256>& refused) {
  std::string text;
  for (size_t command = 0; command < refused.size(); ++command) {
    if (!refused.test(command)) continue;
    if (!text.empty()) text += ' ';
    text += std::to_string(command);
  }
  return text.empty() ? "none" : text;
}

std::string FaultCommand(const std::vector<std::string_view>& words, Simulator& simulator) {
  if (words.size() < 2) return Err("fault needs a name");
  LinkFaults& faults = simulator.Faults();
  const std::string name = Lower(words[1]);
  if (name == "clear") {
    if (words.size() != 2) return Err("fault clear takes no value");
    faults = LinkFaults();
    simulator.State().refused_commands.reset();
    return Ok();
  }
  if (name == "refuse") return RefuseCommand(words, simulator.State());
  if (name == "silent" || name == "garbage") {
    const auto on = words.size() == 3 ? ParseSwitch(words[2]) : std::nullopt;
    if (!on) return Err(name + " must be on or off");
    (name == "silent" ? faults.silent : faults.garbage) = *on;
    return Ok();
  }
  if (name == "split") {
    if (words.size() != 3 && words.size() != 4) return Err("fault split needs a piece count and maybe a gap");
    const auto pieces = ParseWhole(words[2], kMaxSplitPieces);
    if (!pieces) return Err("split must be a whole number from 0 to " + std::to_string(kMaxSplitPieces));
    std::optional<int> gap = faults.split_gap_ms;
    if (words.size() == 4) gap = ParseWhole(words[3], kMaxFaultMs);
    if (!gap) return Err("the gap must be a whole number of ms from 0 to " + std::to_string(kMaxFaultMs));
    faults.split_pieces = *pieces;
    faults.split_gap_ms = *gap;
    return Ok();
  }
  if (name == "delay") {
    const auto ms = words.size() == 3 ? ParseWhole(words[2], kMaxFaultMs) : std::nullopt;
    if (!ms) return Err("delay must be a whole number of ms from 0 to " + std::to_string(kMaxFaultMs));
    faults.delay_ms = *ms;
    return Ok();
  }
  return Err("unknown fault " + Quoted(words[1]));
}

std::string StatusText(const Simulator& simulator, int64_t now_ms) {
  const SimState& s = simulator.State();
  const LinkFaults& f = simulator.Faults();
  std::string text;
  const auto line = [&text](std::string_view name, std::string_view value) {
    text += std::string(name) + " " + std::string(value) + "\n";
  };
  line("power", PowerSourceName(s.power));
  line("load", std::to_string(s.load_percent));
  for (const Reading& reading : kReadings) line(reading.name, FormatFixed(s.*reading.field, reading.decimals, 0));
  for (const Flag& flag : kFlags) line(flag.name, SwitchText(s.*flag.field));
  line("test", SwitchText(s.TestInProgress(now_ms)));
  line("lastshutdown", s.shutdown_query.empty() ? "none" : s.shutdown_query);
  line("ident", s.ident.empty() ? kDefaultIdent : s.ident);
  line("silent", SwitchText(f.silent));
  line("garbage", SwitchText(f.garbage));
  line("split", std::to_string(f.split_pieces) + " " + std::to_string(f.split_gap_ms));
  line("delay", std::to_string(f.delay_ms));
  line("refuse", RefusedText(s.refused_commands));
  text += "END\n";
  return text;
}

}  // namespace

ControlReply ExecuteControl(std::string_view line, Simulator& simulator, const ControlContext& context) {
  ControlReply reply;
  if (line.size() > kMaxControlLineBytes) {
    reply.text = OverlongControlReply();
    return reply;
  }
  const std::vector<std::string_view> words = Words(line);
  if (words.empty()) return reply;
  const std::string command = Lower(words[0]);
  if (command == "set" && words.size() >= 2 && Lower(words[1]) == "ident") {
    reply.text = SetIdent(line, words[1], simulator.State());
  } else if (command == "set") {
    reply.text = SetCommand(words, simulator.State());
  } else if (command == "fault") {
    if (words.size() >= 2 && Lower(words[1]) == "drop") {
      if (words.size() != 2) {
        reply.text = Err("fault drop takes no value");
      } else if (!context.link_droppable) {
        reply.text = Err("no TCP client on the link");
      } else {
        reply.text = Ok();
        reply.action = ControlAction::kDropLink;
      }
    } else {
      reply.text = FaultCommand(words, simulator);
    }
  } else if (command == "status" && words.size() == 1) {
    reply.text = StatusText(simulator, context.now_ms);
  } else if (command == "queries" && words.size() == 1) {
    for (const std::string& query : simulator.Queries()) reply.text += query + "\n";
    reply.text += "END\n";
  } else if (command == "queries" && words.size() == 2 && Lower(words[1]) == "clear") {
    simulator.ClearQueries();
    reply.text = Ok();
  } else if (command == "quit" && words.size() == 1) {
    reply.text = Ok();
    reply.action = ControlAction::kQuit;
  } else if (command == "status" || command == "queries" || command == "quit") {
    reply.text = Err("wrong arguments for " + command);
  } else {
    reply.text = Err("unknown command " + Quoted(words[0]));
  }
  return reply;
}

std::string OverlongControlReply() { return Err("line too long"); }

}  // namespace keep::tools
