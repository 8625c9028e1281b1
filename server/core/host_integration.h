// Message boxes that never block the server: shown through the note-box companion program.
#pragma once

#include <string>
#include <string_view>

#include "server/core/server_context.h"

namespace keep::server {

inline constexpr char kMessageCaption[] = "Voltrena";
inline constexpr char kNoteBoxProgram[] = "bin/notebox";

// Starts the note-box program of the installation with "\"/M:<text>\" /I:<icon>" and returns at
// once; false when the program is missing or could not be started. With no installation folder the
// program is looked for relative to the current folder.
bool ShowNoteBox(const ServerContext& context, std::string_view text, int icon);

// An error message: through the note-box program when `through_tool` (so a server without a desktop
// never hangs on a dialog), else as a message box of this process.
void ShowError(const ServerContext& context, std::string_view text, bool through_tool);

}  // namespace keep::server
