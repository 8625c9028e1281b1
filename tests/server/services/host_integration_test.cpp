#include "server/services/host_integration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/dialogs.h"
#include "platform/process.h"
#include "tests/server/server_test_env.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace keep::test {
namespace {

namespace fs = std::filesystem;

// A context whose installation folder holds the companion programs (as empty files: the recording
// starter never runs them).
class HostIntegration : public ::testing::Test {
 protected:
  HostIntegration() {
    context().Setup.InstallPath = env_.install();
    WriteFileText(env_.install() + "bin/notebox", "");
    WriteFileText(env_.install() + "bin/VNoteBox", "");
  }
  server::ServerContext& context() { return env_.context(); }
  const std::vector<StartedProgram>& started() { return env_.starter().started; }

  ServerTestEnv env_;
};

TEST_F(HostIntegration, SessionNoteBoxGetsTheTimeoutMessageAndIconWords) {
  EXPECT_TRUE(server::ShowNoteBoxInSession(context(), "Mains failure on UPS-1", 48));
  ASSERT_EQ(1u, started().size());
  EXPECT_EQ(env_.install() + "bin/VNoteBox", started()[0].program);
  EXPECT_EQ("/T:0 \"/M:Mains failure on UPS-1\" /I:48", started()[0].arguments);
  EXPECT_FALSE(started()[0].options.wait);
  EXPECT_FALSE(started()[0].options.hidden);
}

TEST_F(HostIntegration, NoteBoxGetsMessageAndIconWithoutWaiting) {
  EXPECT_TRUE(server::ShowNoteBox(context(), "Low battery\r\nShutdown", 64));
  ASSERT_EQ(1u, started().size());
  EXPECT_EQ(env_.install() + "bin/notebox", started()[0].program);
  EXPECT_EQ("\"/M:Low battery\r\nShutdown\" /I:64", started()[0].arguments);
  EXPECT_FALSE(started()[0].options.wait);
  EXPECT_FALSE(started()[0].options.hidden);
}

TEST_F(HostIntegration, MissingSessionNoteBoxIsFalseAndStartsNothing) {
  fs::remove(env_.install() + "bin/VNoteBox");
  EXPECT_FALSE(server::ShowNoteBoxInSession(context(), "text", 16));
  EXPECT_TRUE(started().empty());
}

TEST_F(HostIntegration, AStarterFailureIsReportedAsFalse) {
  env_.starter().result = false;
  EXPECT_FALSE(server::ShowNoteBoxInSession(context(), "text", 16));
  EXPECT_EQ(1u, started().size());
}

TEST_F(HostIntegration, ShellStartTrimsTheArgumentsAndHidesOnShowStateZero) {
  const std::string program = env_.install() + "bin/notebox";
  EXPECT_TRUE(server::ShellStart(context(), server::kShowHidden, program, " \t-a:\"x y\" -z \r\n"));
  EXPECT_TRUE(server::ShellStart(context(), server::kShowDefault, program, "   "));
  ASSERT_EQ(2u, started().size());
  EXPECT_EQ("-a:\"x y\" -z", started()[0].arguments);
  EXPECT_TRUE(started()[0].options.hidden);
  EXPECT_FALSE(started()[0].options.wait);
  EXPECT_EQ("", started()[1].arguments);
  EXPECT_FALSE(started()[1].options.hidden);
}

TEST_F(HostIntegration, ProgramsThatAreNotFilesAreNeverStarted) {
  EXPECT_FALSE(server::ShellStart(context(), server::kShowDefault, env_.install() + "bin/absent", "x"));
  EXPECT_FALSE(server::ShellStart(context(), server::kShowDefault, env_.install() + "bin", "x"));
  EXPECT_FALSE(server::ShellStart(context(), server::kShowDefault, "", "x"));
  EXPECT_FALSE(server::StartForUser(context(), env_.install() + "bin/absent", "x", server::kShowDefault));
  EXPECT_TRUE(started().empty());
}

TEST_F(HostIntegration, StartForUserFallsBackToShellStartWithItsShowState) {
  const std::string program = env_.install() + "bin/notebox";
  // No console user's session exists here, so nothing is started in one.
  EXPECT_FALSE(server::StartInConsoleSession(context(), program, "x"));
  EXPECT_TRUE(started().empty());

  EXPECT_TRUE(server::StartForUser(context(), program, " /q ", server::kShowHidden));
  ASSERT_EQ(1u, started().size());
  EXPECT_EQ(program, started()[0].program);
  EXPECT_EQ("/q", started()[0].arguments);
  EXPECT_TRUE(started()[0].options.hidden);
}

TEST_F(HostIntegration, ErrorsGoThroughTheToolOrATaskModalBox) {
  server::ShowError(context(), "Port busy", true);
  ASSERT_EQ(1u, started().size());
  EXPECT_EQ("\"/M:Port busy\" /I:16", started()[0].arguments);
  EXPECT_TRUE(env_.dialogs().boxes.empty());

  server::ShowError(context(), "Port busy", false);
  ASSERT_EQ(1u, env_.dialogs().boxes.size());
  EXPECT_EQ("Voltrena", env_.dialogs().boxes[0].caption);
  EXPECT_EQ("Port busy", env_.dialogs().boxes[0].text);
  EXPECT_EQ(16 + 8192, env_.dialogs().boxes[0].flags);
  EXPECT_EQ(1u, started().size());
}

TEST_F(HostIntegration, MessageBoxesAreTaskModalOnce) {
  EXPECT_EQ(platform::kIdOk, server::ShowMessageBox(context(), "a", platform::kMbYesNoQuestion));
  server::ShowMessageBox(context(), "b", platform::kMbIconError | platform::kMbTaskModal);
  ASSERT_EQ(2u, env_.dialogs().boxes.size());
  EXPECT_EQ(36 + 8192, env_.dialogs().boxes[0].flags);
  EXPECT_EQ(16 + 8192, env_.dialogs().boxes[1].flags);
}

TEST_F(HostIntegration, QuestionsAskTheLanguageTextAndReturnTheAnswer) {
  const std::string language = env_.install() + "languages/test.lng";
  WriteFileText(language, "[KEEPD]\nStopServerQuest=Stop the UPS server?\n");

  EXPECT_FALSE(server::AskQuestion(context(), language, "keepd", "STOPSERVERQUEST"));
  env_.dialogs().answer_yes = true;
  EXPECT_TRUE(server::AskYesNo(context(), "Really?"));

  ASSERT_EQ(2u, env_.dialogs().questions.size());
  EXPECT_EQ("Voltrena", env_.dialogs().questions[0].caption);
  EXPECT_EQ("Stop the UPS server?", env_.dialogs().questions[0].text);
  EXPECT_EQ("Really?", env_.dialogs().questions[1].text);
}

TEST(HostServices, AreAbsentOnThisPlatform) {
  EXPECT_EQ(0u, server::ServiceState("Messenger"));
  EXPECT_FALSE(server::IsServiceRunning("Messenger"));
  EXPECT_FALSE(server::IsMessengerRunning());
  EXPECT_FALSE(server::SetServiceProcess(true));
  EXPECT_FALSE(server::SetServiceProcess(false));
}

TEST(NetSendRecipient, StarAddressesTheWholeWorkgroup) {
  EXPECT_EQ("W*", server::NetSendRecipient("*", "W"));
  EXPECT_EQ("OFFICE*", server::NetSendRecipient("*", "OFFICE"));
  EXPECT_EQ("PC7", server::NetSendRecipient("PC7", "OFFICE"));
  EXPECT_EQ("**", server::NetSendRecipient("**", "OFFICE"));
  // Everybody cannot be addressed without knowing the workgroup.
  EXPECT_EQ("", server::NetSendRecipient("*", ""));
}

// The shipped companion stand-ins, run for real with the words the server builds: they must record
// exactly those words and show the message to whoever watches standard error.
class CompanionStandIns : public ::testing::Test {
 protected:
  CompanionStandIns() {
    fs::copy(fs::path(SourceFolder()) / "dist" / "bin", dir_.path() / "bin", fs::copy_options::recursive);
    fs::create_directories(dir_.path() / "data");
    env_.context().Setup.InstallPath = dir_.path().string() + "/";
  }

  // Runs the program the recording starter saw, with its argument text split as the real starter
  // splits it; returns the program's standard error.
  std::string RunRecordedCall() {
    EXPECT_EQ(1u, env_.starter().started.size());
    if (env_.starter().started.empty()) return {};
    const StartedProgram& call = env_.starter().started[0];
    ChildProcess child(call.program, platform::SplitCommandLine(call.arguments), {}, dir_.path().string());
    EXPECT_TRUE(child.Started());
    EXPECT_EQ(0, child.WaitForExit(std::chrono::seconds(20)).value_or(-1));
    return child.StandardError();
  }
  std::string Calls() const { return ReadFileText(dir_.File("data/companion_calls.txt")); }

  TempDir dir_;
  ServerTestEnv env_;
};

TEST_F(CompanionStandIns, SessionNoteBoxRecordsItsWordsAndShowsTheMessage) {
  ASSERT_TRUE(server::ShowNoteBoxInSession(env_.context(), "UPS on battery, 5 min left", 48));
  const std::string shown = RunRecordedCall();
  EXPECT_EQ("--- VNoteBox\n/T:0\n/M:UPS on battery, 5 min left\n/I:48\n", Calls());
  EXPECT_NE(std::string::npos, shown.find("UPS on battery, 5 min left"));
}

TEST_F(CompanionStandIns, NoteBoxRecordsItsWordsAndShowsTheMessage) {
  ASSERT_TRUE(server::ShowNoteBox(env_.context(), "Overload", 16));
  const std::string shown = RunRecordedCall();
  EXPECT_EQ("--- notebox\n/M:Overload\n/I:16\n", Calls());
  EXPECT_NE(std::string::npos, shown.find("Overload"));
}

TEST_F(CompanionStandIns, MailStandInShowsSubjectAndBodyButNeverThePassword) {
  const std::string program = dir_.File("bin/mailout");
  ASSERT_TRUE(server::ShellStart(env_.context(), server::kShowHidden, program,
                                 " -a:\"smtp.example.org\" -w:\"s3cret\" -o:\"UPS alarm\" -b:\"Mains failure\" -z"));
  const std::string shown = RunRecordedCall();
  EXPECT_EQ("--- mailout\n-a:smtp.example.org\n-w:s3cret\n-o:UPS alarm\n-b:Mains failure\n-z\n", Calls());
  EXPECT_NE(std::string::npos, shown.find("UPS alarm - Mains failure"));
  EXPECT_EQ(std::string::npos, shown.find("s3cret"));
}

}  // namespace
}  // namespace keep::test
