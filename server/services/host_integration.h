// What the server asks of its host beyond files and sockets: message boxes (shown directly or
// through companion programs, so the server never blocks on a dialog), starting programs for the
// user, and the service and network-message queries. Main loop only, unless a function says
// otherwise. Nothing here raises an error or shows a message when it fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/services/server_context.h"

namespace keep::server {

inline constexpr char kMessageCaption[] = "Voltrena";
// Companion programs, relative to the installation folder, as the system names their files
// ("bin/notebox" on POSIX, "bin\\notebox.exe" on Windows).
std::string NoteBoxProgram();
std::string SessionNoteBoxProgram();
std::string MailOutProgram();

// Window show states of a started program: hidden, and the program's default.
inline constexpr int kShowHidden = 0;
inline constexpr int kShowDefault = 10;

// A box of this process with the caption kMessageCaption, always task-modal; returns the button
// pressed. Blocks until it is answered (on POSIX it is a line on standard error and returns at once).
int ShowMessageBox(const ServerContext& context, std::string_view text, int flags);

// True only when the person answers yes; blocks the caller until then (no terminal means no).
bool AskYesNo(const ServerContext& context, std::string_view text);

// AskYesNo of the value of `key` in `section` of the language file `language_file`.
bool AskQuestion(const ServerContext& context, const std::string& language_file, std::string_view section,
                 std::string_view key);

// Starts the note-box program of the installation with "\"/M:<text>\" /I:<icon>" and returns at
// once; false when the program could not be started (the program starter refuses a missing file).
// With no installation folder the program is looked for relative to the current folder.
bool ShowNoteBox(const ServerContext& context, std::string_view text, int icon);

// Starts the session note-box program of the installation with "/T:0 \"/M:<text>\" /I:<icon>" for
// the user at the console (StartForUser, default show state); false when the program is missing or
// could not be started.
bool ShowNoteBoxInSession(const ServerContext& context, std::string_view text, int icon);

// An error message: through the note-box program when `through_tool` (so a server without a desktop
// never hangs on a dialog), else as a message box of this process.
void ShowError(const ServerContext& context, std::string_view text, bool through_tool);

// Starts `program` with `arguments` trimmed of blanks and control characters at both ends, hidden
// when `show_state` is kShowHidden; does not wait. False, and nothing started, when the program
// file does not exist or the start fails.
bool ShellStart(const ServerContext& context, int show_state, const std::string& program, std::string_view arguments);

// Starts `program` in the session of the user at the console. Always false here: this platform has
// no token of a console user to start a program with, so nothing is started.
bool StartInConsoleSession(const ServerContext& context, const std::string& program, std::string_view arguments);

// Starts `program` so that it reaches the logged-on user: in the console user's session when there
// is one, else through ShellStart with `show_state`. False when the program is missing or could not
// be started.
bool StartForUser(const ServerContext& context, const std::string& program, std::string_view arguments, int show_state);

// The service manager's state of the service `name`, 0 when it cannot be asked; running is
// platform::kServiceRunning. Any thread.
uint32_t ServiceState(std::string_view name);
bool IsServiceRunning(std::string_view name);
// Whether the network message service runs; network messages are sent only when it does.
bool IsMessengerRunning();

// Registers the process as a service process (old systems only); false when the system cannot.
bool SetServiceProcess(bool register_process);

// The address a network message goes to: "*" (everybody in this computer's workgroup or domain)
// becomes `workgroup` followed by "*"; any other recipient stays as it is. Empty when the recipient
// is "*" and the workgroup is not known. Pure.
std::string NetSendRecipient(std::string_view recipient, std::string_view workgroup);

// Sends `text` from this computer to `recipient` ("*" for the whole workgroup) as a network
// message. Nothing is reported; nothing is sent when the service is missing or the recipient cannot
// be resolved.
void NetSend(std::string_view recipient, std::string_view sender, std::string_view text);

}  // namespace keep::server
