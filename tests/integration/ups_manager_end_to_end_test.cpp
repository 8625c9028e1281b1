// The UPS manager on real links against a running upssim, driven by the test on real time.
#include <gtest/gtest.h>

#include "server/core/server_lifecycle.h"
#include "server/services/command_step.h"
#include "server/services/ups_identification.h"
#include "tests/server/server_test_env.h"
#include "tests/support/upssim_process.h"

namespace keep::test {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLimit{15000};

constexpr char kLanguage[] = "[LOGS]\nNewSessionStart=Session begins\n";

class ManagerEndToEnd : public ::testing::Test {
 protected:
  ManagerEndToEnd() : env_({}, /*real_time=*/true) {}

  // Starts the server parts on the simulator's link; the identification runs at start.
  void StartOn(UpsSimulator& sim, const std::string& link_values) {
    ASSERT_TRUE(sim.Ready()) << sim.Output();
    env_.Install(kLanguage);
    if (sim.TcpPort() > 0) {
      env_.registry().SetDword(kServerKey, "UpsManType", 2);
      env_.registry().SetString(kServerKey, "UpsNetCardAddress", link_values);
    } else {
      env_.registry().SetString(kServerKey, "UpsDevice", link_values);
    }
    ASSERT_TRUE(server::StartSequence(env_.context()));
    // The test drives the manager itself: the command step would otherwise start its own
    // identification the moment the link is lost.
    env_.context().Commands->Enable(false);
    manager_ = env_.context().Manager.get();
  }
  bool Idle() { return !manager_->Busy; }
  bool RunCommand(const std::string& code) {
    if (manager_->SendCommand({code})) return true;
    return env_.RunUntil([&] { return Idle(); }, kLimit);
  }

  void ExpectIdentifiedAndPolled(UpsSimulator& sim) {
    ASSERT_TRUE(env_.RunUntil([&] { return manager_->Connected && Idle(); }, kLimit)) << sim.RecordedQueries();
    const server::TUpsData& ups = env_.context().Ups;
    EXPECT_EQ("V1.00", ups.Info.FirmwareVersion);
    EXPECT_EQ("230", ups.Input.PhaseR.Voltage);
    EXPECT_EQ("0", ups.Main.UpsStatus.str());

    ASSERT_EQ("OK\n", sim.Command("set battery"));
    ASSERT_TRUE(RunCommand("101"));
    EXPECT_EQ("1", ups.Main.UpsStatus.str());
    EXPECT_EQ("I\nQ1\nQ1\n", sim.RecordedQueries());
  }

  void ExpectSilenceLosesAndAnswersRestore(UpsSimulator& sim) {
    env_.context().Server.ModelTime1 = 300;  // short reply time: three time-outs take seconds, not minutes
    ASSERT_EQ("OK\n", sim.Command("fault silent on"));
    manager_->SendCommand({"101"});
    ASSERT_TRUE(env_.RunUntil([&] { return manager_->CommLost; }, kLimit));
    EXPECT_FALSE(manager_->Connected);
    EXPECT_FALSE(manager_->Busy);

    ASSERT_EQ("OK\n", sim.Command("fault silent off"));
    server::IdentifyUps(env_.context());
    EXPECT_TRUE(env_.RunUntil([&] { return manager_->Connected && Idle(); }, kLimit));
    EXPECT_FALSE(manager_->CommLost);
  }

  ServerTestEnv env_;
  server::UpsManager* manager_ = nullptr;
};

TEST_F(ManagerEndToEnd, IdentifiesAndPollsOverAPty) {
  UpsSimulator sim(UpsSimulator::Link::kPty, 1, env_.install());
  StartOn(sim, sim.SlavePath());
  ExpectIdentifiedAndPolled(sim);
}

TEST_F(ManagerEndToEnd, SilenceOverAPtyLosesTheUpsAndAnswersRestoreIt) {
  UpsSimulator sim(UpsSimulator::Link::kPty, 1, env_.install());
  StartOn(sim, sim.SlavePath());
  ASSERT_TRUE(env_.RunUntil([&] { return manager_->Connected && Idle(); }, kLimit));
  ExpectSilenceLosesAndAnswersRestore(sim);
}

std::string TcpAddress(const UpsSimulator& sim) { return "127.0.0.1:" + std::to_string(sim.TcpPort()); }

TEST_F(ManagerEndToEnd, IdentifiesAndPollsOverTcp) {
  UpsSimulator sim(UpsSimulator::Link::kTcp, 1, env_.install());
  StartOn(sim, TcpAddress(sim));
  ExpectIdentifiedAndPolled(sim);
}

TEST_F(ManagerEndToEnd, SilenceOverTcpLosesTheUpsAndAnswersRestoreIt) {
  UpsSimulator sim(UpsSimulator::Link::kTcp, 1, env_.install());
  StartOn(sim, TcpAddress(sim));
  ASSERT_TRUE(env_.RunUntil([&] { return manager_->Connected && Idle(); }, kLimit));
  ExpectSilenceLosesAndAnswersRestore(sim);
}

TEST_F(ManagerEndToEnd, ADroppedTcpConnectionIsReopenedByTheWakeUp) {
  UpsSimulator sim(UpsSimulator::Link::kTcp, 1, env_.install());
  StartOn(sim, TcpAddress(sim));
  ASSERT_TRUE(env_.RunUntil([&] { return manager_->Connected && Idle(); }, kLimit));
  env_.context().Server.ModelTime1 = 300;

  ASSERT_EQ("OK\n", sim.Command("fault drop"));
  // Nothing arrives on the dropped connection: the link is lost after three time-outs ...
  manager_->SendCommand({"101"});
  ASSERT_TRUE(env_.RunUntil([&] { return manager_->CommLost; }, kLimit));
  // ... and the wake-up of the next identification opens a new connection first.
  server::IdentifyUps(env_.context());
  EXPECT_TRUE(env_.RunUntil([&] { return manager_->Connected && Idle(); }, kLimit)) << sim.RecordedQueries();
  EXPECT_EQ("V1.00", env_.context().Ups.Info.FirmwareVersion);
}

}  // namespace
}  // namespace keep::test
