#include "server/services/request_completion.h"

#include <string_view>

#include "common/fill_params.h"
#include "server/services/battery_estimate.h"
#include "server/services/language.h"
#include "server/services/main_cycle.h"
#include "server/services/recording.h"
#include "server/services/request_queue.h"

namespace keep::server {
namespace {

// What a completed request still needs, decided by its code.
struct CompletionPlan {
  std::string Text;      // log line; empty writes none
  bool Evaluate = true;  // evaluate the UPS state afterwards (the server's own requests only)
  bool Answer = true;    // answer the requester
};

// Codes whose completion means a setting was changed in the UPS: every client hears of it, since
// all of them show that setting, and nobody gets a separate answer.
bool IsSettingChange(int code) {
  switch (code) {
    case 300:
    case 301:
    case 302:
    case 303:
    case 306:
    case 307:
    case 308:
    case 310:
    case 311:
    case 312:
    case 314:
    case 315:
      return true;
    default:
      return false;
  }
}

std::string LogsText(const ServerContext& context, std::string_view key) {
  return LanguageText(context.Setup, "LOGS", key);
}

// The log line of a battery test the UPS has reported on ("@" when it could not run one).
std::string BatteryTestText(const ServerContext& context, const std::string& result) {
  if (result == "@") return LogsText(context, "BatteryTestImpossible");
  std::string outcome;
  if (result == "0") {
    outcome = "Ok";
  } else if (result == "255") {
    outcome = LogsText(context, "BatteryToReplace");
  } else {
    outcome = result + " %";
  }
  return FillParam(LogsText(context, "BatteryTestExecuted"), outcome);
}

void Notify(const AnswerRouter& router, int code, const std::string& notice) {
  if (router.NotifyAllClients) router.NotifyAllClients(code, &notice);
}

// Request 401 starts ("1" or anything but "0") or stops ("0") the autonomy calibration test.
void PlanCalibration(ServerContext& context, const AnswerRouter& router, const std::string& requester,
                     const std::string& prefix, CompletionPlan& plan) {
  const TStringList& params = context.Server.Command.Params;
  const bool stop = params.size() > 1 && params[1] == "0";
  if (stop) {
    // A stop without a running test (asked twice, or after the mains returned) has nothing to end.
    if (context.Ups.Main.CalibrationState != "1") return;
    EndCalibrationTest(context);
    const std::string minutes = MinutesText(context.Setup.UpsSetup.UpsAutonomyTime);
    // The server stops the test itself when the battery runs low; clients tell that from a stop
    // somebody asked for by the notice.
    if (requester == kInternalTarget) {
      plan.Text = LogsText(context, "AutonomyTestEnd");
      Notify(router, 401, "4");
    } else {
      plan.Text = LogsText(context, "AutonomyTestStop");
      Notify(router, 401, "3");
    }
    plan.Text = FillParam(plan.Text, minutes);
  } else {
    StartCalibrationTest(context);
    Notify(router, 401, "1");
    plan.Text = prefix + LogsText(context, "AutonomyTestStart");
  }
  plan.Evaluate = false;
  plan.Answer = false;
}

CompletionPlan PlanFor(ServerContext& context, const AnswerRouter& router, const std::string& requester, int code) {
  CompletionPlan plan;
  // The server asks for tests only when the scheduler says so, so their log lines carry its name.
  const std::string prefix = requester == kInternalTarget ? context.SchedulerPrefix : std::string();
  if (code == 1) {
    // The data sample is written by the evaluation that follows, not sent to anyone.
    context.Server.RecordNow = true;
    plan.Answer = false;
  } else if (IsSettingChange(code)) {
    if (router.NotifyAllClients) router.NotifyAllClients(code, nullptr);
    plan.Evaluate = false;
    plan.Answer = false;
  } else if (code == 304) {
    plan.Text = LogsText(context, "BatteryHistoryReset");
    plan.Evaluate = false;
  } else if (code == 305 || code == 313) {
    plan.Text = LogsText(context, "EventListReset");
    plan.Evaluate = false;
  } else if (code == 400 || code == 402) {
    const std::string& result = context.Ups.Test.BatteryTestResult;
    // An empty result (the record before any reply filled it) is no more a result than "&".
    if (!result.empty() && result != "&") {
      plan.Text = prefix + BatteryTestText(context, result);
      plan.Evaluate = false;
    }
  } else if (code == 401) {
    PlanCalibration(context, router, requester, prefix, plan);
  }
  return plan;
}

}  // namespace

bool AnswerRequester(const AnswerRouter& router, const std::string& requester, int code) {
  if (requester.empty() || requester == kInternalTarget || !router.SendToClient) return false;
  return router.SendToClient(requester, nullptr, code);
}

void CompleteRequest(ServerContext& context, const AnswerRouter& router, const std::function<void()>& evaluate) {
  TServerData& server = context.Server;
  server.LinkFailed = false;
  const TTcpCmdInfo& command = server.Command;
  if (command.Requester.empty()) return;

  if (server.Info.UpsConnecting) {
    // The evaluation ends the connecting phase; the request itself is completed at the next step.
    server.Info.UpsConnectResult = 1;
    if (evaluate) evaluate();
    return;
  }

  // Copies: the evaluation and the routing callbacks may queue or start other work.
  const std::string requester = command.Requester;
  const int code = command.Code;
  const CompletionPlan plan = PlanFor(context, router, requester, code);
  if (!plan.Text.empty()) WriteLogLine(context, plan.Text);
  if (plan.Evaluate && requester == kInternalTarget && evaluate) evaluate();
  if (plan.Answer) AnswerRequester(router, requester, code);
  server.Info.CompletionDone = true;
}

}  // namespace keep::server
