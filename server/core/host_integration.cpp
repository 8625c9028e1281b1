#include "server/core/host_integration.h"

#include "platform/dialogs.h"

namespace keep::server {

bool ShowNoteBox(const ServerContext& context, std::string_view text, int icon) {
  std::string arguments = "\"/M:";
  arguments += text;
  arguments += "\" /I:";
  arguments += std::to_string(icon);
  return context.env.start_program(context.Setup.InstallPath + kNoteBoxProgram, arguments, platform::StartOptions{});
}

void ShowError(const ServerContext& context, std::string_view text, bool through_tool) {
  if (through_tool) {
    ShowNoteBox(context, text, platform::kMbIconError);
  } else {
    context.env.dialogs.ShowMessageBox(kMessageCaption, text, platform::kMbIconError + platform::kMbTaskModal);
  }
}

}  // namespace keep::server
