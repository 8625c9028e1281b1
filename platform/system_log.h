// The operating system's log of services (syslog on POSIX, the application event log on Windows).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace keep::platform {

class SystemLog {
 public:
  enum class Severity { kInformation, kWarning, kError };

  virtual ~SystemLog() = default;
  // Any thread. Never fails visibly.
  virtual void Write(Severity severity, std::string_view text) = 0;

  // A log writing under the source name `ident` (facility daemon on POSIX). The system's log
  // connection is one per process: keep one such object at a time (a second one takes over the
  // name, and destroying either closes the connection; later writes still arrive, under the
  // program's name).
  static std::unique_ptr<SystemLog> Create(const std::string& ident);
};

}  // namespace keep::platform
