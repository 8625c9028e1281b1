#include "server/core/server_process.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/hive_registry.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/service_host.h"
#include "platform/signals.h"
#include "platform/system_log.h"
#include "server/core/command_switches.h"
#include "server/core/configuration_check.h"
#include "server/core/fire_drill.h"
#include "server/core/server_lifecycle.h"
#include "server/services/host_integration.h"
#include "server/services/language.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

// The stop question is asked on a thread of its own so the loop keeps serving while a person
// thinks; the answer comes back as a task. The loop pointer is cleared before the loop goes away,
// after which a late answer is dropped.
struct QuestionMailbox {
  std::mutex mutex;
  platform::EventLoop* loop = nullptr;
  bool asking = false;
};

void StopServer(ServerContext& context) {
  BeginStop(context, [&context] {
    StopSequence(context);
    context.env.loop.Stop();
  });
}

void AskToStop(ServerContext& context, const std::shared_ptr<platform::Dialogs>& dialogs,
               const std::shared_ptr<QuestionMailbox>& mailbox) {
  {
    std::lock_guard<std::mutex> lock(mailbox->mutex);
    if (mailbox->asking) return;
    mailbox->asking = true;
  }
  const std::string question = LanguageText(context.Setup, "KEEPD", "StopServerQuest");
  std::thread([dialogs, mailbox, question, &context] {
    const bool yes = dialogs->AskYesNo(kMessageCaption, question);
    std::lock_guard<std::mutex> lock(mailbox->mutex);
    mailbox->asking = false;
    if (yes && mailbox->loop != nullptr) mailbox->loop->Post([&context] { StopServer(context); });
  }).detach();
}

// The server from its configuration check to its stop; `host` is the service manager's view of it.
int RunServer(const ServerOptions& options, platform::ServiceHost& host) {
  // Read once, so the hive checked, the hive used and the lock's folder cannot differ.
  const std::string hive_path = platform::HivePathFromEnvironment();
  std::unique_ptr<platform::Registry> registry = platform::OpenHiveFile(hive_path);
  if (const std::string problem = ConfigurationProblem(hive_path, *registry); !problem.empty()) {
    std::cerr << problem;
    return kExitFailed;
  }
  // A rehearsal takes no lock and opens nothing: it may run beside the real server.
  if (options.Drill) return RunFireDrill(*registry, platform::WallClock::CreateReal()->Now(), std::cout, std::cerr);

  std::shared_ptr<platform::Dialogs> dialogs = platform::Dialogs::CreateSystem();
  std::unique_ptr<platform::InstanceLock> instance;
  std::string lock_error;
  const auto lock_result =
      platform::InstanceLock::Acquire(platform::HiveFolderOf(hive_path), kInstanceLockName, &instance, &lock_error);
  if (lock_result == platform::InstanceLock::Result::kAlreadyHeld) {
    dialogs->ShowMessageBox(kMessageCaption, kAlreadyRunningText, platform::kMbIconError + platform::kMbTaskModal);
    return kExitFailed;
  }
  if (lock_result != platform::InstanceLock::Result::kAcquired) {
    std::cerr << "keepd: cannot take the single-instance lock: " << lock_error << '\n';
    return kExitFailed;
  }

  std::unique_ptr<platform::MonotonicClock> monotonic = platform::MonotonicClock::CreateReal();
  std::unique_ptr<platform::WallClock> wall = platform::WallClock::CreateReal();
  platform::EventLoop loop(*monotonic);

  ServerEnvironment environment{loop,
                                *monotonic,
                                *wall,
                                *registry,
                                *dialogs,
                                &platform::StartProgram,
                                [](std::string_view text) { std::cerr << text << std::endl; },
                                [](const std::string& source) { return platform::SystemLog::Create(source); },
                                &platform::CreateSystemHidController};
  ServerContext context(environment, options);

  auto mailbox = std::make_shared<QuestionMailbox>();
  mailbox->loop = &loop;
  // Installed before any other thread starts, so the signals reach only the watcher.
  std::unique_ptr<platform::StopSignals> signals = platform::StopSignals::Install(
      loop, [&context] { StopServer(context); },
      [&context, dialogs, mailbox] {
        if (!context.ServiceMode && platform::StopSignals::InteractiveTerminal()) {
          AskToStop(context, dialogs, mailbox);
        } else {
          StopServer(context);
        }
      });

  // A stop from the service manager takes the road of SIGTERM.
  host.SetStopHandler([&loop, &context] { loop.Post([&context] { StopServer(context); }); });
  int status = kExitFailed;
  if (StartSequence(context)) {
    host.ReportRunning();
    loop.Run();
    status = 0;
  }
  host.SetStopHandler(nullptr);
  StopSequence(context);
  {
    std::lock_guard<std::mutex> lock(mailbox->mutex);
    mailbox->loop = nullptr;
  }
  return status;
}

}  // namespace

int RunServerProcess(const std::vector<std::string>& parameters) {
  const CommandLine command = ParseCommandLine(parameters);
  if (command.action == CommandLine::Action::kShowUsage) {
    std::cout << UsageText();
    return 0;
  }
  for (const std::string& ignored : command.ignored) {
    std::cerr << "keepd: ignoring unknown switch \"" << ignored << "\" (keepd --help lists the switches)\n";
  }
  const ServerOptions& options = command.options;
  const auto body = [&options](platform::ServiceHost& host) { return RunServer(options, host); };
  if (options.ServiceMode) return platform::RunServiceHost(kServiceName, body);
  platform::ForegroundServiceHost foreground;
  return body(foreground);
}

}  // namespace keep::server
