#include "server/services/language.h"

#include <gtest/gtest.h>

#include <string>

#include "server/services/message_macros.h"
#include "tests/support/temp_folder_test.h"

namespace keep::server {
namespace {

TEST(MessageFilePathTest, ReplacesOnlyTheExtensionOfTheFileName) {
  TSetupData setup;
  setup.LanguageFile = "/opt/keep/languages/english.lng";
  EXPECT_EQ(MessageFilePath(setup), "/opt/keep/languages/english.msg");
  setup.LanguageFile = "/opt/keep/languages/english.v2.lng";
  EXPECT_EQ(MessageFilePath(setup), "/opt/keep/languages/english.v2.msg");
  setup.LanguageFile = "/opt/keep/languages/english";
  EXPECT_EQ(MessageFilePath(setup), "/opt/keep/languages/english.msg");
  // A dot in a folder name is not an extension.
  setup.LanguageFile = "/opt/keep.d/languages/english";
  EXPECT_EQ(MessageFilePath(setup), "/opt/keep.d/languages/english.msg");
  setup.LanguageFile = "";
  EXPECT_EQ(MessageFilePath(setup), "");
}

// The message file is "texts.msg" beside the language file "texts.lng" in a fresh folder.
class LanguageTextsTest : public test::TempFolderTest {
 protected:
  LanguageTextsTest() { setup_.LanguageFile = PathOf("texts.lng"); }

  void WriteMessage(std::string_view text) { WriteFile("texts.msg", "[Messages]\n6=" + std::string(text) + "\n"); }
  std::string Message() { return MessageText(setup_, macros_, 6); }

  TSetupData setup_;
  MessageMacros macros_;
};

TEST_F(LanguageTextsTest, ComputerAndModelNameAreFilledIn) {
  macros_ = BasicMessageMacros(
      setup_, [] { return std::string("host1"); }, [] { return std::string("X"); }, {});
  WriteMessage("Power failure on #COMPUTER# (#UPSNAME#)");
  EXPECT_EQ(Message(), "Power failure on HOST1 (X)");
}

TEST_F(LanguageTextsTest, MisspeltOrLowerCaseMacrosStayAsWritten) {
  int calls = 0;
  macros_.TimeLeft = [&] {
    ++calls;
    return std::string("7");
  };
  WriteMessage("Left: #timeleft#, #TIMELEFT, TIMELEFT#, # TIMELEFT #");
  EXPECT_EQ(Message(), "Left: #timeleft#, #TIMELEFT, TIMELEFT#, # TIMELEFT #");
  EXPECT_EQ(calls, 0);
}

TEST_F(LanguageTextsTest, PlaceholdersAndLineBreaksAreLeftForTheCaller) {
  int calls = 0;
  macros_.Computer = [&] {
    ++calls;
    return std::string("HOST");
  };
  WriteMessage("Shutdown in $ minutes^on $");
  EXPECT_EQ(Message(), "Shutdown in $ minutes^on $");
  WriteMessage("#COMPUTER#: shutdown in $ minutes^");
  EXPECT_EQ(Message(), "HOST: shutdown in $ minutes^");
  EXPECT_EQ(calls, 1);
}

TEST_F(LanguageTextsTest, EveryOccurrenceIsReplacedWithOneValueComputedOnce) {
  int calls = 0;
  macros_.TimeLeft = [&] { return std::to_string(++calls); };
  WriteMessage("#TIMELEFT##TIMELEFT# and #TIMELEFT#");
  EXPECT_EQ(Message(), "11 and 1");
  // Computed afresh for every message, so it shows the value of that moment.
  EXPECT_EQ(Message(), "22 and 2");
}

TEST_F(LanguageTextsTest, OnlyMacrosLaterInTheOrderAreExpandedInsideValues) {
  macros_.Computer = [] { return std::string("[#UPSNAME#]"); };  // later than #COMPUTER#
  macros_.UpsName = [] { return std::string("UPS-1"); };
  macros_.ListenPort = [] { return std::string("{#COMMDEVICE#}"); };  // earlier than #LISTENPORT#
  macros_.CommDevice = [] { return std::string("/dev/ttyS0"); };
  WriteMessage("#COMPUTER# #LISTENPORT#");
  EXPECT_EQ(Message(), "[UPS-1] {#COMMDEVICE#}");
  // A value that holds its own macro does not recurse.
  macros_.Location = [] { return std::string("#LOCATION##LOCATION#"); };
  WriteMessage("at #LOCATION#.");
  EXPECT_EQ(Message(), "at #LOCATION##LOCATION#.");
}

TEST_F(LanguageTextsTest, MacroWithoutProviderBecomesEmpty) {
  WriteMessage("[#COMPUTER#|#LOCATION#|#UPSNAME#|#COMMDEVICE#|#TIMELEFT#|#LISTENPORT#|#DOWNWARNING#]");
  EXPECT_EQ(Message(), "[||||||]");
}

TEST_F(LanguageTextsTest, HugeMacroValuesAreCut) {
  macros_.Location = [] { return std::string(1024 * 1024, 'L'); };
  WriteMessage("a #LOCATION# #LOCATION#");
  const std::string message = Message();
  ASSERT_EQ(message.size(), kMaxMessageLength);
  EXPECT_EQ(message.substr(0, 3), "a L");
  EXPECT_EQ(message.find_first_not_of('L', 2), std::string::npos);
}

TEST_F(LanguageTextsTest, MissingMessageFileGivesEmptyMessagesWhileLogTextsWork) {
  WriteFile("texts.lng", "[LOGS]\n6=Mains failure\n");
  macros_.Computer = [] { return std::string("HOST"); };
  EXPECT_EQ(MessageText(setup_, macros_, 6), "");
  EXPECT_EQ(LogText(setup_, 6), "Mains failure");
}

TEST_F(LanguageTextsTest, SectionsAndKeysAreFoundWhateverTheirCase) {
  WriteFile("texts.lng", "[logs]\n21=fault cleared\nnewsessionstart=started\n[Keepd]\nSTOPSERVERQUEST=Stop?\n");
  WriteFile("texts.msg", "[MESSAGES]\n21=cleared on #COMPUTER#\n");
  macros_.Computer = [] { return std::string("HOST"); };
  EXPECT_EQ(LogText(setup_, 21), "fault cleared");
  EXPECT_EQ(LanguageText(setup_, "LOGS", "NewSessionStart"), "started");
  EXPECT_EQ(LanguageText(setup_, "KEEPD", "StopServerQuest"), "Stop?");
  EXPECT_EQ(MessageText(setup_, macros_, 21), "cleared on HOST");
}

TEST_F(LanguageTextsTest, LogTextsKeepTheirMacros) {
  WriteFile("texts.lng", "[LOGS]\n0=#COMPUTER# started on $\n");
  WriteFile("texts.msg", "[Messages]\n0=#COMPUTER# started on $\n");
  macros_.Computer = [] { return std::string("HOST"); };
  EXPECT_EQ(LogText(setup_, 0), "#COMPUTER# started on $");
  EXPECT_EQ(MessageText(setup_, macros_, 0), "HOST started on $");
}

TEST_F(LanguageTextsTest, NoLanguageFileGivesEmptyTexts) {
  WriteFile(".msg", "[Messages]\n6=found in the working folder\n");
  setup_.LanguageFile.clear();
  EXPECT_EQ(MessageText(setup_, macros_, 6), "");
  EXPECT_EQ(LogText(setup_, 6), "");
}

TEST(BasicMessageMacrosTest, SettingsGiveTheirMacrosAtExpansionTime) {
  TSetupData setup;
  setup.ServerSetup.SrvLocation = "Server room 2";
  setup.ServerSetup.UpsDevice = "/dev/ttyUSB0";
  setup.ServerSetup.UpsNetCardAddress = "192.0.2.7";
  setup.ServerSetup.SrvListenPort = 5770;
  setup.ServerSetup.SrvDownWarningTime = 179;
  const MessageMacros macros = BasicMessageMacros(
      setup, [] { return std::string("mixed-Case.host"); }, [] { return std::string("Model x"); },
      [] { return std::string("4"); });
  EXPECT_EQ(macros.Computer(), "MIXED-CASE.HOST");
  EXPECT_EQ(macros.UpsName(), "Model x");
  EXPECT_EQ(macros.TimeLeft(), "4");
  EXPECT_EQ(macros.Location(), "Server room 2");
  EXPECT_EQ(macros.ListenPort(), "5770");
  EXPECT_EQ(macros.DownWarning(), "2");  // whole minutes, cut
  EXPECT_EQ(macros.CommDevice(), "/dev/ttyUSB0");
  setup.ServerSetup.UpsManType = 1;  // USB HID: still the device setting
  EXPECT_EQ(macros.CommDevice(), "/dev/ttyUSB0");
  setup.ServerSetup.UpsManType = 2;  // network adapter
  EXPECT_EQ(macros.CommDevice(), "192.0.2.7");
}

TEST(BasicMessageMacrosTest, MissingCallerFunctionsGiveEmptyTexts) {
  TSetupData setup;
  const MessageMacros macros = BasicMessageMacros(setup, {}, {}, {});
  EXPECT_EQ(macros.Computer(), "");
  EXPECT_FALSE(macros.UpsName);
  EXPECT_FALSE(macros.TimeLeft);
  EXPECT_EQ(macros.DownWarning(), "5");  // the default 300 s
  EXPECT_EQ(macros.ListenPort(), "5769");
}

}  // namespace
}  // namespace keep::server
