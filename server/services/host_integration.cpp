#include "server/services/host_integration.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "common/ini_file.h"
#include "common/text_lists.h"
#include "platform/dialogs.h"
#include "platform/process.h"
#include "platform/services.h"

namespace keep::server {
namespace {

bool ProgramFileExists(const std::string& program) {
  std::error_code error;
  return !program.empty() && std::filesystem::is_regular_file(program, error);
}

std::string NoteBoxArguments(std::string_view text, int icon) {
  std::string arguments = "\"/M:";
  arguments += text;
  arguments += "\" /I:";
  arguments += std::to_string(icon);
  return arguments;
}

}  // namespace

std::string NoteBoxProgram() { return platform::ProgramName("bin/notebox"); }

std::string SessionNoteBoxProgram() { return platform::ProgramName("bin/VNoteBox"); }

std::string MailOutProgram() { return platform::ProgramName("bin/mailout"); }

int ShowMessageBox(const ServerContext& context, std::string_view text, int flags) {
  // Task-modal always: the server has no window of its own to own the box.
  return context.env.dialogs.ShowMessageBox(kMessageCaption, text, flags | platform::kMbTaskModal);
}

bool AskYesNo(const ServerContext& context, std::string_view text) {
  return context.env.dialogs.AskYesNo(kMessageCaption, text);
}

bool AskQuestion(const ServerContext& context, const std::string& language_file, std::string_view section,
                 std::string_view key) {
  return AskYesNo(context, ReadIniValue(language_file, section, key));
}

bool ShowNoteBox(const ServerContext& context, std::string_view text, int icon) {
  return context.env.start_program(context.Setup.InstallPath + NoteBoxProgram(), NoteBoxArguments(text, icon),
                                   platform::StartOptions{});
}

bool ShowNoteBoxInSession(const ServerContext& context, std::string_view text, int icon) {
  return StartForUser(context, context.Setup.InstallPath + SessionNoteBoxProgram(),
                      "/T:0 " + NoteBoxArguments(text, icon), kShowDefault);
}

void ShowError(const ServerContext& context, std::string_view text, bool through_tool) {
  if (through_tool) {
    ShowNoteBox(context, text, platform::kMbIconError);
  } else {
    ShowMessageBox(context, text, platform::kMbIconError);
  }
}

bool ShellStart(const ServerContext& context, int show_state, const std::string& program, std::string_view arguments) {
  // Checked here as well as by the starter, so a missing program never reaches whatever starter the
  // server was given.
  if (!ProgramFileExists(program)) return false;
  platform::StartOptions options;
  options.wait = false;
  options.hidden = show_state == kShowHidden;
  return context.env.start_program(program, TrimBlanks(arguments), options);
}

bool StartInConsoleSession(const ServerContext& /*context*/, const std::string& /*program*/,
                           std::string_view /*arguments*/) {
  // Without a console user's token there is no session to start in: fail quietly, as when the
  // session functions of the system are missing.
  return false;
}

bool StartForUser(const ServerContext& context, const std::string& program, std::string_view arguments,
                  int show_state) {
  // There is never a console user token here (see StartInConsoleSession), so the program is started
  // as the server's own user, like a service whose user session cannot be reached.
  return ShellStart(context, show_state, program, arguments);
}

uint32_t ServiceState(std::string_view name) { return platform::ServiceState(name); }

bool IsServiceRunning(std::string_view name) { return ServiceState(name) == platform::kServiceRunning; }

bool IsMessengerRunning() { return IsServiceRunning("Messenger"); }

bool SetServiceProcess(bool register_process) { return platform::SetServiceProcess(register_process); }

std::string NetSendRecipient(std::string_view recipient, std::string_view workgroup) {
  if (recipient != "*") return std::string(recipient);
  if (workgroup.empty()) return {};
  return std::string(workgroup) + "*";
}

void NetSend(std::string_view recipient, std::string_view sender, std::string_view text) {
  const std::string address = NetSendRecipient(recipient, recipient == "*" ? platform::WorkgroupName() : std::string());
  if (address.empty()) return;
  platform::SendNetworkMessage(address, sender, text);
}

}  // namespace keep::server
