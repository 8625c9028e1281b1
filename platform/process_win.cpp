// Starting programs with CreateProcess. The argument text goes to the program as written: on Windows
// the program splits its own command line (by the rules SplitCommandLine copies), so nothing is
// re-quoted here. Batch files go to the command interpreter, which alone can run them.
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_names.h"
#include "platform/process.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// CreateProcess refuses longer command lines.
constexpr size_t kMaxCommandLine = 32767;

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool IsRegularFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring CommandInterpreter() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"ComSpec", buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return std::wstring(buffer, length);
  const UINT folder = ::GetSystemDirectoryW(buffer, MAX_PATH);
  if (folder > 0 && folder < MAX_PATH) return std::wstring(buffer, folder) + L"\\cmd.exe";
  return L"cmd.exe";
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) {
  const std::string line = Utf8FromWide(::GetCommandLineW());
  // The program's name ends at the next quote when it starts with one, else at the first blank;
  // backslashes in it are never escapes.
  size_t end = 0;
  if (!line.empty() && line[0] == '"') {
    end = line.find('"', 1);
    end = end == std::string::npos ? line.size() : end + 1;
  } else {
    end = line.find_first_of(" \t");
    if (end == std::string::npos) end = line.size();
  }
  return SplitCommandLine(std::string_view(line).substr(end));
}

bool StartProgram(const std::string& program, std::string_view arguments, const StartOptions& options) {
  // A quote in the path could not be written inside the quotes that keep its blanks together.
  if (program.empty() || HasNul(program) || HasNul(arguments) || program.find('"') != std::string::npos) {
    return false;
  }
  const std::wstring path = WideFromUtf8(program);
  if (!IsRegularFile(path)) return false;

  std::wstring application = path;
  std::wstring command_line = L"\"" + path + L"\"";
  if (!arguments.empty()) command_line += L" " + WideFromUtf8(arguments);
  if (IsBatchFile(program)) {
    application = CommandInterpreter();
    // /s with outer quotes: cmd strips exactly those and keeps the rest, quotes included, as typed.
    command_line = L"\"" + application + L"\" /d /s /c \"" + command_line + L"\"";
  }
  if (command_line.size() >= kMaxCommandLine) return false;
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (options.hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  // A group of its own, so a Ctrl+C at the server's console does not also stop the program.
  DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
  if (options.hidden) flags |= CREATE_NO_WINDOW;
  PROCESS_INFORMATION started{};
  // No handle is inherited: the server's sockets and its instance mutex stay its own.
  if (!::CreateProcessW(application.c_str(), writable.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  if (options.wait) ::WaitForSingleObject(started.hProcess, INFINITE);
  // Unlike a POSIX child, a Windows process leaves nothing behind once its last handle is closed.
  ::CloseHandle(started.hProcess);
  return true;
}

// cmd.exe runs ".bat" files; anything else it would hand to the file's associated program.
std::string_view ScriptExtension() { return ".bat"; }

namespace {

// The system's own folder separator, which is what its programs show and compare.
std::string WindowsPath(std::string_view base) {
  std::string name(base);
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

}  // namespace

// Programs carry their extension on Windows.
std::string ProgramName(std::string_view base) { return WindowsPath(base) + ".exe"; }

std::string ScriptName(std::string_view base) { return WindowsPath(base) + std::string(ScriptExtension()); }

}  // namespace keep::platform
