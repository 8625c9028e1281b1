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
#include "server/services/event_time_stamp.h"
#include "server/services/language.h"
#include "server/services/recording.h"

namespace keep::server {
namespace {

// Events whose log lines name the scheduler when it caused them: the shutdown and its warning.
constexpr uint8_t kEventShutdown = 10;
constexpr uint8_t kEventShutdownWarning = 11;

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

  ServerContext& context;
  const uint8_t event;
  const TStringList& arguments;
  // The action entry split at ",": the action's name, then its arguments.
  TStringList fields;
  bool& pending;

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

// One function per action name. Names compare exactly; an entry naming none of these is skipped,
// so lists written for a richer configuration still run the actions this server knows.
constexpr std::array<std::pair<std::string_view, Action>, 1> kActions{{
    {"$LOG", &LogAction},
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
    if (const Action action = FindAction(call.fields.front())) action(call);
  }
  return pending;
}

}  // namespace keep::server
