#include "server/services/drill_description.h"

#include <string>

#include "server/services/host_integration.h"
#include "server/services/local_shutdown.h"
#include "server/services/remote_command.h"

namespace keep::server {
namespace {

constexpr int kRequestUpsShutdown = 2;
constexpr char kNoRestart[] = "@";
constexpr char kHiddenPassword[] = "********";

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Started(const DrillAct& act, std::string_view arguments) {
  std::string line = "starts " + OneLine(act.program);
  if (!arguments.empty()) line += (arguments.front() == ' ' ? "" : " ") + OneLine(arguments);
  return line;
}

// The note-box programs get `["/T:0 "]"/M:<text>" /I:<icon>`.
std::string NoteBoxText(std::string_view arguments) {
  const size_t start = arguments.find("\"/M:");
  const size_t end = arguments.rfind("\" /I:");
  if (start == std::string_view::npos || end == std::string_view::npos || end < start + 4) return {};
  return std::string(arguments.substr(start + 4, end - start - 4));
}

// The mail program's password word -w:"<password>" with the password starred out.
std::string HidePassword(std::string arguments, const TEmailSetup& email) {
  const std::string word = "-w:\"" + email.EmailPassword + "\"";
  const size_t at = arguments.find(word);
  if (at != std::string::npos) arguments.replace(at, word.size(), std::string("-w:\"") + kHiddenPassword + "\"");
  return arguments;
}

std::string RemoteKindText(uint8_t kind) {
  switch (kind) {
    case kRemoteShutdown:
      return "shut that computer down";
    case kRemoteMessage:
      return "show a message";
    case kRemoteShell1:
    case kRemoteShell1 + 1:
    case kRemoteShell1 + 2:
      return "run its command " + std::to_string(kind - kRemoteShell1 + 1);
    default:
      return "kind " + std::to_string(kind);
  }
}

std::string SeverityText(platform::SystemLog::Severity severity) {
  switch (severity) {
    case platform::SystemLog::Severity::kWarning:
      return "warning";
    case platform::SystemLog::Severity::kError:
      return "error";
    default:
      return "information";
  }
}

std::vector<std::string> DescribeProgram(const DrillAct& act, const TSetupData& setup) {
  const std::string& path = act.program;
  if (EndsWith(path, NoteBoxProgram()) || EndsWith(path, SessionNoteBoxProgram())) {
    return {"pop-up: " + OneLine(NoteBoxText(act.text)), Started(act, act.text)};
  }
  if (EndsWith(path, MailOutProgram())) {
    return {"e-mail: " + Started(act, HidePassword(act.text, setup.EmailSetup))};
  }
  if (path == setup.InstallPath + ShutdownScript()) {
    std::vector<std::string> lines;
    if (setup.ServerSetup.NutListenPort != 0) {
      lines.push_back("secondaries on the UPS network protocol: told to shut down (FSD), waited for up to " +
                      std::to_string(HostSyncLimitMs(setup) / 1000) + " s to log out");
    }
    lines.push_back("shutdown script: " + Started(act, act.text) + " (this computer shuts down)");
    return lines;
  }
  return {Started(act, act.text)};
}

std::vector<std::string> DescribeUpsRequest(const DrillAct& act) {
  if (act.code != kRequestUpsShutdown) {
    std::string line = "UPS request " + std::to_string(act.code);
    for (const std::string& field : act.fields) line += " " + OneLine(field);
    return {line};
  }
  const std::string off = act.fields.empty() ? std::string("?") : OneLine(act.fields[0]);
  std::string line = "UPS switch-off request: the UPS switches off " + off + " s later";
  if (act.fields.size() < 2 || act.fields[1] == kNoRestart) {
    line += ", no restart";
  } else {
    line += " and restarts " + OneLine(act.fields[1]) + " s after the mains return";
  }
  return {line};
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line += " / ";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      line += '?';
    } else {
      line += c;
    }
  }
  return line;
}

std::vector<std::string> DescribeAct(const DrillAct& act, const TSetupData& setup) {
  switch (act.kind) {
    case DrillAct::Kind::kProgram:
      return DescribeProgram(act, setup);
    case DrillAct::Kind::kLogLine:
      return {"log line: " + OneLine(act.text)};
    case DrillAct::Kind::kRemoteCommand: {
      std::string line =
          "remote command to " + OneLine(act.host) + ":" + OneLine(act.port) + ": " + RemoteKindText(act.remote_kind);
      if (const std::optional<std::string> problem = RemoteTargetProblem(setup, act.host, act.port)) {
        line += " - NOT SENT: " + OneLine(*problem);
      }
      std::vector<std::string> lines{line};
      if (!act.text.empty()) lines.push_back("message: " + OneLine(act.text));
      return lines;
    }
    case DrillAct::Kind::kSystemLog:
      return {"system log entry (" + SeverityText(act.severity) + "): " + OneLine(act.text)};
    case DrillAct::Kind::kUpsRequest:
      return DescribeUpsRequest(act);
  }
  return {};
}

}  // namespace keep::server
