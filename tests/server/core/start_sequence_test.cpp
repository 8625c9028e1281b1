#include <gtest/gtest.h>

#include "platform/serial_port.h"
#include "server/core/command_switches.h"
#include "server/core/error_codes.h"
#include "server/core/error_reporter.h"
#include "server/core/server_lifecycle.h"
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
  EXPECT_TRUE(env.context().Server.Info.ServerStarted);
  EXPECT_TRUE(env.context().Server.Info.UpsConnecting);
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

TEST(CommandSwitches, AreRecognisedInAnyCaseAndOtherParametersIgnored) {
  auto options = server::ParseSwitches({"/srv", "-x", "/Debug"});
  EXPECT_TRUE(options.Debug);
  EXPECT_TRUE(options.ServiceMode);
  options = server::ParseSwitches({"/SRVX", "DEBUG", "/"});
  EXPECT_FALSE(options.Debug);
  EXPECT_FALSE(options.ServiceMode);
}

}  // namespace
}  // namespace keep::test
