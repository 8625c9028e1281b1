// The system log through syslog(3), facility daemon.
#include <syslog.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/system_log.h"

namespace keep::platform {

namespace {

int Priority(SystemLog::Severity severity) {
  switch (severity) {
    case SystemLog::Severity::kWarning:
      return LOG_WARNING;
    case SystemLog::Severity::kError:
      return LOG_ERR;
    case SystemLog::Severity::kInformation:
      break;
  }
  return LOG_INFO;
}

class Syslog final : public SystemLog {
 public:
  // openlog keeps the pointer, not the text: ident_ must live as long as the log is open.
  explicit Syslog(const std::string& ident) : ident_(ident) { ::openlog(ident_.c_str(), LOG_PID, LOG_DAEMON); }
  ~Syslog() override { ::closelog(); }
  Syslog(const Syslog&) = delete;
  Syslog& operator=(const Syslog&) = delete;

  void Write(Severity severity, std::string_view text) override {
    // The text is data, never a format: a '%' in a message must not read the stack.
    const int length = text.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
    ::syslog(LOG_DAEMON | Priority(severity), "%.*s", length, text.data());
  }

 private:
  const std::string ident_;
};

}  // namespace

std::unique_ptr<SystemLog> SystemLog::Create(const std::string& ident) { return std::make_unique<Syslog>(ident); }

}  // namespace keep::platform
