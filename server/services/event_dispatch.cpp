#include "server/services/event_dispatch.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/fill_params.h"
#include "common/text_lists.h"
#include "platform/platform_info.h"
#include "server/records/server_data.h"
#include "server/services/event_log.h"
#include "server/services/event_time_stamp.h"
#include "server/services/host_integration.h"
#include "server/services/language.h"
#include "server/services/local_shutdown.h"
#include "server/services/mail_arguments.h"
#include "server/services/main_cycle.h"
#include "server/services/message_macros.h"
#include "server/services/recording.h"
#include "server/services/remote_command.h"

namespace keep::server {
namespace {

// Events whose log lines name the scheduler when it caused them: the shutdown and its warning.
constexpr uint8_t kEventShutdown = 10;
constexpr uint8_t kEventShutdownWarning = 11;

constexpr char kMailSubject[] = "Voltrena";
// Between the time stamp and the text of a message that carries one.
constexpr char kStampSeparator[] = "\r\n\r\n";

// Message box icons of the pop-ups.
constexpr int kIconNone = 0;
constexpr int kIconWarning = 48;
constexpr int kIconInformation = 64;
constexpr uint8_t kLastEvent = 21;
// Events that ask somebody to act (failures, warnings, countdowns) get the warning icon; the others,
// ends of trouble and plain news, the information icon.
constexpr std::array<bool, kLastEvent + 1> kWarningEvents{false, false, false, true,  true, false, true, false,
                                                          true,  true,  false, false, true, false, true, false,
                                                          true,  false, true,  false, true, false};

int EventIcon(uint8_t event) {
  if (event > kLastEvent) return kIconNone;
  return kWarningEvents[event] ? kIconWarning : kIconInformation;
}

// What one action of an event sees. The time stamp is taken on first use and then shared, so every
// action of one event carries the same time and events whose actions need none never read the clock.
class EventCall {
 public:
  EventCall(ServerContext& context, uint8_t event, const TStringList& arguments, bool& pending)
      : context(context), event(event), arguments(arguments), pending(pending) {}

  const std::string& TimeStamp() {
    if (!stamp_) stamp_ = EventTimeStamp(context.Format, context.env.wall.Now());
    return *stamp_;
  }

  // Action field `index` (1: the first argument); empty when the entry has fewer fields.
  const std::string& Field(size_t index) const {
    static const std::string kNone;
    return index < fields.size() ? fields[index] : kNone;
  }

  // The event's message with its macros expanded now (the minutes left are those of this moment)
  // and the event's arguments filled in.
  std::string Message() const {
    ServerContext& server = context;
    const MessageMacros macros = BasicMessageMacros(
        server.Setup, [] { return platform::ComputerName(); }, [&server] { return server.Ups.Info.ModelName; },
        [&server] { return MinutesText(ShutdownSecondsLeft(server)); });
    return FillParams(MessageText(server.Setup, macros, event), arguments);
  }

  ServerContext& context;
  const uint8_t event;
  const TStringList& arguments;
  // The action entry split at ",": the action's name, then its arguments.
  TStringList fields;
  bool& pending;
  bool shutdown_done = false;

 private:
  std::optional<std::string> stamp_;
};

using Action = void (*)(EventCall& call);

void LogAction(EventCall& call) {
  const TServerData& server = call.context.Server;
  std::string text;
  if ((call.event == kEventShutdown || call.event == kEventShutdownWarning) &&
      (server.ScheduledShutdownDue || server.ShutdownWarningDue)) {
    text = call.context.SchedulerPrefix;
  }
  text += LogText(call.context.Setup, call.event);
  WriteLogLine(call.context, FillParams(text, call.arguments));
}

void PopupAction(EventCall& call) {
  ServerContext& context = call.context;
  std::string text = call.Message();
  // Newer systems stamp their notifications themselves.
  if (!context.IsVistaOrLater) text = call.TimeStamp() + kStampSeparator + text;
  if (context.Server.Info.LaunchedBy == LaunchedByServiceHost() && IsMessengerRunning()) {
    // A service has no desktop of its own to show the box on.
    NetSend(call.Field(1), platform::ComputerName(), text);
  } else if (context.IsVistaOrLater) {
    ShowNoteBoxInSession(context, text, EventIcon(call.event));
  } else {
    ShowNoteBox(context, text, EventIcon(call.event));
  }
}

template <uint8_t kKind>
void RemoteAction(EventCall& call) {
  // Missing host or port go on as empty texts: the sender turns them into its own log line.
  SendRemoteCommand(call.context, call.Field(1), call.Field(2), "", kKind);
}

void RemoteMessageAction(EventCall& call) {
  // The remote computer shows the text later and elsewhere, so it always says when it happened.
  const std::string text = call.TimeStamp() + kStampSeparator + call.Message();
  SendRemoteCommand(call.context, call.Field(1), call.Field(2), text, kRemoteMessage);
}

void LocalShellAction(EventCall& call) {
  if (call.Field(1).empty()) return;
  RunProgram(call.context, false, call.Field(1), "");
}

void EmailAction(EventCall& call) {
  ServerContext& context = call.context;
  if (call.Field(1).empty()) return;
  // The arguments go into the message only: filling the whole command line would also take a "$"
  // or "^" out of the server name, login or password.
  const std::string line =
      BuildMailArguments(context.Setup.EmailSetup, call.Field(1), kMailSubject, call.TimeStamp(), call.Message());
  RunProgram(context, false, context.Setup.InstallPath + MailOutProgram(), line);
}

void SystemLogAction(EventCall& call) {
  ServerContext& context = call.context;
  if (!context.EventLog || !context.Server.Info.EventLogReady) return;
  const std::string& severity = call.Field(1);
  if (severity != "0" && severity != "1" && severity != "2") return;
  const std::string text = FillParams(LogText(context.Setup, call.event), call.arguments);
  if (severity == "0") {
    context.EventLog->LogInformation(call.event, text);
  } else if (severity == "1") {
    context.EventLog->LogWarning(call.event, text);
  } else {
    context.EventLog->LogError(call.event, text);
  }
}

void ShutdownAction(EventCall& call) {
  ServerContext& context = call.context;
  if (!context.Setup.ServerSetup.SrvDownEnabled) return;
  if (call.event != kEventShutdown) {
    // The evaluation raises the shutdown event next; its own action shuts down.
    call.pending = true;
    return;
  }
  // A list that names the action twice still shuts down once.
  if (call.shutdown_done) return;
  call.shutdown_done = true;
  context.Server.ShutdownActive = true;
  ShutdownLocal(context, context.Server.ScheduledShutdownDue);
}

// One function per action name. Names compare exactly; an entry naming none of these is skipped,
// so lists written for a richer configuration still run the actions this server knows.
constexpr std::array<std::pair<std::string_view, Action>, 11> kActions{{
    {"$POPUP", &PopupAction},
    {"$LOG", &LogAction},
    {"$R_SHUT", &RemoteAction<kRemoteShutdown>},
    {"$R_MSG", &RemoteMessageAction},
    {"$R_SHELL_1", &RemoteAction<kRemoteShell1>},
    {"$R_SHELL_2", &RemoteAction<kRemoteShell1 + 1>},
    {"$R_SHELL_3", &RemoteAction<kRemoteShell1 + 2>},
    {"$L_SHELL", &LocalShellAction},
    {"$EMAIL", &EmailAction},
    {"$MSLOG", &SystemLogAction},
    {"$SHUTDOWN", &ShutdownAction},
}};

Action FindAction(std::string_view name) {
  for (const auto& [action_name, action] : kActions) {
    if (action_name == name) return action;
  }
  return nullptr;
}

// Entry 0 of a list as an event number; -1 when it is not a whole number, so it matches no event.
int64_t ListEventNumber(const TStringList& list) {
  if (list.empty()) return -1;
  const std::string& text = list.front();
  int64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, number);
  if (error != std::errc() || rest != end || text.empty()) return -1;
  return number;
}

}  // namespace

bool RaiseEvent(ServerContext& context, uint8_t event, const TStringList& arguments, bool pending) {
  return RaiseEvent(context, event, arguments, pending, ActionWatcher{});
}

bool RaiseEvent(ServerContext& context, uint8_t event, const TStringList& arguments, bool pending,
                const ActionWatcher& watcher) {
  const std::vector<TStringList>& lists = context.Setup.UpsSetup.Events;
  const TStringList* actions = nullptr;
  for (const TStringList& list : lists) {
    if (ListEventNumber(list) == event) {
      actions = &list;
      break;
    }
  }
  if (actions == nullptr) return pending;

  EventCall call(context, event, arguments, pending);
  for (size_t i = 1; i < actions->size(); ++i) {
    SplitText(',', (*actions)[i], call.fields, true);
    if (call.fields.empty()) continue;
    if (watcher.before) watcher.before(call.fields);
    if (const Action action = FindAction(call.fields.front())) action(call);
    if (watcher.after) watcher.after(call.fields, pending);
  }
  return pending;
}

}  // namespace keep::server
