// Commands to the remote agents on the other computers a UPS feeds: shut down, show a message, or
// run one of the agent's three configured commands. Each command is one short TCP exchange (the
// agent greets, the server sends one scrambled frame) run on a thread of its own, so the main loop
// never waits on another computer; its outcome becomes one "RS - " log line written on the loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/records/setup_data.h"

namespace keep::server {

struct ServerContext;

// Command kinds.
inline constexpr uint8_t kRemoteShutdown = 0;
inline constexpr uint8_t kRemoteMessage = 1;
inline constexpr uint8_t kRemoteShell1 = 2;  // 3 and 4: the second and third commands

// The connection time-out of one command: RsTimeoutConnection in milliseconds, 5 s when it is not
// positive, at most an hour.
int64_t RemoteTimeoutMs(const TSetupData& setup);

// The plain command frame: "3", the kind and, when not empty, the text (not escaped).
std::string RemoteCommandFrame(uint8_t kind, const std::string& text);
// True when the scrambled `line` (its line end already removed or not) is the agent's greeting
// <|ok|> exactly.
bool CheckAgentGreeting(const std::string& line);

class RemoteCommands {
 public:
  // `context` (its loop, settings and install folder) must outlive this object.
  explicit RemoteCommands(ServerContext& context);
  // Waits for the commands under way; each is bounded by the connection time-out.
  ~RemoteCommands();
  RemoteCommands(const RemoteCommands&) = delete;
  RemoteCommands& operator=(const RemoteCommands&) = delete;

  // Main loop. Starts one command to host:port; never blocks. A port that is not a whole number
  // 1-65535, or a missing host, is not tried: one "RS - " line says why.
  void Send(const std::string& host, const std::string& port, const std::string& text, uint8_t kind);
  // Main loop. Runs `then` on the loop once every command started before this call has finished and
  // been logged (at once when none is under way), or after `limit_ms` of the loop's clock, whichever
  // comes first. Commands started later are not waited for. So a local shutdown goes out after the
  // commands that tell the other computers, but never waits on a silent one past the moment the UPS
  // cuts the power.
  void AfterCommandsUnderWay(std::function<void()> then, int64_t limit_ms);
  // Main loop. Commands started and not yet logged.
  size_t InFlight() const;

 private:
  struct State;
  ServerContext& context_;
  std::shared_ptr<State> state_;
};

// Why a command to host:port cannot be sent (the text of its "RS - " log line): no host, or a port
// that is not a whole number 1-65535. Nothing when it can.
std::optional<std::string> RemoteTargetProblem(const TSetupData& setup, const std::string& host,
                                               const std::string& port);

// The environment's remote-command sender when it has one; else context.Remote->Send(...) when the
// context has remote commands; nothing otherwise.
void SendRemoteCommand(ServerContext& context, const std::string& host, const std::string& port,
                       const std::string& text, uint8_t kind);

}  // namespace keep::server
