// The event dispatcher on a test server: the configured lists, the order and choice of actions and
// the log lines they leave in the installation's log file.
#include "server/services/event_dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "common/scrambling.h"
#include "platform/platform_info.h"
#include "platform/process.h"
#include "platform/system_log.h"
#include "server/services/event_log.h"
#include "server/services/remote_command.h"
#include "tests/server/server_test_env.h"
#include "tests/support/loop_runner.h"
#include "tests/support/loopback_listener.h"

namespace keep::server {
namespace {

// The log line prefix of the test clock's moment.
constexpr char kStamp[] = "08/12/2026 14:30:05  ";

class EventDispatchTest : public ::testing::Test {
 protected:
  EventDispatchTest() {
    ServerContext& context = env_.context();
    context.Setup.InstallPath = env_.install();
    context.Setup.LanguageFile = env_.install() + "languages/test.lng";
    context.SchedulerPrefix = "Scheduler: ";
    test::WriteFileText(context.Setup.LanguageFile,
                        "[LOGS]\n"
                        "6=Mains failure\n"
                        "7=Mains back on $ after $ s^done\n"
                        "8=Low battery\n"
                        "10=Shutdown\n"
                        "11=Shutdown in $ min\n"
                        "SchedulerName=Scheduler\n");
  }

  void Configure(std::vector<TStringList> lists) { env_.context().Setup.UpsSetup.Events = std::move(lists); }
  bool Raise(uint8_t event, const TStringList& arguments = {}, bool pending = false) {
    return RaiseEvent(env_.context(), event, arguments, pending);
  }
  std::string Log() const { return env_.LogText(); }
  static std::string Line(const std::string& text) { return kStamp + text + "\r\n"; }

  test::ServerTestEnv env_;
};

TEST_F(EventDispatchTest, NothingConfiguredRunsNothingAndKeepsPending) {
  EXPECT_FALSE(Raise(6));
  EXPECT_TRUE(Raise(6, {}, true));
  // A list holding only its event number has no action either.
  Configure({{"6"}});
  EXPECT_FALSE(Raise(6));
  EXPECT_TRUE(Raise(6, {}, true));
  EXPECT_EQ(Log(), "");
}

TEST_F(EventDispatchTest, OnlyTheFirstListOfAnEventRuns) {
  Configure({{"8", "$LOG"}, {"6", "$LOG"}, {"6", "$LOG", "$LOG"}});
  Raise(6);
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ActionsOfTheListRunInOrderEachTime) {
  Configure({{"6", "$LOG", "$LOG"}, {"8", "$LOG"}});
  Raise(6);
  Raise(8);
  EXPECT_EQ(Log(), Line("Mains failure") + Line("Mains failure") + Line("Low battery"));
}

TEST_F(EventDispatchTest, UnknownOrMiscasedActionsAreSkippedAndTheRestStillRuns) {
  Configure({{"6", "$log", "$NOTHING,a,b", "", "$LOG", "LOG"}});
  EXPECT_FALSE(Raise(6));
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ActionFieldsAfterTheNameDoNotStopTheLogAction) {
  Configure({{"6", "$LOG,surplus,fields"}});
  Raise(6);
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ListsWhoseNumberIsNotTheEventNeverMatch) {
  // 262 would be 6 if the number were cut to a byte; -6 is not 6; text is no number at all.
  Configure({{"262", "$LOG"}, {"six", "$LOG"}, {"6x", "$LOG"}, {"-6", "$LOG"}, {"", "$LOG"}});
  Raise(6);
  EXPECT_EQ(Log(), "");
  Configure({{"six", "$LOG"}, {"06", "$LOG"}});
  Raise(6);
  EXPECT_EQ(Log(), Line("Mains failure"));
}

TEST_F(EventDispatchTest, ArgumentsFillThePlaceholdersInOrderAndCaretsBreakTheLine) {
  Configure({{"7", "$LOG"}});
  Raise(7, {"R", "42"});
  EXPECT_EQ(Log(), Line("Mains back on R after 42 s\rdone"));
}

TEST_F(EventDispatchTest, WithoutArgumentsOnlyTheLineBreaksChange) {
  Configure({{"7", "$LOG"}});
  Raise(7);
  EXPECT_EQ(Log(), Line("Mains back on $ after $ s\rdone"));
}

TEST_F(EventDispatchTest, AMissingLogTextStillWritesTheLine) {
  Configure({{"13", "$LOG"}});
  Raise(13);
  EXPECT_EQ(Log(), Line(""));
}

TEST_F(EventDispatchTest, ScheduledShutdownLinesBeginWithTheSchedulerPrefix) {
  Configure({{"10", "$LOG"}, {"11", "$LOG"}});
  env_.context().Server.ScheduledShutdownDue = true;
  Raise(10);
  Raise(11, {"5"});
  EXPECT_EQ(Log(), Line("Scheduler: Shutdown") + Line("Scheduler: Shutdown in 5 min"));
}

TEST_F(EventDispatchTest, AShutdownWarningDueAlsoMarksTheLines) {
  Configure({{"10", "$LOG"}, {"11", "$LOG"}});
  env_.context().Server.ShutdownWarningDue = true;
  Raise(11, {"5"});
  Raise(10);
  EXPECT_EQ(Log(), Line("Scheduler: Shutdown in 5 min") + Line("Scheduler: Shutdown"));
}

TEST_F(EventDispatchTest, OtherShutdownsAndOtherEventsCarryNoPrefix) {
  Configure({{"10", "$LOG"}, {"6", "$LOG"}});
  Raise(10);
  env_.context().Server.ScheduledShutdownDue = true;
  env_.context().Server.ShutdownWarningDue = true;
  Raise(6);
  EXPECT_EQ(Log(), Line("Shutdown") + Line("Mains failure"));
}

TEST_F(EventDispatchTest, ThePrefixIsNotTakenForAPlaceholder) {
  // The prefix goes in before the arguments are filled, so a "$" in it takes the first argument.
  env_.context().SchedulerPrefix = "Plan $: ";
  env_.context().Server.ScheduledShutdownDue = true;
  Configure({{"11", "$LOG"}});
  Raise(11, {"A", "5"});
  EXPECT_EQ(Log(), Line("Plan A: Shutdown in 5 min"));
}

TEST_F(EventDispatchTest, LogActionFollowsTheLogSwitch) {
  Configure({{"6", "$LOG"}});
  env_.context().Setup.RecordingSetup.LogEnabled = false;
  Raise(6);
  EXPECT_EQ(Log(), "");
}

// The actions that reach people and programs: the companion programs are installed (as empty
// files, the recording starter never runs them) and every start is recorded.
class EventActionsTest : public EventDispatchTest {
 protected:
  EventActionsTest() {
    ServerContext& context = env_.context();
    context.IsVistaOrLater = true;
    context.Ups.Info.ModelName = "LineGuard";
    test::WriteFileText(env_.install() + "languages/test.msg",
                        "[Messages]\n"
                        "6=Power failure on #COMPUTER# (#UPSNAME#), $ min left^Act now\n"
                        "9=Shutdown in $ minutes\n"
                        "10=Shutting down\n");
    for (const char* program : {"bin/VNoteBox", "bin/notebox", "bin/mailout", "script/system/lcldown.sh"}) {
      std::filesystem::create_directories(std::filesystem::path(env_.install() + program).parent_path());
      test::WriteFileText(env_.install() + program, "");
    }
  }

  const std::vector<test::StartedProgram>& Started() { return env_.starter().started; }
  std::string Program(const char* relative) const { return env_.install() + relative; }
};

TEST_F(EventActionsTest, PopupShowsTheFilledMessageInTheUsersSessionWithoutATimeStamp) {
  Configure({{"6", "$POPUP"}});
  Raise(6, {"12"});
  ASSERT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].program, Program("bin/VNoteBox"));
  EXPECT_EQ(Started()[0].arguments,
            "/T:0 \"/M:Power failure on " + platform::ComputerName() + " (LineGuard), 12 min left\rAct now\" /I:48");
}

TEST_F(EventActionsTest, PopupIconsSayWhetherTheEventAsksForAttention) {
  const std::vector<int> warnings{3, 4, 6, 8, 9, 12, 14, 16, 18, 20};
  std::vector<TStringList> lists;
  for (int event = 0; event <= 23; ++event) lists.push_back({std::to_string(event), "$POPUP"});
  Configure(lists);
  for (int event = 0; event <= 23; ++event) Raise(static_cast<uint8_t>(event));
  ASSERT_EQ(Started().size(), 24u);
  for (int event = 0; event <= 23; ++event) {
    const bool warning = std::find(warnings.begin(), warnings.end(), event) != warnings.end();
    const std::string icon = event > 21 ? "0" : warning ? "48" : "64";
    const std::string& arguments = Started()[static_cast<size_t>(event)].arguments;
    EXPECT_EQ(arguments.substr(arguments.rfind(" /I:")), " /I:" + icon) << "event " << event;
  }
}

TEST_F(EventActionsTest, PopupOnOlderSystemsIsStampedAndShownByThePlainNoteBox) {
  env_.context().IsVistaOrLater = false;
  Configure({{"10", "$POPUP,*"}});
  Raise(10);
  ASSERT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].program, Program("bin/notebox"));
  EXPECT_EQ(Started()[0].arguments, "\"/M:08/12/2026 14:30:05\r\n\r\nShutting down\" /I:64");
}

TEST_F(EventActionsTest, AMissingMessageStillShowsAnEmptyPopup) {
  std::filesystem::remove(env_.install() + "languages/test.msg");
  Configure({{"6", "$POPUP"}});
  Raise(6, {"12"});
  ASSERT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].arguments, "/T:0 \"/M:\" /I:48");
}

TEST_F(EventActionsTest, LocalProgramStartsWithoutArgumentsAndWithoutWaiting) {
  const std::string tool = Program("bin/notebox");
  Configure({{"7", "$L_SHELL," + tool}, {"8", "$L_SHELL"}});
  Raise(7);
  env_.context().IsVistaOrLater = false;
  Raise(7);
  // Without a path there is nothing to start.
  Raise(8);
  ASSERT_EQ(Started().size(), 2u);
  for (const test::StartedProgram& started : Started()) {
    EXPECT_EQ(started.program, tool);
    EXPECT_EQ(started.arguments, "");
    EXPECT_FALSE(started.options.wait);
    EXPECT_FALSE(started.options.hidden);
  }
}

class EmailActionTest : public EventActionsTest {
 protected:
  EmailActionTest() {
    TEmailSetup& email = env_.context().Setup.EmailSetup;
    email.EmailServer = "mail.example.org";
    email.EmailPort = 587;
    email.EmailSender = "ups@example.org";
    email.EmailLogin = "keeper";
    email.EmailPassword = "pa$s^word";
    Configure({{"9", "$EMAIL,ops@example.org"}, {"8", "$EMAIL"}});
  }

  // The words the mail program receives.
  std::vector<std::string> Words() {
    EXPECT_EQ(Started().size(), 1u);
    if (Started().size() != 1) return {};
    EXPECT_EQ(Started()[0].program, Program("bin/mailout"));
    return platform::SplitCommandLine(Started()[0].arguments);
  }
};

TEST_F(EmailActionTest, WithoutLoginTheMailProgramGetsServerSenderRecipientSubjectAndStampedMessage) {
  Raise(9, {"7"});
  EXPECT_EQ(Words(),
            (std::vector<std::string>{"-a:mail.example.org", "-p:587", "-s:ups@example.org", "-r:ops@example.org",
                                      "-o:Voltrena", "-b:08/12/2026 14:30:05 - Shutdown in 7 minutes", "-z"}));
}

TEST_F(EmailActionTest, WithLoginTheCredentialsTravelUntouchedByTheEventArguments) {
  env_.context().Setup.EmailSetup.EmailUseAuth = true;
  Raise(9, {"7"});
  EXPECT_EQ(Words(), (std::vector<std::string>{"-a:mail.example.org", "-p:587", "-l:keeper", "-w:pa$s^word",
                                               "-s:ups@example.org", "-r:ops@example.org", "-o:Voltrena",
                                               "-b:08/12/2026 14:30:05 - Shutdown in 7 minutes", "-z"}));
}

TEST_F(EmailActionTest, WithoutARecipientNoMailIsSent) {
  Raise(8);
  EXPECT_TRUE(Started().empty());
}

// What the system log of services receives.
class RecordingSystemLog final : public platform::SystemLog {
 public:
  explicit RecordingSystemLog(std::vector<std::pair<Severity, std::string>>& entries) : entries_(entries) {}
  void Write(Severity severity, std::string_view text) override { entries_.emplace_back(severity, text); }

 private:
  std::vector<std::pair<Severity, std::string>>& entries_;
};

class SystemLogActionTest : public EventDispatchTest {
 protected:
  using Severity = platform::SystemLog::Severity;

  SystemLogActionTest() {
    ServerContext& context = env_.context();
    context.EventLog = std::make_unique<TNTEventLog>(
        env_.registry(), [this](const std::string&) { return std::make_unique<RecordingSystemLog>(entries_); });
    EXPECT_TRUE(context.EventLog->Register("/opt/keep/bin/keepd", nullptr));
    context.Server.Info.EventLogReady = true;
  }

  std::vector<std::pair<Severity, std::string>> entries_;
};

TEST_F(SystemLogActionTest, SeverityFieldChoosesInformationWarningOrErrorOfTheFilledLogText) {
  Configure({{"7", "$MSLOG,0", "$MSLOG,1", "$MSLOG,2"}});
  Raise(7, {"R", "42"});
  const std::string text = "Mains back on R after 42 s\rdone";
  EXPECT_EQ(entries_, (std::vector<std::pair<Severity, std::string>>{
                          {Severity::kInformation, text}, {Severity::kWarning, text}, {Severity::kError, text}}));
  // The log file is a different action.
  EXPECT_EQ(Log(), "");
}

TEST_F(SystemLogActionTest, AnyOtherSeverityWritesNothing) {
  Configure({{"6", "$MSLOG", "$MSLOG,3", "$MSLOG,01", "$MSLOG,-1", "$MSLOG,warning"}});
  Raise(6);
  EXPECT_TRUE(entries_.empty());
}

TEST_F(SystemLogActionTest, NothingIsWrittenBeforeTheLogIsReady) {
  env_.context().Server.Info.EventLogReady = false;
  Configure({{"6", "$MSLOG,1"}});
  Raise(6);
  EXPECT_TRUE(entries_.empty());
  // Ready but without a writer: still nothing, and no crash.
  env_.context().Server.Info.EventLogReady = true;
  env_.context().EventLog.reset();
  Raise(6);
  EXPECT_TRUE(entries_.empty());
}

class ShutdownActionTest : public EventActionsTest {
 protected:
  ShutdownActionTest() {
    TUpsSetup& ups = env_.context().Setup.UpsSetup;
    ups.UpsOffEnabled = true;
    ups.UpsOffDelay = 180;
    ups.UpsOnEnabled = true;
    ups.UpsOnDelay = 60;
  }
  const TStringList& Queued() { return env_.context().Requests.Items(); }
};

TEST_F(ShutdownActionTest, OnTheShutdownEventItSwitchesTheUpsOffAndRunsTheScript) {
  Configure({{"10", "$SHUTDOWN"}});
  EXPECT_FALSE(Raise(10));
  EXPECT_TRUE(env_.context().Server.ShutdownActive);
  EXPECT_EQ(Queued(), (TStringList{"@|<|002|180|60|>"}));
  ASSERT_EQ(Started().size(), 1u);
  EXPECT_EQ(Started()[0].program, Program("script/system/lcldown.sh"));
  EXPECT_EQ(Started()[0].arguments, "");
  EXPECT_TRUE(Started()[0].options.hidden) << "the script runs without a window";
}

TEST_F(ShutdownActionTest, AListNamingItTwiceStillShutsDownOnce) {
  Configure({{"10", "$SHUTDOWN", "$LOG", "$SHUTDOWN"}});
  Raise(10);
  EXPECT_EQ(Queued().size(), 1u);
  EXPECT_EQ(Started().size(), 1u);
}

TEST_F(ShutdownActionTest, OnAnyOtherEventItOnlyAsksForTheShutdownEvent) {
  Configure({{"8", "$SHUTDOWN"}});
  EXPECT_TRUE(Raise(8));
  EXPECT_FALSE(env_.context().Server.ShutdownActive);
  EXPECT_TRUE(Queued().empty());
  EXPECT_TRUE(Started().empty());
}

TEST_F(ShutdownActionTest, DoesNothingWhileShutdownsAreDisabled) {
  env_.context().Setup.ServerSetup.SrvDownEnabled = false;
  Configure({{"8", "$SHUTDOWN"}, {"10", "$SHUTDOWN"}});
  EXPECT_FALSE(Raise(8));
  EXPECT_FALSE(Raise(10));
  EXPECT_FALSE(env_.context().Server.ShutdownActive);
  EXPECT_TRUE(Queued().empty());
  EXPECT_TRUE(Started().empty());
}

TEST_F(ShutdownActionTest, ShutdownEventThatOnlyLogsShutsNothingDown) {
  Configure({{"10", "$LOG"}});
  Raise(10);
  EXPECT_EQ(Log(), Line("Shutdown"));
  EXPECT_FALSE(env_.context().Server.ShutdownActive);
  EXPECT_TRUE(Queued().empty());
  EXPECT_TRUE(Started().empty());
}

// The remote actions against a listener that plays the agent on another computer.
class RemoteActionTest : public EventActionsTest {
 protected:
  RemoteActionTest() {
    env_.context().Remote = std::make_unique<RemoteCommands>(env_.context());
    port_ = std::to_string(agent_.Port());
  }
  ~RemoteActionTest() override { env_.context().Remote.reset(); }

  // Greets the next connection and returns the command it then sends, unscrambled.
  std::string Exchange() {
    if (!agent_.Accept()) return "(no connection)";
    agent_.Write(ScrambleText("<|ok|>") + "\r\n");
    std::string line;
    while (line.empty() || line.back() != '\n') {
      const std::string piece = agent_.Read(1);
      if (piece.empty()) break;
      line += piece;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return UnscrambleText(line);
  }

  bool Idle() {
    return test::RunLoopUntil(
        env_.loop(), [this] { return env_.context().Remote->InFlight() == 0; }, std::chrono::milliseconds(10000));
  }

  test::LoopbackListener agent_;
  std::string port_;
};

TEST_F(RemoteActionTest, ShutdownAndCommandActionsSendTheirKindsWithoutText) {
  ASSERT_TRUE(agent_.Ok());
  const std::vector<std::pair<std::string, uint8_t>> actions{
      {"$R_SHUT", 0}, {"$R_SHELL_1", 2}, {"$R_SHELL_2", 3}, {"$R_SHELL_3", 4}};
  for (const auto& [action, kind] : actions) {
    Configure({{"6", action + ",127.0.0.1," + port_}});
    Raise(6);
    EXPECT_EQ(Exchange(), RemoteCommandFrame(kind, "")) << action;
    ASSERT_TRUE(Idle());
  }
}

TEST_F(RemoteActionTest, MessageActionAlwaysCarriesTheTimeStamp) {
  ASSERT_TRUE(agent_.Ok());
  Configure({{"9", "$R_MSG,127.0.0.1," + port_}});
  Raise(9, {"4"});
  EXPECT_EQ(Exchange(), RemoteCommandFrame(1, "08/12/2026 14:30:05\r\n\r\nShutdown in 4 minutes"));
  ASSERT_TRUE(Idle());
}

TEST_F(RemoteActionTest, ARemoteActionWithoutHostAndPortIsOneLogLineAndNoConnection) {
  ASSERT_TRUE(agent_.Ok());
  Configure({{"6", "$R_SHUT"}});
  Raise(6);
  ASSERT_TRUE(Idle());
  ASSERT_TRUE(test::RunLoopUntil(
      env_.loop(), [this] { return !Log().empty(); }, std::chrono::milliseconds(5000)));
  const std::string log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("  RS - "), std::string::npos) << log;
  EXPECT_FALSE(agent_.Pending());
}

}  // namespace
}  // namespace keep::server
