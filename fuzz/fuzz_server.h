// A server context on inert platform services for the fuzz targets: a manual clock, a hive file
// that does not exist, no dialogs and no programs started.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/hive_registry.h"
#include "server/services/server_context.h"

namespace keep::fuzz {

class NoDialogs final : public platform::Dialogs {
 public:
  int ShowMessageBox(std::string_view, std::string_view, int) override { return platform::kIdOk; }
  bool AskYesNo(std::string_view, std::string_view) override { return false; }
};

struct FuzzServer {
  platform::ManualClock clock;
  platform::EventLoop loop{clock};
  std::unique_ptr<platform::Registry> registry = platform::OpenHiveFile("/nonexistent/keep-fuzz.reg");
  NoDialogs dialogs;
  server::ServerEnvironment environment{
      loop,
      clock,
      clock,
      *registry,
      dialogs,
      [](const std::string&, std::string_view, const platform::StartOptions&) { return false; },
      [](std::string_view) {},
      nullptr,
      nullptr};
  server::ServerContext context{environment, server::ServerOptions{}};
};

}  // namespace keep::fuzz
