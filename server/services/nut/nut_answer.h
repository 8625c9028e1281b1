// The answer to one request line of the plain-text UPS network protocol: the lines to send back and
// whether the connection ends after them, from the connection's own state and what the server lets
// a request see. The server is read-only: it refuses SET, INSTCMD and FSD with the protocol's words.
//
// Pure apart from the view's callbacks, which it calls only for the requests that need them; main
// loop only when those callbacks are.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/services/nut/nut_request.h"
#include "server/services/nut/nut_variables.h"

namespace keep::server::nut {

// What one connection has said about itself.
struct NutSession {
  std::string peer;  // dotted IPv4 address
  std::optional<std::string> username;
  std::optional<std::string> password;
  bool logged_in = false;  // LOGIN succeeded: a monitoring client counted in NUMLOGINS
};

// Whether the server can vouch for the UPS data.
enum class NutDataState {
  kFresh,
  kStale,         // the link still counts as up, but no reply came for longer than it allows
  kNotConnected,  // the link to the UPS is lost, or was never made
};

// What a request may see of the server. The strings must outlive the call.
struct NutServerView {
  std::string_view ups_name;         // the one UPS, matched without regard to letter case
  std::string_view ups_description;  // GET UPSDESC and LIST UPS
  std::string_view monitor_user;     // the pair LOGIN accepts; an empty user lets nobody log in
  std::string_view monitor_password;
  std::string_view version;  // the server's version, for VER
  NutDataState data = NutDataState::kNotConnected;
  std::function<std::vector<NutVariable>()> variables;
  // The addresses of the connections logged in, one entry each.
  std::function<std::vector<std::string>()> logged_in_peers;
};

struct NutReply {
  std::vector<std::string> lines;  // without line ends
  bool close = false;              // end the connection once the lines are sent
};

// `value` in double quotes, with `"` and `\` escaped; a control byte other than a tab becomes a
// blank, so a value can never break the line.
std::string QuoteNutValue(std::string_view value);

NutReply AnswerNutRequest(const NutRequest& request, NutSession& session, const NutServerView& view);
// Parses `line` and answers it; a line that does not parse is answered with its error word.
NutReply AnswerNutLine(std::string_view line, NutSession& session, const NutServerView& view);

}  // namespace keep::server::nut
