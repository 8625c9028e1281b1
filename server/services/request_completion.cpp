#include "server/services/request_completion.h"

#include "server/core/request_queue.h"
#include "server/services/recording.h"

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

CompletionPlan PlanFor(ServerContext& context, const AnswerRouter& router, int code) {
  CompletionPlan plan;
  if (code == 1) {
    // The data sample is written by the evaluation that follows, not sent to anyone.
    context.Server.RecordNow = true;
    plan.Answer = false;
  } else if (IsSettingChange(code)) {
    if (router.NotifyAllClients) router.NotifyAllClients(code, nullptr);
    plan.Evaluate = false;
    plan.Answer = false;
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
  const CompletionPlan plan = PlanFor(context, router, code);
  if (!plan.Text.empty()) WriteLogLine(context, plan.Text);
  if (plan.Evaluate && requester == kInternalTarget && evaluate) evaluate();
  if (plan.Answer) AnswerRequester(router, requester, code);
  server.Info.CompletionDone = true;
}

}  // namespace keep::server
