// A server environment for rehearsing a power failure on the real settings without acting: the
// settings store is read but never written, the clocks move only when the rehearsal moves them, and
// every program start, log line, command to another computer and system log entry is recorded as
// an act instead of done. Main loop only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/registry.h"
#include "platform/system_log.h"
#include "server/services/server_environment.h"

namespace keep::server {

// One thing the server would have done.
struct DrillAct {
  enum class Kind {
    kProgram,        // program + arguments started (wait: whether the server waits for its end)
    kLogLine,        // text written to the log file
    kRemoteCommand,  // command `remote_kind` to host:port, with text (a message) or none
    kSystemLog,      // entry of `severity` in the system's log of services
    kUpsRequest,     // request to the UPS: code and fields
  };
  Kind kind = Kind::kProgram;
  std::string program;
  std::string text;  // arguments, log text, message or entry text
  bool wait = false;
  std::string host;
  std::string port;
  uint8_t remote_kind = 0;
  platform::SystemLog::Severity severity = platform::SystemLog::Severity::kInformation;
  int code = 0;
  std::vector<std::string> fields;
};

// The real store for reading; writes are accepted and dropped, so nothing the server keeps (the
// battery charge, an event source's key) reaches the hive.
class DiscardingRegistry final : public platform::Registry {
 public:
  explicit DiscardingRegistry(const platform::Registry& real) : real_(real) {}
  bool KeyExists(std::string_view key) const override { return real_.KeyExists(key); }
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const override {
    return real_.ReadString(key, name);
  }
  std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const override {
    return real_.ReadDword(key, name);
  }
  bool WriteString(std::string_view, std::string_view, std::string_view) override { return true; }
  bool WriteDword(std::string_view, std::string_view, uint32_t) override { return true; }
  bool CreateKey(std::string_view) override { return true; }

 private:
  const platform::Registry& real_;
};

class DrillEnvironment {
 public:
  // `real` is read for the settings and must outlive this object. The clocks start at `start`.
  DrillEnvironment(const platform::Registry& real, DateTime start);
  DrillEnvironment(const DrillEnvironment&) = delete;
  DrillEnvironment& operator=(const DrillEnvironment&) = delete;

  // Refers to this object: it must outlive every context built on it.
  const ServerEnvironment& Environment() const { return environment_; }
  platform::ManualClock& Clock() { return clock_; }

  // Appends an act that the server records elsewhere (its request queue).
  void Record(DrillAct act) { acts_.push_back(std::move(act)); }
  // The acts recorded since the last call, in order.
  std::vector<DrillAct> TakeActs();

 private:
  class QuietDialogs final : public platform::Dialogs {
   public:
    int ShowMessageBox(std::string_view, std::string_view, int) override { return platform::kIdOk; }
    bool AskYesNo(std::string_view, std::string_view) override { return false; }
  };

  platform::ManualClock clock_;
  platform::EventLoop loop_;
  DiscardingRegistry registry_;
  QuietDialogs dialogs_;
  std::vector<DrillAct> acts_;
  ServerEnvironment environment_;
};

}  // namespace keep::server
