#include "tools/upssim/sim_options.h"

#include "tools/upssim/megatec_sim.h"
#include "tools/upssim/sim_numbers.h"
#include "tools/upssim/sim_protocol.h"

namespace keep::tools {
namespace {

// "0, 1, 2, 3, 5, 6, 7 or 8", or with `separator` "|": "0|1|2|3|5|6|7|8".
std::string ProtocolList(std::string_view separator, std::string_view last) {
  const std::vector<int> numbers = SupportedSimProtocols();
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? last : separator;
    text += std::to_string(numbers[i]);
  }
  return text;
}

}  // namespace

SimOptionsResult ParseSimOptions(const std::vector<std::string>& arguments) {
  SimOptionsResult result;
  SimOptions& options = result.options;
  bool pty = false;
  bool tcp = false;
  const auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return result;
  };
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h") {
      result.help = true;
      return result;
    } else if (argument == "--protocol") {
      const auto number = has_value ? ParseWhole(arguments[++i], kHighestSimProtocol) : std::nullopt;
      if (!number || !IsSimProtocolSupported(*number)) return fail("--protocol needs " + ProtocolList(", ", " or "));
      options.protocol = *number;
    } else if (argument == "--pty") {
      pty = true;
    } else if (argument == "--tcp") {
      tcp = true;
      // The port is optional: a following word that is no option is taken as the port.
      if (has_value && arguments[i + 1].rfind("--", 0) != 0) {
        const auto port = ParseWhole(arguments[++i], 65535);
        if (!port) return fail("--tcp takes a port from 0 to 65535");
        options.tcp_port = *port;
      }
    } else if (argument == "--link") {
      if (!has_value || arguments[i + 1].empty()) return fail("--link needs a path");
      options.link_path = arguments[++i];
    } else if (argument == "--control") {
      const auto port = has_value ? ParseWhole(arguments[++i], 65535) : std::nullopt;
      if (!port) return fail("--control needs a port from 0 to 65535");
      options.control_port = *port;
    } else if (argument == "--record") {
      if (!has_value || arguments[i + 1].empty()) return fail("--record needs a file");
      options.record_file = arguments[++i];
    } else if (argument == "--ident") {
      if (!has_value || !IsValidMegatecIdent(arguments[i + 1])) {
        return fail("--ident needs 1 to " + std::to_string(kMaxIdentBytes) + " printable characters");
      }
      options.ident = arguments[++i];
    } else {
      return fail("unknown argument \"" + argument + "\"");
    }
  }
  if (pty == tcp) return fail("give either --pty or --tcp");
  if (!options.link_path.empty() && !pty) return fail("--link goes with --pty");
  options.link = pty ? SimLinkKind::kPty : SimLinkKind::kTcp;
  return result;
}

std::string SimUsage() {
  return "usage: upssim [--protocol " + ProtocolList("|", "|") +
         "] (--pty [--link PATH] | --tcp [PORT])\n"
         "              [--control PORT] [--record FILE] [--ident TEXT]\n";
}

}  // namespace keep::tools
