// The system log as the application event log, under the source name given (the logic registers the
// source's key itself).
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/system_log.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// ReportEvent refuses an insertion string longer than this (in characters).
constexpr size_t kMaxEventChars = 31839;

WORD EventType(SystemLog::Severity severity) {
  switch (severity) {
    case SystemLog::Severity::kWarning:
      return EVENTLOG_WARNING_TYPE;
    case SystemLog::Severity::kError:
      return EVENTLOG_ERROR_TYPE;
    case SystemLog::Severity::kInformation:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

class EventLog final : public SystemLog {
 public:
  explicit EventLog(const std::string& ident)
      : source_(::RegisterEventSourceW(nullptr, WideFromUtf8(ident.empty() ? std::string("keep") : ident).c_str())) {}
  ~EventLog() override {
    if (source_ != nullptr) ::DeregisterEventSource(source_);
  }
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  void Write(Severity severity, std::string_view text) override {
    if (source_ == nullptr) return;
    // The text is an insertion string, never a format; a NUL would end it early, so it is cut there.
    std::wstring wide = WideFromUtf8(text.substr(0, text.find('\0')));
    if (wide.size() > kMaxEventChars) wide.resize(kMaxEventChars);
    const wchar_t* strings[1] = {wide.c_str()};
    ::ReportEventW(source_, EventType(severity), 0, 0, nullptr, 1, 0, strings, nullptr);
  }

 private:
  const HANDLE source_;
};

}  // namespace

std::unique_ptr<SystemLog> SystemLog::Create(const std::string& ident) { return std::make_unique<EventLog>(ident); }

}  // namespace keep::platform
