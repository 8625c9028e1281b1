#include "server/services/remote_command.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/fill_params.h"
#include "common/frames.h"
#include "common/scrambling.h"
#include "common/text_lists.h"
#include "platform/system_error.h"
#include "platform/tcp_client.h"
#include "server/services/agent_exchange.h"
#include "server/services/language.h"
#include "server/services/recording.h"
#include "server/services/server_context.h"

namespace keep::server {
namespace {

constexpr char kLogPrefix[] = "RS - ";
constexpr char kCommandCode[] = "3";
// A connection time-out that is not positive would mean waiting without limit; the default is
// taken instead. The upper bound keeps the milliseconds within an int.
constexpr int32_t kDefaultTimeoutSeconds = 5;
constexpr int32_t kMaxTimeoutSeconds = 3600;

int TimeoutMs(const TSetupData& setup) { return static_cast<int>(RemoteTimeoutMs(setup)); }

// The port text as a number 1-65535 (blanks around it allowed), or nothing.
std::optional<uint16_t> ParsePort(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::string ErrorCodeText(int code) {
  return platform::SystemErrorText(code) + " (error code: " + std::to_string(code) + ")";
}

std::string RsText(const TSetupData& setup, std::string_view key, std::string_view argument) {
  return FillParam(LanguageText(setup, "LOGS", key), argument);
}

// Texts for a remote action that names no host or no valid port. Language files written before these
// keys existed lack them, so the English text stands in for a missing one.
constexpr char kNoHostKey[] = "RsNoHost";
constexpr char kNoHostText[] = "Command not sent: no remote host given";
constexpr char kBadPortKey[] = "RsBadPort";
constexpr char kBadPortText[] = "Command not sent to $: port \"$\" is not a number from 1 to 65535";

std::string TextOrDefault(const TSetupData& setup, std::string_view key, std::string_view fallback,
                          const TStringList& arguments) {
  return FillParams(LanguageTextOr(setup, "LOGS", key, fallback), arguments);
}

// The log text of a finished exchange.
std::string OutcomeText(const TSetupData& setup, const AgentExchangeOutcome& outcome, const std::string& host,
                        const std::string& port) {
  switch (outcome.error) {
    case 0:
      return outcome.sent ? RsText(setup, "RsCommandOk", host) : RsText(setup, "RsCommandKo", "");
    case platform::kSocketErrorNotSupported:
      return RsText(setup, "RsTcpIpNotInstalled", "");
    case platform::kSocketErrorAddressInUse:
      return RsText(setup, "RsTcpIpPortUsed", port);
    case platform::kSocketErrorNotConnected:
      return RsText(setup, "RsHostNotFound", host);
    default:
      return ErrorCodeText(outcome.error);
  }
}

struct Finished {
  uint64_t id = 0;
  AgentExchangeOutcome outcome;
  std::string host;
  std::string port;
};

}  // namespace

int64_t RemoteTimeoutMs(const TSetupData& setup) {
  int32_t seconds = setup.ServerSetup.RsTimeoutConnection;
  if (seconds <= 0) seconds = kDefaultTimeoutSeconds;
  return int64_t{std::min(seconds, kMaxTimeoutSeconds)} * 1000;
}

std::string RemoteCommandFrame(uint8_t kind, const std::string& text) {
  std::string body = std::string(kCommandCode) + "|" + std::to_string(kind);
  if (!text.empty()) body += "|" + text;
  return MakeFrame(body);
}

bool CheckAgentGreeting(const std::string& line) {
  std::string_view scrambled = line;
  while (!scrambled.empty() && (scrambled.back() == '\n' || scrambled.back() == '\r')) scrambled.remove_suffix(1);
  TStringList fields;
  SplitText('|', UnscrambleText(scrambled), fields, true);
  return fields.size() == 3 && fields[0] == "<" && fields[1] == "ok" && fields[2] == ">";
}

// Shared between the object, its exchange threads and the tasks they post, so that whichever ends
// last frees it. The exchange threads touch only the guarded part; the rest belongs to the loop.
struct RemoteCommands::State : ExchangeControl {
  State(platform::EventLoop& event_loop, const platform::MonotonicClock& monotonic, ServerContext& server)
      : loop(&event_loop), clock(&monotonic), context(&server) {}

  std::optional<int64_t> NowMs() override {
    const std::lock_guard lock(mutex);
    // The clock belongs to the server and may be gone once the owner has closed.
    if (closed) return std::nullopt;
    return clock->NowMs();
  }

  // Exchange thread: hands the outcome to the loop, unless the owner has closed (then the loop
  // itself may be gone). The destructor writes what is left.
  void Done(std::shared_ptr<State> self, Finished finished) {
    const std::lock_guard lock(mutex);
    --running;
    if (!closed) {
      done.push_back(std::move(finished));
      loop->Post([self] { self->Drain(); });
    }
    changed.notify_all();
  }

  // Loop thread: one log line per finished command, then the waiters that wait no more.
  void Drain() {
    if (context == nullptr) return;
    std::deque<Finished> ready;
    {
      const std::lock_guard lock(mutex);
      ready.swap(done);
    }
    for (const Finished& finished : ready) {
      under_way.erase(finished.id);
      if (finished.outcome.cancelled) continue;
      WriteLogLine(*context, kLogPrefix + OutcomeText(context->Setup, finished.outcome, finished.host, finished.port));
    }
    RunReadyWaiters();
  }

  // Loop thread. Ids are handed out in order, so a waiter is free once the oldest command still
  // under way is younger than the waiter.
  void RunReadyWaiters() {
    while (!waiters.empty() && context != nullptr) {
      const auto first = waiters.begin();
      if (!under_way.empty() && *under_way.begin() < first->second.before) return;
      RunWaiter(first->first);
    }
  }

  // Loop thread: takes the waiter out before running it, so it runs once whichever way it ends.
  void RunWaiter(uint64_t token) {
    const auto found = waiters.find(token);
    if (found == waiters.end()) return;
    Waiter waiter = std::move(found->second);
    waiters.erase(found);
    loop->CancelTimer(waiter.timer);
    if (waiter.then) waiter.then();
  }

  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by `mutex`.
  size_t running = 0;
  bool closed = false;
  std::deque<Finished> done;
  platform::EventLoop* loop;
  const platform::MonotonicClock* clock;

  // Loop thread only. `context` is null once the owner is gone.
  ServerContext* context;
  struct Waiter {
    uint64_t before = 0;  // waits for the commands with smaller ids
    platform::EventLoop::TimerId timer = 0;
    std::function<void()> then;
  };
  uint64_t next_id = 1;
  std::set<uint64_t> under_way;
  // By token, in the order they were made.
  std::map<uint64_t, Waiter> waiters;
  uint64_t next_token = 1;
};

RemoteCommands::RemoteCommands(ServerContext& context)
    : context_(context), state_(std::make_shared<State>(context.env.loop, context.env.monotonic, context)) {}

RemoteCommands::~RemoteCommands() {
  // Commands under way get their time to finish (an event raised by the stop sequence may have
  // started them), bounded by their own time-outs: connection, greeting and sending. A thread that
  // still hangs after that (in a name look-up, say) is cancelled and left to end by itself; it
  // touches nothing but the shared state. Real time here, as the threads' sockets wait in real time.
  const int timeout_ms = TimeoutMs(context_.Setup);
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_for(lock, std::chrono::milliseconds(3 * timeout_ms + 1000),
                           [this] { return state_->running == 0; });
  state_->closed = true;
  state_->changed.wait_for(lock, std::chrono::milliseconds(4 * kExchangeSliceMs),
                           [this] { return state_->running == 0; });
  lock.unlock();
  // What finished is still logged; the waiters are dropped with the server, unrun.
  for (const auto& [token, waiter] : state_->waiters) context_.env.loop.CancelTimer(waiter.timer);
  state_->waiters.clear();
  state_->Drain();
  state_->context = nullptr;
}

void RemoteCommands::Send(const std::string& host, const std::string& port, const std::string& text, uint8_t kind) {
  const std::string target(TrimBlanks(host));
  if (const std::optional<std::string> problem = RemoteTargetProblem(context_.Setup, host, port)) {
    WriteLogLine(context_, kLogPrefix + *problem);
    return;
  }
  const std::optional<uint16_t> port_number = ParsePort(port);
  const uint64_t id = state_->next_id++;
  state_->under_way.insert(id);
  {
    const std::lock_guard lock(state_->mutex);
    ++state_->running;
  }
  const std::string frame = RemoteCommandFrame(kind, text);
  const int timeout_ms = TimeoutMs(context_.Setup);
  try {
    std::thread([state = state_, id, target, port_text = std::string(TrimBlanks(port)), number = *port_number, frame,
                 timeout_ms] {
      AgentExchangeOutcome outcome = RunAgentExchange(target, number, frame, timeout_ms, *state);
      state->Done(state, Finished{id, outcome, target, port_text});
    }).detach();
  } catch (const std::system_error& error) {
    // No thread to spare: the command is lost, and the log says so like any other failure.
    {
      const std::lock_guard lock(state_->mutex);
      --state_->running;
    }
    state_->under_way.erase(id);
    WriteLogLine(context_, kLogPrefix + ErrorCodeText(error.code().value()));
    state_->RunReadyWaiters();
  }
}

void RemoteCommands::AfterCommandsUnderWay(std::function<void()> then, int64_t limit_ms) {
  State& state = *state_;
  const uint64_t token = state.next_token++;
  State::Waiter& waiter = state.waiters[token];
  waiter.before = state.next_id;
  waiter.then = std::move(then);
  // The timer cannot outlive the state: the destructor cancels it.
  waiter.timer =
      context_.env.loop.AddTimer(limit_ms, false, [state = state_.get(), token] { state->RunWaiter(token); });
  state.RunReadyWaiters();
}

size_t RemoteCommands::InFlight() const { return state_->under_way.size(); }

std::optional<std::string> RemoteTargetProblem(const TSetupData& setup, const std::string& host,
                                               const std::string& port) {
  const std::string target(TrimBlanks(host));
  if (target.empty()) return TextOrDefault(setup, kNoHostKey, kNoHostText, {});
  if (!ParsePort(port)) return TextOrDefault(setup, kBadPortKey, kBadPortText, {target, port});
  return std::nullopt;
}

void SendRemoteCommand(ServerContext& context, const std::string& host, const std::string& port,
                       const std::string& text, uint8_t kind) {
  if (context.env.send_remote_command) {
    context.env.send_remote_command(host, port, text, kind);
    return;
  }
  if (context.Remote) context.Remote->Send(host, port, text, kind);
}

}  // namespace keep::server
