// The English texts shipped in dist/languages: every text the server reads is there, and each has
// exactly as many "$" as its caller fills.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/ini_file.h"
#include "server/services/language.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace keep::server {
namespace {

struct ExpectedText {
  const char* section;
  std::string key;
  int arguments;  // the number of "$" the caller fills
};

// Arguments of the events, which the event actions fill into both the log text and the message.
int EventArguments(int event) {
  switch (event) {
    case 0:  // UPS device, client port
      return 2;
    case 2:   // model name
    case 9:   // minutes to the shutdown
    case 11:  // minutes of warning of a scheduled shutdown
      return 1;
    default:
      return 0;
  }
}

std::vector<ExpectedText> LanguageFileTexts() {
  std::vector<ExpectedText> texts = {
      // Stop question of the terminal / status window: shown as it is.
      {"KEEPD", "StopServerQuest", 0},
      // Start sequence: the session line is written as it is, the scheduler name becomes the prefix
      // of other texts that are filled afterwards, so it must not hold a "$" of its own.
      {"LOGS", "NewSessionStart", 0},
      {"LOGS", "SchedulerName", 0},
      // Request completion: written as they are, or with the one result / minutes filled in.
      {"LOGS", "BatteryHistoryReset", 0},
      {"LOGS", "EventListReset", 0},
      {"LOGS", "BatteryTestImpossible", 0},
      {"LOGS", "BatteryTestExecuted", 1},  // "Ok", the BatteryToReplace text or the charge
      {"LOGS", "BatteryToReplace", 0},     // itself an argument of BatteryTestExecuted
      {"LOGS", "AutonomyTestStart", 0},
      {"LOGS", "AutonomyTestStop", 1},  // measured minutes
      {"LOGS", "AutonomyTestEnd", 1},   // measured minutes
      // Client requests: the autonomy test refusal as it is, the scheduler upload with the client's
      // address.
      {"LOGS", "AutonomyTestImpossible", 0},
      {"LOGS", "SchedulerNewFile", 1},
      {"LOGS", "SchedulerDeleteFile", 1},
      // Local shutdown from the scheduler: the restart date and time.
      {"LOGS", "SchedulerNoRestart", 0},
      {"LOGS", "SchedulerRestartDateTime", 2},
      // Remote commands: host, removed ("" filled), port, host, removed.
      {"LOGS", "RsCommandOk", 1},
      {"LOGS", "RsCommandKo", 1},
      {"LOGS", "RsTcpIpPortUsed", 1},
      {"LOGS", "RsHostNotFound", 1},
      {"LOGS", "RsTcpIpNotInstalled", 1},
      // Remote actions that cannot be tried: nothing, then host and port.
      {"LOGS", "RsNoHost", 0},
      {"LOGS", "RsBadPort", 2},
      // A restart delay cut to the UPS's field: the delay asked for, the one used.
      {"LOGS", "UpsRestartDelayLimited", 2},
      // Clients refused at the door: address, count; a setting that stops the server: name, value.
      {"LOGS", "ClientRefusedTooMany", 2},
      {"LOGS", "ClientRefusedAddress", 2},
      {"LOGS", "SetupValueInvalid", 2},
      // Error reporter: 100004 the UPS device, 100006 the client port, 100010 the remote shutdown
      // port; the heading 100001 and the others as they are.
      {"ERRORS", "100001", 0},
      {"ERRORS", "100002", 0},
      {"ERRORS", "100003", 0},
      {"ERRORS", "100004", 1},
      {"ERRORS", "100005", 0},
      {"ERRORS", "100006", 1},
      {"ERRORS", "100007", 0},
      {"ERRORS", "100008", 0},
      {"ERRORS", "100009", 0},
      {"ERRORS", "100010", 1},
  };
  // Event actions "$LOG" and "$MSLOG".
  for (int event = 0; event <= 21; ++event) texts.push_back({"LOGS", std::to_string(event), EventArguments(event)});
  return texts;
}

// Event actions "$POPUP", "$R_MSG" and "$EMAIL".
std::vector<ExpectedText> MessageFileTexts() {
  std::vector<ExpectedText> texts;
  for (int event = 0; event <= 21; ++event) {
    texts.push_back({"Messages", std::to_string(event), EventArguments(event)});
  }
  return texts;
}

int CountOf(const std::string& text, char mark) { return static_cast<int>(std::count(text.begin(), text.end(), mark)); }

// The keys of every "key=value" line of `section` (as written), and every line that is none of
// comment, blank, section header or entry.
struct FileLines {
  std::vector<std::string> keys;
  std::vector<std::string> stray;
};

FileLines ScanSection(const std::string& content, const std::string& section) {
  FileLines result;
  std::string current;
  size_t from = 0;
  while (from < content.size()) {
    size_t eol = content.find('\n', from);
    if (eol == std::string::npos) eol = content.size();
    std::string line = content.substr(from, eol - from);
    from = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
    } else if (line.find('=') == std::string::npos) {
      result.stray.push_back(line);
    } else if (current == section) {
      result.keys.push_back(line.substr(0, line.find('=')));
    }
  }
  return result;
}

class DistLanguageFilesTest : public ::testing::Test {
 protected:
  DistLanguageFilesTest() {
    setup_.LanguageFile = test::SourceFolder() + "/dist/languages/english.lng";
    language_ = test::ReadFileText(setup_.LanguageFile);
    messages_ = test::ReadFileText(MessageFilePath(setup_));
  }

  // Every expected text of `file` present, non-empty and with its number of "$"; and no key in the
  // checked sections that the server does not read.
  void CheckTexts(const std::string& file, const std::string& content, const std::vector<ExpectedText>& expected) {
    std::set<std::string> sections;
    for (const ExpectedText& text : expected) {
      sections.insert(text.section);
      const std::string value = ReadIniValue(file, text.section, text.key);
      EXPECT_FALSE(value.empty()) << text.section << "/" << text.key << " is missing or empty";
      EXPECT_EQ(CountOf(value, '$'), text.arguments) << text.section << "/" << text.key << ": " << value;
    }
    for (const std::string& section : sections) {
      const FileLines lines = ScanSection(content, section);
      EXPECT_TRUE(lines.stray.empty()) << "stray line: " << lines.stray.front();
      std::set<std::string> seen;
      for (const std::string& key : lines.keys) {
        const bool known = std::any_of(expected.begin(), expected.end(), [&](const ExpectedText& text) {
          return text.section == section && text.key == key;
        });
        EXPECT_TRUE(known) << section << "/" << key << " is not read by the server (or spelt differently)";
        EXPECT_TRUE(seen.insert(key).second) << section << "/" << key << " is there twice";
      }
    }
  }

  TSetupData setup_;
  std::string language_;
  std::string messages_;
};

TEST_F(DistLanguageFilesTest, LanguageFileHoldsEveryTextWithItsArguments) {
  ASSERT_FALSE(language_.empty()) << setup_.LanguageFile;
  CheckTexts(setup_.LanguageFile, language_, LanguageFileTexts());
}

TEST_F(DistLanguageFilesTest, MessageFileHoldsEveryEventMessageWithItsArguments) {
  ASSERT_FALSE(messages_.empty()) << MessageFilePath(setup_);
  CheckTexts(MessageFilePath(setup_), messages_, MessageFileTexts());
}

TEST_F(DistLanguageFilesTest, TextsOthersRelyOnAreKept) {
  EXPECT_EQ(LanguageText(setup_, "LOGS", "NewSessionStart"), "Powerkeep server started");
  EXPECT_EQ(LanguageText(setup_, "LOGS", "SchedulerName"), "SCHEDULER -");
  EXPECT_EQ(LanguageText(setup_, "KEEPD", "StopServerQuest"),
            "Stop the Powerkeep server? The UPS will no longer be watched.");
}

// Log lines and dialog texts are single lines, and only messages carry macros.
TEST_F(DistLanguageFilesTest, LanguageFileHasNoLineBreaksOrMacros) {
  for (const ExpectedText& text : LanguageFileTexts()) {
    const std::string value = LanguageText(setup_, text.section, text.key);
    EXPECT_EQ(CountOf(value, '^'), 0) << text.section << "/" << text.key;
    EXPECT_EQ(CountOf(value, '#'), 0) << text.section << "/" << text.key;
  }
}

TEST_F(DistLanguageFilesTest, MessagesUseOnlyKnownMacros) {
  MessageMacros macros;
  macros.Computer = [] { return std::string("C"); };
  macros.Location = [] { return std::string("L"); };
  macros.UpsName = [] { return std::string("U"); };
  macros.CommDevice = [] { return std::string("D"); };
  macros.TimeLeft = [] { return std::string("T"); };
  macros.ListenPort = [] { return std::string("P"); };
  macros.DownWarning = [] { return std::string("W"); };
  for (uint8_t event = 0; event <= 21; ++event) {
    const std::string raw = ReadIniValue(MessageFilePath(setup_), "Messages", std::to_string(event));
    const std::string expanded = MessageText(setup_, macros, event);
    EXPECT_EQ(expanded.find('#'), std::string::npos) << "unknown macro in message " << int{event} << ": " << raw;
  }
}

}  // namespace
}  // namespace keep::server
