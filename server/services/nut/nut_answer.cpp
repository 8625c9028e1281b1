#include "server/services/nut/nut_answer.h"

#include <algorithm>
#include <utility>

namespace keep::server::nut {
namespace {

constexpr std::string_view kProtocolVersion = "1.3";
constexpr std::string_view kHelpLine =
    "Commands: HELP VER NETVER PROTVER STARTTLS USERNAME PASSWORD LOGIN LOGOUT GET LIST SET INSTCMD FSD";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// Equal-length comparison that does not stop at the first difference, so the time of a refused
// login does not tell how much of the password was right.
bool SameSecret(std::string_view given, std::string_view expected) {
  if (expected.empty()) return given.empty();
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
  }
  return difference == 0;
}

NutReply Error(std::string_view word) { return NutReply{{"ERR " + std::string(word)}, false}; }
NutReply Line(std::string line) { return NutReply{{std::move(line)}, false}; }

class Answerer {
 public:
  Answerer(const NutRequest& request, NutSession& session, const NutServerView& view)
      : request_(request), args_(request.args), session_(session), view_(view) {}

  NutReply Answer() {
    switch (request_.command) {
      case NutCommand::kVer:
        return Line(std::string(view_.version));
      case NutCommand::kNetVer:
        return Line(std::string(kProtocolVersion));
      case NutCommand::kHelp:
        return Line(std::string(kHelpLine));
      case NutCommand::kStartTls:
        return Error(err::kFeatureNotConfigured);
      case NutCommand::kUsername:
        if (session_.username) return Error(err::kAlreadySetUsername);
        session_.username = args_[0];
        return Line("OK");
      case NutCommand::kPassword:
        if (session_.password) return Error(err::kAlreadySetPassword);
        session_.password = args_[0];
        return Line("OK");
      case NutCommand::kLogin:
        return Login();
      case NutCommand::kLogout:
        // A secondary logs out as it goes down; the primary stops counting it at once.
        session_.logged_in = false;
        return NutReply{{"OK Goodbye"}, true};
      case NutCommand::kListUps:
        return NutReply{{"BEGIN LIST UPS", "UPS " + std::string(view_.ups_name) + " " + Quoted(view_.ups_description),
                         "END LIST UPS"},
                        false};
      case NutCommand::kListVar:
        return ListVar();
      case NutCommand::kListCmd:
        return EmptyList("CMD");
      case NutCommand::kListRw:
        return EmptyList("RW");
      case NutCommand::kListClient:
        return ListClient();
      case NutCommand::kListEnum:
        return EmptyVariableList("ENUM");
      case NutCommand::kListRange:
        return EmptyVariableList("RANGE");
      case NutCommand::kGetVar:
        return GetVar();
      case NutCommand::kGetType:
        return GetType();
      case NutCommand::kGetDesc:
        return GetDesc();
      case NutCommand::kGetUpsDesc:
        if (!KnownUps()) return Error(err::kUnknownUps);
        return Line("UPSDESC " + args_[0] + " " + Quoted(view_.ups_description));
      case NutCommand::kGetNumLogins:
        if (!KnownUps()) return Error(err::kUnknownUps);
        return Line("NUMLOGINS " + args_[0] + " " + std::to_string(LoggedInPeers().size()));
      case NutCommand::kGetCmdDesc:
        if (!KnownUps()) return Error(err::kUnknownUps);
        return Error(err::kCmdNotSupported);
      case NutCommand::kSetVar:
      case NutCommand::kInstCmd:
      case NutCommand::kFsd:
        return Refuse();
    }
    return Error(err::kUnknownCommand);
  }

 private:
  static std::string Quoted(std::string_view value) { return QuoteNutValue(value); }

  bool KnownUps() const { return SameIgnoringCase(args_[0], view_.ups_name); }

  std::vector<std::string> LoggedInPeers() const {
    return view_.logged_in_peers ? view_.logged_in_peers() : std::vector<std::string>();
  }
  std::vector<NutVariable> Variables() const {
    return view_.variables ? view_.variables() : std::vector<NutVariable>();
  }

  // The error for data the server cannot vouch for, if any.
  std::optional<NutReply> DataError() const {
    if (view_.data == NutDataState::kNotConnected) return Error(err::kDriverNotConnected);
    if (view_.data == NutDataState::kStale) return Error(err::kDataStale);
    return std::nullopt;
  }

  NutReply Login() {
    if (session_.logged_in) return Error(err::kAlreadyLoggedIn);
    if (!session_.username) return Error(err::kUsernameRequired);
    if (!session_.password) return Error(err::kPasswordRequired);
    if (!KnownUps()) return Error(err::kUnknownUps);
    const bool user_ok = !view_.monitor_user.empty() && *session_.username == view_.monitor_user;
    const bool password_ok = SameSecret(*session_.password, view_.monitor_password);
    if (!user_ok || !password_ok) return Error(err::kAccessDenied);
    session_.logged_in = true;
    return Line("OK");
  }

  // Nothing may be changed here: who has not named themselves is asked to, everybody else refused.
  NutReply Refuse() const {
    if (!session_.username) return Error(err::kUsernameRequired);
    if (!session_.password) return Error(err::kPasswordRequired);
    if (!KnownUps()) return Error(err::kUnknownUps);
    return Error(err::kAccessDenied);
  }

  NutReply ListVar() {
    if (!KnownUps()) return Error(err::kUnknownUps);
    if (std::optional<NutReply> error = DataError()) return *error;
    const std::string& ups = args_[0];
    NutReply reply;
    reply.lines.push_back("BEGIN LIST VAR " + ups);
    for (const NutVariable& variable : Variables()) {
      reply.lines.push_back("VAR " + ups + " " + variable.name + " " + Quoted(variable.value));
    }
    reply.lines.push_back("END LIST VAR " + ups);
    return reply;
  }

  NutReply ListClient() {
    if (!KnownUps()) return Error(err::kUnknownUps);
    const std::string& ups = args_[0];
    NutReply reply;
    reply.lines.push_back("BEGIN LIST CLIENT " + ups);
    for (const std::string& peer : LoggedInPeers()) reply.lines.push_back("CLIENT " + ups + " " + peer);
    reply.lines.push_back("END LIST CLIENT " + ups);
    return reply;
  }

  NutReply EmptyList(std::string_view what) {
    if (!KnownUps()) return Error(err::kUnknownUps);
    const std::string tail = std::string(what) + " " + args_[0];
    return NutReply{{"BEGIN LIST " + tail, "END LIST " + tail}, false};
  }

  NutReply EmptyVariableList(std::string_view what) {
    if (!KnownUps()) return Error(err::kUnknownUps);
    if (NutVariableDescription(Lowered(args_[1])).empty()) return Error(err::kVarNotSupported);
    const std::string tail = std::string(what) + " " + args_[0] + " " + args_[1];
    return NutReply{{"BEGIN LIST " + tail, "END LIST " + tail}, false};
  }

  static std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = Lower(c);
    return lowered;
  }

  // The variable the request names, found without regard to letter case.
  std::optional<NutVariable> Find() const {
    for (NutVariable& variable : Variables()) {
      if (SameIgnoringCase(variable.name, args_[1])) return std::move(variable);
    }
    return std::nullopt;
  }

  NutReply GetVar() {
    if (!KnownUps()) return Error(err::kUnknownUps);
    if (std::optional<NutReply> error = DataError()) return *error;
    const std::optional<NutVariable> variable = Find();
    if (!variable) return Error(err::kVarNotSupported);
    return Line("VAR " + args_[0] + " " + args_[1] + " " + Quoted(variable->value));
  }

  NutReply GetType() {
    if (!KnownUps()) return Error(err::kUnknownUps);
    const std::optional<NutVariable> variable = Find();
    if (!variable) return Error(err::kVarNotSupported);
    const std::string type =
        variable->number ? "NUMBER" : "STRING:" + std::to_string(std::max<size_t>(variable->value.size(), 1));
    return Line("TYPE " + args_[0] + " " + args_[1] + " " + type);
  }

  NutReply GetDesc() {
    if (!KnownUps()) return Error(err::kUnknownUps);
    const std::string_view description = NutVariableDescription(Lowered(args_[1]));
    if (description.empty()) return Error(err::kVarNotSupported);
    return Line("DESC " + args_[0] + " " + args_[1] + " " + Quoted(description));
  }

  const NutRequest& request_;
  const std::vector<std::string>& args_;
  NutSession& session_;
  const NutServerView& view_;
};

}  // namespace

std::string QuoteNutValue(std::string_view value) {
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted.push_back('"');
  for (const char c : value) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    const auto byte = static_cast<unsigned char>(c);
    quoted.push_back((byte < 0x20 && c != '\t') || byte == 0x7f ? ' ' : c);
  }
  quoted.push_back('"');
  return quoted;
}

NutReply AnswerNutRequest(const NutRequest& request, NutSession& session, const NutServerView& view) {
  return Answerer(request, session, view).Answer();
}

NutReply AnswerNutLine(std::string_view line, NutSession& session, const NutServerView& view) {
  const NutParse parse = ParseNutRequest(line);
  if (!parse.ok) return Error(parse.error);
  return AnswerNutRequest(parse.request, session, view);
}

}  // namespace keep::server::nut
