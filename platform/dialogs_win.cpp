// Message boxes on the desktop. A program running as a service has no desktop of its own: its boxes
// go to the interactive user's (MB_SERVICE_NOTIFICATION); where nobody is logged on to answer, the
// answer is never Yes.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/dialogs.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// A process whose window station is not the interactive one ("WinSta0") runs as a service.
bool OnInteractiveDesktop() {
  HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr) return false;
  wchar_t name[64] = {};
  DWORD needed = 0;
  if (!::GetUserObjectInformationW(station, UOI_NAME, name, sizeof name - sizeof name[0], &needed)) return false;
  return std::wstring_view(name) == L"WinSta0";
}

// The text without NULs, which would end it early.
std::wstring Wide(std::string_view text) { return WideFromUtf8(text.substr(0, text.find('\0'))); }

// The text goes to standard error as well: where no box can be seen (no desktop, a service, a
// headless machine) a refused start must still say why. One write, so lines of threads do not
// interleave. Nothing when the process has no standard error.
void WriteToStandardError(std::string_view caption, std::string_view text) {
  std::string line(caption.substr(0, caption.find('\0')));
  line += ": ";
  line += text.substr(0, text.find('\0'));
  line += "\r\n";
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int Show(std::string_view caption, std::string_view text, UINT flags) {
  if (!OnInteractiveDesktop()) flags |= MB_SERVICE_NOTIFICATION;
  return ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), flags | MB_SETFOREGROUND);
}

class SystemDialogs final : public Dialogs {
 public:
  // The flag values are the system's own (see dialogs.h), so they pass through.
  int ShowMessageBox(std::string_view caption, std::string_view text, int flags) override {
    WriteToStandardError(caption, text);
    const int answer = Show(caption, text, static_cast<UINT>(flags));
    return answer == 0 ? kIdOk : answer;
  }

  bool AskYesNo(std::string_view caption, std::string_view text) override {
    return Show(caption, text, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES;
  }
};

}  // namespace

std::unique_ptr<Dialogs> Dialogs::CreateSystem() { return std::make_unique<SystemDialogs>(); }

}  // namespace keep::platform
