// notebox.exe, also installed as VNoteBox.exe: the note the server shows for its "$POPUP" action and
// for errors at start-up. Writes "/M:<text>" to the application event log (source "notebox", the
// severity from the icon "/I:<n>": 16 error, 48 warning, else information), then shows it in a
// message box with that icon. Other words ("/T:0") are ignored. The server does not wait for it: it
// ends when the box is closed, or at once where no box can be shown. Ends with 0; whether anyone saw
// the note is not the server's concern.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/process.h"
#include "platform/system_log.h"

namespace {

using keep::platform::SystemLog;

constexpr int kIconError = 16;
constexpr int kIconWarning = 48;
constexpr int kIconInformation = 64;

struct Note {
  std::string text;
  int icon = kIconInformation;
};

// "/M:" and "/I:" in either case; a later word wins, as in the Linux script.
Note ReadWords(const std::vector<std::string>& words) {
  Note note;
  for (const std::string& word : words) {
    if (word.size() < 3 || word[0] != '/' || word[2] != ':') continue;
    const char key = static_cast<char>(word[1] | 0x20);
    const std::string_view value = std::string_view(word).substr(3);
    if (key == 'm') note.text = value;
    if (key == 'i') {
      // Only the three icons the server uses; anything else is a plain note.
      note.icon = value == "16" ? kIconError : value == "48" ? kIconWarning : kIconInformation;
    }
  }
  return note;
}

// The server breaks lines with a lone CR; boxes and the event log want CR LF.
std::string WindowsLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    lines += text[i];
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) lines += '\n';
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  const Note note = ReadWords(keep::platform::ProgramArguments(argc, argv));
  const std::string text = WindowsLines(note.text);
  {
    const auto log = SystemLog::Create("notebox");
    const SystemLog::Severity severity = note.icon == kIconError     ? SystemLog::Severity::kError
                                         : note.icon == kIconWarning ? SystemLog::Severity::kWarning
                                                                     : SystemLog::Severity::kInformation;
    log->Write(severity, "Voltrena: " + text);
  }
  keep::platform::Dialogs::CreateSystem()->ShowMessageBox("Voltrena", text, note.icon);
  return 0;
}
