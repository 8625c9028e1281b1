#include <gtest/gtest.h>

#include "platform/serial_port.h"
#include "server/core/command_switches.h"
#include "server/core/error_reporter.h"
#include "server/core/server_lifecycle.h"
#include "server/records/error_codes.h"
#include "server/services/command_step.h"
#include "server/services/main_cycle.h"
#include "tests/server/server_test_env.h"

namespace keep::test {
namespace {

using server::StartSequence;

constexpr char kLanguage[] =
    "[LOGS]\nNewSessionStart=Session begins\nSchedulerName=SCHED -\n"
    "[ERRORS]\n100001=Cannot start\n100004=Device $ fails\n100006=Port $ busy\n100002=No object\n";

constexpr char kInvalidSetupNote[] =
    "\"/M:\r\nInvalid setup.\r\n Pls. uninstall and then install this software again.\" /I:16";

TEST(StartSequence, RunsAndLogsTheSessionStartWithTheFixedDateFormat) {
  ServerTestEnv env;
  env.Install(kLanguage);
  ASSERT_TRUE(StartSequence(env.context()));

  EXPECT_EQ("08/12/2026 14:30:05  Session begins\r\n", env.LogText());
  EXPECT_EQ("SCHED - ", env.context().SchedulerPrefix);
  // The first evaluation has told of the start; the UPS is still being identified.
  EXPECT_FALSE(env.context().Server.Info.ServerStarted);
  EXPECT_TRUE(env.context().Server.Info.UpsConnecting);
  EXPECT_TRUE(env.context().Cycle->Enabled());
  EXPECT_TRUE(env.context().Commands->Enabled());
  EXPECT_TRUE(env.context().Server.Info.EventLogReady);
  EXPECT_TRUE(env.context().Server.ProtocolReset);
  EXPECT_EQ("bin/keepd", env.context().Server.Info.LaunchedBy);
  EXPECT_EQ('.', env.context().Format.DecimalSeparator);
  EXPECT_TRUE(env.starter().started.empty());
  EXPECT_FALSE(env.context().StopSequenceRan);
}

TEST(StartSequence, LoadsTheModelAndOpensItsSerialLinkUntilTheStop) {
  ServerTestEnv env;
  env.Install(kLanguage);
  ASSERT_TRUE(StartSequence(env.context()));
  EXPECT_EQ("LineGuard", env.context().Ups.Info.FamilyName);
  EXPECT_EQ(1, env.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber);
  ASSERT_NE(nullptr, env.context().Manager);

  // Bytes from the UPS side reach the manager on the loop (a real device: real time, bounded).
  env.ups().WriteMaster("(230.0");
  EXPECT_TRUE(WaitUntil(
      [&] {
        env.loop().RunDue();
        return env.context().Manager->RxBuffer == "(230.0";
      },
      std::chrono::seconds(10)));

  std::unique_ptr<platform::SerialPort> other;
  EXPECT_NE(0, platform::SerialPort::Open(env.ups().SlavePath(), &other).error) << "the link holds the device";
  server::StopSequence(env.context());
  EXPECT_EQ(nullptr, env.context().Manager);
  EXPECT_EQ(0, platform::SerialPort::Open(env.ups().SlavePath(), &other).error) << "the stop frees the device";
}

TEST(StartSequence, StartAndStopEventsAreLoggedWhenConfigured) {
  ServerTestEnv env;
  env.Install("[LOGS]\nNewSessionStart=Session begins\n0=Up on $ port $\n1=Going down\n");
  env.registry().SetDword(kServerKey, "EventCounter", 2);
  env.registry().SetString(kServerKey, "Event0", "0|$LOG");
  env.registry().SetString(kServerKey, "Event1", "1|$LOG");
  ASSERT_TRUE(StartSequence(env.context()));
  EXPECT_NE(std::string::npos, env.LogText().find("  Up on " + env.ups().SlavePath() + " port 0\r\n")) << env.LogText();
  server::StopSequence(env.context());
  EXPECT_NE(std::string::npos, env.LogText().find("  Going down\r\n")) << env.LogText();
}

TEST(StopSequence, RunningCalibrationTestIsStoppedAndAnsweredBeforeTheServerGoes) {
  ServerTestEnv env;
  env.Install(kLanguage);
  ASSERT_TRUE(StartSequence(env.context()));
  server::ServerContext& context = env.context();
  context.Ups.Test.AutonomyTestState = "1";
  bool finished = false;
  server::BeginStop(context, [&] {
    finished = true;
    server::StopSequence(context);
  });
  EXPECT_TRUE(context.Server.Info.ServerStopping);
  EXPECT_FALSE(context.Cycle->Enabled()) << "no main cycle while the stop request is under way";
  EXPECT_FALSE(context.Commands->Enabled());
  // The manager is still identifying the UPS: the stop request waits first in the queue.
  ASSERT_FALSE(context.Requests.Empty());
  EXPECT_EQ("127.0.0.1|<|401|0|>", context.Requests.Items()[0]);

  env.clock().AdvanceMs(server::kAutonomyTestStopWaitMs - 1);
  env.loop().RunDue();
  EXPECT_FALSE(finished);
  env.clock().AdvanceMs(1);
  env.loop().RunDue();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(context.StopSequenceRan);
}

TEST(StopSequence, WithoutACalibrationTestTheStopIsImmediate) {
  ServerTestEnv env;
  env.Install(kLanguage);
  ASSERT_TRUE(StartSequence(env.context()));
  bool finished = false;
  server::BeginStop(env.context(), [&] { finished = true; });
  EXPECT_TRUE(finished);
  EXPECT_TRUE(env.context().Requests.Empty());
  server::StopSequence(env.context());
}

TEST(StartSequence, ServiceHostIsTheLauncherInServiceMode) {
  ServerTestEnv env({.Debug = false, .ServiceMode = true});
  env.Install(kLanguage);
  ASSERT_TRUE(StartSequence(env.context()));
  EXPECT_EQ("bin/svcrun", env.context().Server.Info.LaunchedBy);
}

TEST(StartSequence, MissingInstallPathShowsInvalidSetupThroughTheNoteBoxAndStops) {
  ServerTestEnv env;
  EXPECT_FALSE(StartSequence(env.context()));

  ASSERT_EQ(1u, env.starter().started.size());
  // No installation folder: the note box is looked for relative to the current folder.
  EXPECT_EQ("bin/notebox", env.starter().started[0].program);
  EXPECT_EQ(kInvalidSetupNote, env.starter().started[0].arguments);
  ASSERT_EQ(1u, env.echoed().size());
  EXPECT_EQ("\r\nInvalid setup.\r\n Pls. uninstall and then install this software again.", env.echoed()[0]);
  EXPECT_TRUE(env.context().StopSequenceRan);
  EXPECT_TRUE(env.context().Server.Info.ServerStopping);
}

TEST(StartSequence, MissingLanguageFileIsAnInvalidSetupWithoutASessionLine) {
  ServerTestEnv env;
  env.Install(kLanguage);
  env.registry().SetString(kGlobalsKey, "LanguageFile", "absent.lng");
  EXPECT_FALSE(StartSequence(env.context()));
  ASSERT_EQ(1u, env.starter().started.size());
  EXPECT_EQ(env.install() + "bin/notebox", env.starter().started[0].program);
  EXPECT_EQ(kInvalidSetupNote, env.starter().started[0].arguments);
  // The failure itself is logged (the folder is known), but not a session start.
  EXPECT_EQ(std::string::npos, env.LogText().find("Session begins"));
}

class ErrorReporter : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Install(kLanguage);
    ASSERT_TRUE(StartSequence(env_.context()));
    env_.registry().SetString(kServerKey, "UpsDevice", "/dev/ttyS9");
    env_.context().Setup.ServerSetup.UpsDevice = "/dev/ttyS9";
    env_.context().Setup.ServerSetup.SrvListenPort = 5769;
    env_.starter().started.clear();
  }
  ServerTestEnv env_;
};

TEST_F(ErrorReporter, PortInUseIsShownAndLoggedAndStartUpGoesOn) {
  EXPECT_FALSE(server::ReportStartError(env_.context(), server::kErrorClientPortInUse));
  ASSERT_EQ(1u, env_.starter().started.size());
  EXPECT_EQ("\"/M:Port 5769 busy\" /I:16", env_.starter().started[0].arguments);
  EXPECT_NE(std::string::npos, env_.LogText().find("14:30:05  Port 5769 busy\r\n"));
  EXPECT_FALSE(env_.context().StopSequenceRan);
}

TEST_F(ErrorReporter, FatalErrorCarriesTheHeadingAndRunsTheStopSequence) {
  EXPECT_TRUE(server::ReportStartError(env_.context(), server::kErrorDeviceOpen));
  ASSERT_EQ(1u, env_.starter().started.size());
  EXPECT_EQ("\"/M:Cannot start\r\nDevice /dev/ttyS9 fails\" /I:16", env_.starter().started[0].arguments);
  EXPECT_NE(std::string::npos, env_.LogText().find("  Cannot start - Device /dev/ttyS9 fails\r\n"));
  EXPECT_TRUE(env_.context().StopSequenceRan);
}

TEST_F(ErrorReporter, SystemErrorCodesUseTheSystemTextAndAreFatal) {
  const std::string message = server::StartErrorMessage(env_.context(), 2);
  EXPECT_NE(std::string::npos, message.find(" (error code: 2)"));
  EXPECT_GT(message.size(), std::string(" (error code: 2)").size());
  EXPECT_TRUE(server::IsFatalStartError(2));
  EXPECT_FALSE(server::IsFatalStartError(server::kErrorSocketType));
  EXPECT_FALSE(server::IsFatalStartError(server::kErrorRemotePortInUse));
  EXPECT_TRUE(server::IsFatalStartError(server::kErrorModelDatabase));
}

TEST_F(ErrorReporter, ZeroReportsNothing) {
  EXPECT_FALSE(server::ReportStartError(env_.context(), 0));
  EXPECT_TRUE(env_.starter().started.empty());
}

TEST(CommandSwitches, AreRecognisedInAnyCaseAndAnythingElseIsNamedAndIgnoredUnlessUsageIsAsked) {
  using Action = server::CommandLine::Action;
  struct Case {
    std::vector<std::string> parameters;
    Action action;
    bool debug;
    bool service;
    bool drill;
    std::vector<std::string> ignored;
  };
  const Case cases[] = {
      {{}, Action::kRun, false, false, false, {}},
      {{"/srv", "/Debug"}, Action::kRun, true, true, false, {}},
      {{"/DEBUG"}, Action::kRun, true, false, false, {}},
      {{"/dRiLl"}, Action::kRun, false, false, true, {}},
      // Near misses are not taken for the switch they resemble; each is named as given.
      {{"/SRVX", "DEBUG", "/"}, Action::kRun, false, false, false, {"/SRVX", "DEBUG", "/"}},
      {{"DRILL", "/DRILLS"}, Action::kRun, false, false, false, {"DRILL", "/DRILLS"}},
      {{"/srv", "-x"}, Action::kRun, false, true, false, {"-x"}},
      {{""}, Action::kRun, false, false, false, {""}},
      // Usage wins wherever it stands, so it never starts a server or a drill; it carries nothing else.
      {{"-x", "--HELP"}, Action::kShowUsage, false, false, false, {}},
      {{"/srv", "-H"}, Action::kShowUsage, false, false, false, {}},
      {{"/DRILL", "/?", "/DEBUG"}, Action::kShowUsage, false, false, false, {}},
  };
  for (const Case& c : cases) {
    const server::CommandLine command = server::ParseCommandLine(c.parameters);
    const std::string label = ::testing::PrintToString(c.parameters);
    EXPECT_EQ(c.action, command.action) << label;
    EXPECT_EQ(c.debug, command.options.Debug) << label;
    EXPECT_EQ(c.service, command.options.ServiceMode) << label;
    EXPECT_EQ(c.drill, command.options.Drill) << label;
    EXPECT_EQ(c.ignored, command.ignored) << label;
  }
}

}  // namespace
}  // namespace keep::test
