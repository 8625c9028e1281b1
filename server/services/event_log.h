// The event log writer: the server's events also go to the system's log of services, under the
// source name "Powerkeep", registered once in the hive the way the system expects. Main loop only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/system_log.h"

namespace keep::server {

inline constexpr int kEventLogIdCount = 101;
inline constexpr uint32_t kEventLogFirstId = 131172;
inline constexpr char kEventLogSourcesKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// The source name until another is set.
inline constexpr char kEventLogDefaultAppName[] = "keepd";
// The source name the server registers.
inline constexpr char kEventLogSourceName[] = "Powerkeep";
// The types of entry the source declares: error (1), warning (2) and information (4).
inline constexpr uint32_t kEventLogTypesSupported = 7;
inline constexpr char kUnableToRegisterApplication[] = "Unable to register application.";
inline constexpr char kUnableToRegisterEventSource[] = "Unable to register event source.";

class TNTEventLog {
 public:
  // `registry` must outlive the writer. `open_log` creates the system log for a source name (tests
  // pass a recording one) and may return null when the system refuses; nothing is written before
  // Register succeeds.
  TNTEventLog(platform::Registry& registry,
              std::function<std::unique_ptr<platform::SystemLog>(const std::string&)> open_log);

  // The source name; empty restores the default. Takes effect at the next Register.
  void SetAppName(const std::string& name);
  const std::string& AppName() const { return app_name_; }

  // Makes sure the source's hive key exists (an existing key is left as it is), then opens the
  // system log. False with "Unable to register application." or "Unable to register event source."
  // in `error` (when not null); the writer is then unregistered.
  bool Register(const std::string& executable_path, std::string* error);
  bool Registered() const { return registered_; }

  // The message id of an event number: 131172 + index inside the table, 0 outside it.
  uint32_t MessageId(int index) const;

  // One entry when registered and `index` (the event number) is inside the id table; otherwise
  // nothing. Never fails visibly.
  void LogInformation(int index, const std::string& text);
  void LogWarning(int index, const std::string& text);
  void LogError(int index, const std::string& text);

 private:
  void Write(platform::SystemLog::Severity severity, int index, const std::string& text);

  platform::Registry& registry_;
  std::function<std::unique_ptr<platform::SystemLog>(const std::string&)> open_log_;
  std::string app_name_;
  bool registered_ = false;
  std::array<uint32_t, kEventLogIdCount> ids_{};
  std::unique_ptr<platform::SystemLog> log_;
};

}  // namespace keep::server
