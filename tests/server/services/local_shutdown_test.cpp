// The local shutdown (the UPS switch-off request, then the shutdown script once the other computers
// have been told) and the program launcher the actions use.
#include "server/services/local_shutdown.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/scrambling.h"
#include "server/services/remote_command.h"
#include "tests/server/server_test_env.h"
#include "tests/support/loop_runner.h"
#include "tests/support/loopback_listener.h"

namespace keep::server {
namespace {

using std::chrono::milliseconds;

class LocalShutdownTest : public ::testing::Test {
 protected:
  LocalShutdownTest() {
    ServerContext& context = env_.context();
    context.Setup.InstallPath = env_.install();
    context.IsVistaOrLater = true;
    TUpsSetup& ups = context.Setup.UpsSetup;
    ups.UpsOffEnabled = true;
    ups.UpsOffDelay = 240;
    ups.UpsOnEnabled = true;
    ups.UpsOnDelay = 90;
    std::filesystem::create_directories(env_.install() + "script/system");
    test::WriteFileText(Script(), "");
    test::WriteFileText(Tool(), "");
  }

  std::string Script() const { return env_.install() + ShutdownScript(); }
  std::string Tool() const { return env_.install() + "bin/tool"; }
  const std::vector<test::StartedProgram>& Started() { return env_.starter().started; }
  const TStringList& Queued() { return env_.context().Requests.Items(); }

  test::ServerTestEnv env_;
};

TEST_F(LocalShutdownTest, SwitchesTheUpsOffWithItsRestartDelayThenRunsTheScript) {
  ShutdownLocal(env_.context(), false);
  EXPECT_EQ(Queued(), (TStringList{"@|<|002|240|90|>"}));
  ASSERT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].program, Script());
  EXPECT_EQ(Started()[0].arguments, "");
}

TEST_F(LocalShutdownTest, WithoutRestartTheUpsIsToldToStayOff) {
  env_.context().Setup.UpsSetup.UpsOnEnabled = false;
  ShutdownLocal(env_.context(), false);
  EXPECT_EQ(Queued(), (TStringList{"@|<|002|240|@|>"}));
  EXPECT_EQ(Started().size(), 1u);
}

TEST_F(LocalShutdownTest, TheScriptWaitsAtMostHalfTheSwitchOffDelayAndTheConnectionTimeOut) {
  const struct {
    bool off_enabled;
    uint16_t off_delay;
    int32_t timeout;
    int64_t limit_ms;
  } cases[] = {{true, 10, 8, 5000}, {true, 180, 8, 8000}, {false, 10, 8, 8000},
               {true, 0, 8, 0},     {true, 180, 0, 5000}, {true, 65535, 99999, 3600000}};
  for (const auto& c : cases) {
    TSetupData setup;
    setup.UpsSetup.UpsOffEnabled = c.off_enabled;
    setup.UpsSetup.UpsOffDelay = c.off_delay;
    setup.ServerSetup.RsTimeoutConnection = c.timeout;
    EXPECT_EQ(c.limit_ms, ScriptWaitLimitMs(setup)) << c.off_enabled << " " << c.off_delay << " " << c.timeout;
  }
}

TEST_F(LocalShutdownTest, WithoutSwitchOffOnlyTheScriptRuns) {
  env_.context().Setup.UpsSetup.UpsOffEnabled = false;
  ShutdownLocal(env_.context(), false);
  EXPECT_TRUE(Queued().empty());
  ASSERT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].program, Script());
}

TEST_F(LocalShutdownTest, AScheduledShutdownAlsoSwitchesOffAndRunsTheScript) {
  ShutdownLocal(env_.context(), true);
  ASSERT_EQ(Queued().size(), 1u);
  EXPECT_EQ(Queued()[0].rfind("@|<|002|240|", 0), 0u) << Queued()[0];
  EXPECT_EQ(Started().size(), 1u);
}

TEST_F(LocalShutdownTest, AMissingScriptStartsNothingButTheUpsIsStillSwitchedOff) {
  std::filesystem::remove(Script());
  ShutdownLocal(env_.context(), false);
  EXPECT_EQ(Queued().size(), 1u);
  EXPECT_TRUE(Started().empty());
}

TEST_F(LocalShutdownTest, WithRemoteCommandsIdleTheScriptRunsAtOnce) {
  env_.context().Remote = std::make_unique<RemoteCommands>(env_.context());
  ShutdownLocal(env_.context(), false);
  // At once, or at the latest on the loop's next turn.
  EXPECT_TRUE(test::RunLoopUntil(
      env_.loop(), [this] { return !Started().empty(); }, milliseconds(5000)));
  EXPECT_EQ(Started().size(), 1u);
  env_.context().Remote.reset();
}

TEST_F(LocalShutdownTest, TheScriptWaitsUntilTheOtherComputersHaveBeenTold) {
  ServerContext& context = env_.context();
  context.Remote = std::make_unique<RemoteCommands>(context);
  test::LoopbackListener agent;
  ASSERT_TRUE(agent.Ok());
  SendRemoteCommand(context, "127.0.0.1", std::to_string(agent.Port()), "", kRemoteShutdown);
  ShutdownLocal(context, false);
  // The switch-off request does not wait: the UPS has its own delay.
  EXPECT_EQ(Queued().size(), 1u);

  ASSERT_TRUE(agent.Accept());
  // The agent has not greeted yet: the command is still under way.
  for (int turn = 0; turn < 50; ++turn) env_.loop().RunDue();
  EXPECT_TRUE(Started().empty());

  agent.Write(ScrambleText("<|ok|>") + "\r\n");
  EXPECT_EQ(UnscrambleText(agent.Read(ScrambleText(RemoteCommandFrame(kRemoteShutdown, "")).size())),
            RemoteCommandFrame(kRemoteShutdown, ""));
  ASSERT_TRUE(test::RunLoopUntil(
      env_.loop(), [this] { return !Started().empty(); }, milliseconds(10000)));
  EXPECT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].program, Script());
  context.Remote.reset();
}

TEST_F(LocalShutdownTest, ProgramsReachTheUserScriptsHiddenProgramsWithTheirWindow) {
  EXPECT_TRUE(RunProgram(env_.context(), true, Script(), "now"));
  EXPECT_TRUE(RunProgram(env_.context(), true, Tool(), " -x "));
  ASSERT_EQ(Started().size(), 2u);
  EXPECT_TRUE(Started()[0].options.hidden);
  EXPECT_EQ(Started()[0].arguments, "now");
  EXPECT_FALSE(Started()[1].options.hidden);
  EXPECT_EQ(Started()[1].arguments, "-x");
  // A program started for the user is never waited for.
  EXPECT_FALSE(Started()[0].options.wait);
  EXPECT_FALSE(Started()[1].options.wait);
}

TEST_F(LocalShutdownTest, OnOlderSystemsOnlyProgramsAreWaitedFor) {
  env_.context().IsVistaOrLater = false;
  EXPECT_TRUE(RunProgram(env_.context(), true, Tool(), "-x"));
  EXPECT_TRUE(RunProgram(env_.context(), false, Tool(), "-y"));
  EXPECT_TRUE(RunProgram(env_.context(), true, Script(), ""));
  ASSERT_EQ(Started().size(), 3u);
  EXPECT_TRUE(Started()[0].options.wait);
  EXPECT_FALSE(Started()[0].options.hidden);
  EXPECT_FALSE(Started()[1].options.wait);
  // Scripts go through the shell, which never waits, without a window.
  EXPECT_FALSE(Started()[2].options.wait);
  EXPECT_TRUE(Started()[2].options.hidden);
}

TEST_F(LocalShutdownTest, AFailedStartIsReported) {
  env_.starter().result = false;
  EXPECT_FALSE(RunProgram(env_.context(), false, Tool(), ""));
  env_.context().IsVistaOrLater = false;
  EXPECT_FALSE(RunProgram(env_.context(), false, Tool(), ""));
  // A missing program is never handed to the starter.
  env_.starter().result = true;
  EXPECT_FALSE(RunProgram(env_.context(), false, env_.install() + "bin/missing.sh", ""));
  env_.context().IsVistaOrLater = true;
  EXPECT_FALSE(RunProgram(env_.context(), false, env_.install() + "bin/missing", ""));
  EXPECT_EQ(Started().size(), 2u);
}

}  // namespace
}  // namespace keep::server
