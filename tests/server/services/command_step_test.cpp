// The command step on a manual clock, driving a manager with a scripted link and driver; the
// answers and notices are recorded instead of going to clients.
#include "server/services/command_step.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/records/error_codes.h"
#include "tests/server/server_test_env.h"
#include "tests/support/scripted_ups.h"

namespace keep::server {
namespace {

using test::ReplyTo;

struct Sent {
  std::string target;  // "*" for a notice to every client
  int code = 0;
  bool with_parameter = false;
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& sent) {
  return out << sent.target << " " << sent.code << (sent.with_parameter ? " +parameter" : "");
}

class CommandStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerContext& context = env_.context();
    ResetServerState(context.Server);
    context.Manager = std::make_unique<UpsManager>(UpsManagerContextOf(context));
    test::UseScriptedUps(*context.Manager, link_, env_.clock(), &driver_);
    ASSERT_EQ(kErrorOk, context.Manager->CreateLink());
    ASSERT_EQ(kErrorOk, context.Manager->ConnectLink());
    // One exchange each: a battery test (client or server), a setting, the data sample.
    driver_->scripts[400] = {"Q"};
    driver_->scripts[402] = {"R"};
    driver_->scripts[301] = {"S"};
    driver_->scripts[1] = {"P"};

    AnswerRouter router;
    router.SendToClient = [this](const std::string& target, const std::string* parameter, int code) {
      sent_.push_back({target, code, parameter != nullptr});
      return true;
    };
    router.NotifyAllClients = [this](int code, const std::string* parameter) {
      sent_.push_back({"*", code, parameter != nullptr});
    };
    step_ = std::make_unique<CommandStep>(context, queue_, std::move(router));
    step_->SetEvaluate([this] {
      ++evaluations_;
      server().Info.UpsConnecting = false;
    });
  }

  UpsManager& manager() { return *env_.context().Manager; }
  TServerData& server() { return env_.context().Server; }
  // Moves the clock in small steps, so timers fire in their order as they would in real time.
  void Run(int64_t ms) {
    for (int64_t done = 0; done < ms; done += 10) {
      env_.clock().AdvanceMs(10);
      env_.loop().RunDue();
    }
  }
  void Reply() { ASSERT_TRUE(manager().OnReceive(ReplyTo(link_.Last()))); }
  // Runs the steps, replying to every exchange, until the queue is empty and the manager idle.
  void Drain() {
    for (int i = 0; i < 100 && (!queue_.Empty() || manager().Busy || !server().Info.CompletionDone); ++i) {
      Run(100);
      if (manager().AwaitingReply()) Reply();
    }
  }

  test::ServerTestEnv env_;
  test::LinkRecord link_;
  test::ScriptedDriver* driver_ = nullptr;
  RequestQueue queue_;
  std::vector<Sent> sent_;
  int evaluations_ = 0;
  std::unique_ptr<CommandStep> step_;
};

TEST_F(CommandStepTest, TicksEvery100MsOnlyWhileEnabledAndDoesNothingWhileBusy) {
  queue_.QueueRequest("10.0.0.5", "<|201|1|>", false);
  Run(1000);
  EXPECT_EQ(1u, queue_.Size()) << "created disabled";

  step_->Enable(true);
  manager().Busy = true;
  Run(500);
  EXPECT_EQ(1u, queue_.Size());
  EXPECT_TRUE(sent_.empty());

  manager().Busy = false;
  Run(90);
  EXPECT_EQ(1u, queue_.Size()) << "the next tick is 100 ms after the last";
  Run(10);
  EXPECT_TRUE(queue_.Empty());
  EXPECT_TRUE(step_->Enabled()) << "the tick enables its timer again";

  step_->Enable(false);
  queue_.QueueRequest("10.0.0.5", "<|201|1|>", false);
  Run(1000);
  EXPECT_EQ(1u, queue_.Size());
}

// An idle server must not be woken ten times a second, yet a request must run at the very tick it
// always had: the step sleeps between requests and wakes on the 100 ms grid of its last tick.
TEST_F(CommandStepTest, AnIdleStepSleepsAndWakesOnItsOwnGridForARequestOrTheManagersWork) {
  step_->Enable(true);
  queue_.QueueInternalRequest(201, {});  // answered at once: nothing is left to complete
  Run(100);
  EXPECT_TRUE(server().Info.CompletionDone);
  EXPECT_TRUE(step_->Sleeping()) << "that tick left nothing to do";
  Run(100);
  EXPECT_EQ(-1, env_.loop().MsUntilNextWork()) << "nothing planned while idle";
  EXPECT_TRUE(step_->Enabled());

  Run(150);  // 350 ms: between ticks
  queue_.QueueRequest("10.0.0.5", "<|201|1|>", false);
  EXPECT_FALSE(step_->Sleeping());
  Run(40);
  EXPECT_EQ(1u, queue_.Size()) << "not before the tick at 400 ms";
  Run(10);
  EXPECT_TRUE(queue_.Empty());
  EXPECT_EQ((std::vector<Sent>{{"10.0.0.5", 201, false}}), sent_);
  Run(100);
  EXPECT_TRUE(step_->Sleeping());

  // Work the manager takes up outside the step (the identification of the start) wakes it too, and
  // a request queued meanwhile waits for the reply as it always did.
  Run(30);
  manager().WakeUp([this] { manager().SendCommand({"400"}); });
  EXPECT_FALSE(step_->Sleeping());
  queue_.QueueRequest("10.0.0.6", "<|402|>", false);
  Run(2000);
  EXPECT_EQ("Q\r", link_.Last());
  EXPECT_EQ(1u, queue_.Size());
  Reply();
  Run(100);
  EXPECT_EQ("R\r", link_.Last());
  Reply();
  Run(100);
  EXPECT_EQ("10.0.0.6", sent_.back().target);
  Run(100);
  EXPECT_TRUE(step_->Sleeping());

  step_->Enable(false);
  queue_.QueueRequest("10.0.0.5", "<|201|1|>", false);
  Run(1000);
  EXPECT_EQ(1u, queue_.Size()) << "a disabled step is not woken";
}

// Regression: the first request after a reset found the completion flag false and was answered
// once at execution and again by the completion at the next step.
TEST_F(CommandStepTest, ARequestWithoutExchangeIsAnsweredOnceToItsRequester) {
  step_->Enable(true);
  queue_.QueueRequest("10.0.0.5", "<|201|1|>", false);
  Run(100);
  EXPECT_EQ((TStringList{"201", "1"}), server().Command.Params);
  EXPECT_EQ("10.0.0.5", server().Command.Requester);
  EXPECT_EQ(201, server().Command.Code);
  EXPECT_TRUE(link_.sent.empty());
  Run(1000);
  EXPECT_EQ((std::vector<Sent>{{"10.0.0.5", 201, false}}), sent_);
}

// A UPS whose protocol has no calibration test answers the start at once; the test must not stay
// marked as running, or a mains failure would go unnoticed.
TEST_F(CommandStepTest, ACalibrationStartTheUpsCannotRunLeavesNoTestRunning) {
  step_->Enable(true);
  env_.context().Ups.Test.AutonomyTestState = "1";  // as the request check leaves it when queueing
  queue_.QueueRequest("10.0.0.5", "<|401|1|>", false);
  Run(100);
  EXPECT_EQ("0", env_.context().Ups.Test.AutonomyTestState);
  EXPECT_EQ((std::vector<Sent>{{"10.0.0.5", 401, false}}), sent_);
}

TEST_F(CommandStepTest, ACalibrationStartTheUpsRunsKeepsTheTestRunning) {
  driver_->scripts[401] = {"C"};
  step_->Enable(true);
  env_.context().Ups.Test.AutonomyTestState = "1";
  queue_.QueueRequest("10.0.0.5", "<|401|1|>", false);
  Run(100);
  EXPECT_EQ("1", env_.context().Ups.Test.AutonomyTestState);
}

TEST_F(CommandStepTest, AnExchangedRequestIsAnsweredToItsRequesterAfterTheReply) {
  step_->Enable(true);
  queue_.QueueRequest("10.0.0.5", "<|400|>", false);
  Run(100);
  EXPECT_EQ("Q\r", link_.Sent());
  EXPECT_FALSE(server().Info.CompletionDone);
  Run(300);
  EXPECT_TRUE(sent_.empty());
  Reply();
  EXPECT_TRUE(sent_.empty()) << "answered by the next step, not by the reply";
  Run(100);
  EXPECT_EQ((std::vector<Sent>{{"10.0.0.5", 400, false}}), sent_);
  EXPECT_TRUE(server().Info.CompletionDone);
  Run(1000);
  EXPECT_EQ(1u, sent_.size());
  EXPECT_EQ(0, evaluations_) << "a client's request runs no evaluation";
}

TEST_F(CommandStepTest, ASettingChangeIsNotifiedToEveryClientInsteadOfAnswered) {
  step_->Enable(true);
  queue_.QueueRequest("10.0.0.5", "<|301|2|>", false);
  Drain();
  queue_.QueueInternalRequest(301, {"2"});
  Drain();
  EXPECT_EQ((std::vector<Sent>{{"*", 301, false}, {"*", 301, false}}), sent_);
  EXPECT_EQ(0, evaluations_) << "not even after the server's own";
}

TEST_F(CommandStepTest, TheServersOwnRequestsAnswerNobodyAndRunTheEvaluation) {
  step_->Enable(true);
  queue_.QueueInternalRequest(400, {});
  Drain();
  EXPECT_EQ(1, evaluations_);
  EXPECT_FALSE(server().RecordNow);

  queue_.QueueInternalRequest(1, {});
  Drain();
  EXPECT_TRUE(server().RecordNow) << "the data sample is written by the evaluation";
  EXPECT_EQ(2, evaluations_);

  queue_.QueueInternalRequest(201, {});  // answered at once
  Drain();
  EXPECT_EQ("@", server().Command.Requester);
  EXPECT_EQ(201, server().Command.Code);
  EXPECT_TRUE(sent_.empty());
}

TEST_F(CommandStepTest, APendingFirstIdentificationPutsOffTheCompletionAndHoldsTheQueue) {
  step_->Enable(true);
  queue_.QueueRequest("10.0.0.5", "<|400|>", false);
  Run(100);
  Reply();
  server().Info.UpsConnecting = true;
  queue_.QueueRequest("10.0.0.6", "<|201|>", false);
  Run(100);
  EXPECT_EQ(1, server().Info.UpsConnectResult);
  EXPECT_EQ(1, evaluations_);
  EXPECT_FALSE(server().Info.CompletionDone);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(1u, queue_.Size()) << "the next request would overwrite the one still to complete";

  Run(100);  // the evaluation has ended the connecting phase
  EXPECT_EQ((std::vector<Sent>{{"10.0.0.5", 400, false}, {"10.0.0.6", 201, false}}), sent_);
  EXPECT_TRUE(queue_.Empty());
}

TEST_F(CommandStepTest, ALostUpsMarksTheLinkFailedAndIdentifiesItAgain) {
  step_->Enable(true);
  queue_.QueueRequest("10.0.0.5", "<|400|>", false);
  Run(100);
  // Three silent attempts (500 ms each, a 2000 ms wake-up pause between them), then the next tick.
  Run(500 + 2000 + 500 + 2000 + 500 + 100);
  EXPECT_TRUE(server().LinkFailed);
  EXPECT_EQ(1, evaluations_);
  EXPECT_EQ("\r", link_.Last()) << "the wake-up of the identification";
  EXPECT_TRUE(manager().Busy);
  EXPECT_TRUE(sent_.empty());

  Run(2000);
  EXPECT_EQ("A\r", link_.Last()) << "the identification request follows the wake-up pause";
  EXPECT_FALSE(manager().CommLost);
  Reply();
  Reply();
  Run(100);
  EXPECT_FALSE(server().LinkFailed) << "cleared by the first completion on a working link";
  EXPECT_EQ(1, evaluations_);
  EXPECT_EQ((std::vector<Sent>{{"10.0.0.5", 400, false}}), sent_);
}

TEST_F(CommandStepTest, InternalRequestsQueuedDuringAnExecutionOvertakeAnEarlierClientRequest) {
  step_->Enable(true);
  queue_.QueueInternalRequest(1, {});
  Run(100);
  EXPECT_EQ("P\r", link_.Last());
  queue_.QueueRequest("10.0.0.5", "<|402|>", false);
  queue_.QueueInternalRequest(400, {});
  queue_.QueueInternalRequest(301, {});
  queue_.QueueInternalRequest(400, {});  // already queued: dropped
  Reply();
  Drain();
  EXPECT_EQ("P\rS\rQ\rR\r", link_.Sent()) << "the latest internal request first";
  EXPECT_EQ((std::vector<Sent>{{"*", 301, false}, {"10.0.0.5", 402, false}}), sent_);
  EXPECT_EQ(2, evaluations_);
}

}  // namespace
}  // namespace keep::server
