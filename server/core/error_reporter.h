// Reports a failure of the start sequence to whoever watches the server: the note-box program,
// the log file and standard error.
#pragma once

#include "server/services/server_context.h"

namespace keep::server {

inline constexpr char kInvalidSetupText[] = "Invalid setup.\r\n Pls. uninstall and then install this software again.";

// The text shown for `code`: the fixed invalid-setup text, the language file's "ERRORS" text (with
// the device or port filled in where the code has one), or the system's text of a system error code
// as "%s (error code: %d)".
std::string StartErrorMessage(const ServerContext& context, int code);

// Whether `code` ends the start-up.
bool IsFatalStartError(int code);

// Shows and logs `code`; a fatal one also runs the stop sequence. Returns whether it was fatal.
// Code 0 reports nothing and returns false.
bool ReportStartError(ServerContext& context, int code);

}  // namespace keep::server
