#include "server/services/command_step.h"

#include <optional>
#include <utility>

#include "server/records/command_codes.h"
#include "server/services/ups_identification.h"

namespace keep::server {

CommandStep::CommandStep(ServerContext& context, RequestQueue& queue, AnswerRouter router)
    : context_(context), queue_(queue), router_(std::move(router)), timer_(context.env.loop) {
  timer_.SetInterval(kCommandStepIntervalMs);
  timer_.SetOnTimer([this] { OnTick(); });
}

CommandStep::~CommandStep() {
  if (wake_ != 0) context_.env.loop.CancelTimer(wake_);
  queue_.SetOnAdded(nullptr);
  if (context_.Manager != nullptr) context_.Manager->SetOnActivity(nullptr);
}

void CommandStep::Hold(int64_t milliseconds) { held_until_ms_ = context_.env.monotonic.NowMs() + milliseconds; }

void CommandStep::Enable(bool enabled) {
  enabled_ = enabled;
  sleeping_ = false;
  if (wake_ != 0) context_.env.loop.CancelTimer(wake_);
  wake_ = 0;
  timer_.SetEnabled(enabled);
}

bool CommandStep::HasWork() const {
  const UpsManager* manager = context_.Manager.get();
  // Without a manager the step keeps ticking as it always did; it has nothing to hook a wake-up on.
  if (manager == nullptr) return true;
  return manager->Busy || manager->CommLost || !context_.Server.Info.CompletionDone || !queue_.Empty();
}

void CommandStep::OnTick() {
  // The next period starts after the step, so a slow step never makes ticks pile up.
  timer_.SetEnabled(false);
  Step();
  // Step() may have run the stop sequence's Enable(false).
  if (!enabled_) return;
  if (HasWork()) {
    timer_.SetEnabled(true);
    return;
  }
  sleeping_ = true;
  last_tick_ms_ = context_.env.monotonic.NowMs();
  queue_.SetOnAdded([this] { Wake(); });
  context_.Manager->SetOnActivity([this] { Wake(); });
}

void CommandStep::Wake() {
  if (!sleeping_) return;
  sleeping_ = false;
  const int64_t since = context_.env.monotonic.NowMs() - last_tick_ms_;
  const int64_t delay = (kCommandStepIntervalMs - since % kCommandStepIntervalMs) % kCommandStepIntervalMs;
  wake_ = context_.env.loop.AddTimer(delay, false, [this] {
    wake_ = 0;
    OnTick();
  });
}

void CommandStep::Step() {
  UpsManager* manager = context_.Manager.get();
  if (manager == nullptr || manager->Busy) return;
  if (manager->CommLost) {
    context_.Server.LinkFailed = true;
    if (evaluate_) evaluate_();
    IdentifyUps(context_);
    return;
  }
  TServerData& server = context_.Server;
  if (!server.Info.CompletionDone) CompleteRequest(context_, router_, evaluate_);
  // A completion put off to the next step still needs Command: executing the next request now
  // would overwrite it and lose that request's answer.
  const bool completion_pending = !server.Info.CompletionDone && !server.Command.Requester.empty();
  const bool held = context_.env.monotonic.NowMs() < held_until_ms_;
  if (!queue_.Empty() && !completion_pending && !held) ExecuteNextRequest();
}

void CommandStep::ExecuteNextRequest() {
  UpsManager* manager = context_.Manager.get();
  if (manager == nullptr) return;
  std::optional<QueuedRequest> next = queue_.TakeNext();
  if (!next) return;
  TTcpCmdInfo& command = context_.Server.Command;
  command.Requester = std::move(next->Requester);
  command.Code = static_cast<uint16_t>(next->Code);
  command.Params = std::move(next->Params);
  if (manager->SendCommand(command.Params)) {
    // A calibration start the UPS cannot carry out must not leave the test marked as running: that
    // state suppresses the mains-failure event and the shutdown countdown. The answer says so.
    if (command.Code == kCodeAutonomyTest && command.Params.size() > 1 && command.Params[1] == "1") {
      context_.Ups.Test.AutonomyTestState = "0";
    }
    AnswerRequester(router_, command.Requester, command.Code);
    // Nothing is left to complete; a stale false here (as after a reset) would answer it twice.
    context_.Server.Info.CompletionDone = true;
  } else {
    context_.Server.Info.CompletionDone = false;
  }
}

}  // namespace keep::server
