// One request line of the plain-text UPS network protocol, taken apart: its command and the words
// after it, or the error word the client is answered with. Words are separated by blanks; a word may
// hold double-quoted parts in which blanks are kept, and a backslash takes the next byte as it is
// (so `\"` and `\\`). Command words compare without regard to letter case; the argument words are
// kept exactly as the client wrote them.
//
// Pure functions, callable from any thread. The line is untrusted: its length is bounded by the line
// server, the number of words by kMaxNutWords, and no byte can make the parser read out of bounds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace keep::server::nut {

// More words than any request has: a line with more is refused before they are all kept.
inline constexpr size_t kMaxNutWords = 8;

// The error words of the protocol this server answers with.
namespace err {
inline constexpr std::string_view kUnknownCommand = "UNKNOWN-COMMAND";
inline constexpr std::string_view kInvalidArgument = "INVALID-ARGUMENT";
inline constexpr std::string_view kUnknownUps = "UNKNOWN-UPS";
inline constexpr std::string_view kVarNotSupported = "VAR-NOT-SUPPORTED";
inline constexpr std::string_view kCmdNotSupported = "CMD-NOT-SUPPORTED";
inline constexpr std::string_view kAccessDenied = "ACCESS-DENIED";
inline constexpr std::string_view kUsernameRequired = "USERNAME-REQUIRED";
inline constexpr std::string_view kPasswordRequired = "PASSWORD-REQUIRED";
inline constexpr std::string_view kAlreadySetUsername = "ALREADY-SET-USERNAME";
inline constexpr std::string_view kAlreadySetPassword = "ALREADY-SET-PASSWORD";
inline constexpr std::string_view kAlreadyLoggedIn = "ALREADY-LOGGED-IN";
inline constexpr std::string_view kDataStale = "DATA-STALE";
inline constexpr std::string_view kDriverNotConnected = "DRIVER-NOT-CONNECTED";
inline constexpr std::string_view kFeatureNotConfigured = "FEATURE-NOT-CONFIGURED";
}  // namespace err

enum class NutCommand {
  kVer,
  kNetVer,  // NETVER and PROTVER
  kHelp,
  kStartTls,
  kUsername,     // name
  kPassword,     // password
  kLogin,        // ups
  kLogout,
  kListUps,
  kListVar,      // ups
  kListCmd,      // ups
  kListRw,       // ups
  kListClient,   // ups
  kListEnum,     // ups var
  kListRange,    // ups var
  kGetVar,       // ups var
  kGetType,      // ups var
  kGetDesc,      // ups var
  kGetUpsDesc,   // ups
  kGetNumLogins, // ups
  kGetCmdDesc,   // ups cmd
  kSetVar,       // ups var value
  kInstCmd,      // ups cmd [value]
  kFsd,          // ups
};

struct NutRequest {
  NutCommand command = NutCommand::kVer;
  // The words after the command word(s), unquoted, in the order written.
  std::vector<std::string> args;
};

struct NutParse {
  bool ok = false;
  NutRequest request;      // when ok
  std::string_view error;  // one of err::*, when not ok
};

// Splits `line` into words; false (and `words` unspecified) for an unterminated quote, a backslash at
// the end, a control byte, or more than `max_words` words.
bool SplitNutWords(std::string_view line, size_t max_words, std::vector<std::string>& words);

// The request `line` (without its line end) asks for. A malformed line (see SplitNutWords), a LIST or
// GET of something unknown, or too few or too many words for the command is an INVALID-ARGUMENT; an
// empty line or a command word this server does not know is an UNKNOWN-COMMAND.
NutParse ParseNutRequest(std::string_view line);

}  // namespace keep::server::nut
