// Request lines of the plain-text UPS network protocol, well-formed and not, through the parser.
#include "server/services/nut/nut_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace keep::server::nut {
namespace {

TEST(NutRequestTest, ParsesEveryRequestShapeWithItsWords) {
  const struct {
    std::string line;
    NutCommand command;
    std::vector<std::string> args;
  } cases[] = {
      {"VER", NutCommand::kVer, {}},
      {"netver", NutCommand::kNetVer, {}},
      {"PROTVER", NutCommand::kNetVer, {}},
      {"  HELP  ", NutCommand::kHelp, {}},
      {"StartTLS", NutCommand::kStartTls, {}},
      {"USERNAME monuser", NutCommand::kUsername, {"monuser"}},
      {"PASSWORD \"pass word\\\\with \\\"quotes\\\"\"", NutCommand::kPassword, {"pass word\\with \"quotes\""}},
      {"LOGIN Ups", NutCommand::kLogin, {"Ups"}},
      {"LOGOUT", NutCommand::kLogout, {}},
      {"LIST UPS", NutCommand::kListUps, {}},
      {"list var ups", NutCommand::kListVar, {"ups"}},
      {"LIST CMD ups", NutCommand::kListCmd, {"ups"}},
      {"LIST RW ups", NutCommand::kListRw, {"ups"}},
      {"LIST CLIENT ups", NutCommand::kListClient, {"ups"}},
      {"LIST ENUM ups ups.status", NutCommand::kListEnum, {"ups", "ups.status"}},
      {"LIST RANGE ups input.voltage", NutCommand::kListRange, {"ups", "input.voltage"}},
      {"GET VAR ups UPS.Status", NutCommand::kGetVar, {"ups", "UPS.Status"}},
      {"GET\tVAR \"ups\" battery.charge", NutCommand::kGetVar, {"ups", "battery.charge"}},
      {"GET TYPE ups ups.load", NutCommand::kGetType, {"ups", "ups.load"}},
      {"GET DESC ups ups.load", NutCommand::kGetDesc, {"ups", "ups.load"}},
      {"GET UPSDESC ups", NutCommand::kGetUpsDesc, {"ups"}},
      {"GET NUMLOGINS ups", NutCommand::kGetNumLogins, {"ups"}},
      {"GET CMDDESC ups beeper.toggle", NutCommand::kGetCmdDesc, {"ups", "beeper.toggle"}},
      {"SET VAR ups ups.delay.shutdown \"20\"", NutCommand::kSetVar, {"ups", "ups.delay.shutdown", "20"}},
      {"INSTCMD ups test.battery.start", NutCommand::kInstCmd, {"ups", "test.battery.start"}},
      {"INSTCMD ups load.off.delay 30", NutCommand::kInstCmd, {"ups", "load.off.delay", "30"}},
      {"FSD ups", NutCommand::kFsd, {"ups"}},
      // An empty quoted word is a word; quoted parts join the word they stand in.
      {"USERNAME \"\"", NutCommand::kUsername, {""}},
      {"USERNAME ab\"c d\"e", NutCommand::kUsername, {"abc de"}},
      // Bytes above ASCII pass through (UTF-8 names).
      {"USERNAME \xc3\xa9t\xc3\xa9", NutCommand::kUsername, {"\xc3\xa9t\xc3\xa9"}},
  };
  for (const auto& c : cases) {
    const NutParse parse = ParseNutRequest(c.line);
    ASSERT_TRUE(parse.ok) << c.line << ": " << parse.error;
    EXPECT_EQ(c.command, parse.request.command) << c.line;
    EXPECT_EQ(c.args, parse.request.args) << c.line;
  }
}

TEST(NutRequestTest, AnswersMalformedAndUnknownRequestsWithTheirErrorWord) {
  const struct {
    std::string line;
    std::string_view error;
  } cases[] = {
      {"", err::kUnknownCommand},
      {"   ", err::kUnknownCommand},
      {"FROB", err::kUnknownCommand},
      {"PRIMARY ups", err::kUnknownCommand},
      {"GET", err::kInvalidArgument},
      {"GET FOO ups", err::kInvalidArgument},
      {"LIST", err::kInvalidArgument},
      {"LIST VAR", err::kInvalidArgument},
      {"LIST VAR ups extra", err::kInvalidArgument},
      {"GET VAR ups", err::kInvalidArgument},
      {"VER now", err::kInvalidArgument},
      {"USERNAME", err::kInvalidArgument},
      {"USERNAME a b", err::kInvalidArgument},
      {"SET VAR ups x", err::kInvalidArgument},
      {"INSTCMD ups", err::kInvalidArgument},
      {"USERNAME \"open", err::kInvalidArgument},
      {"USERNAME trailing\\", err::kInvalidArgument},
      {"USERNAME \"a\\", err::kInvalidArgument},
      {std::string("USERNAME a\0b", 12), err::kInvalidArgument},
      {"GET VAR ups\x01 ups.status", err::kInvalidArgument},
      {"USERNAME a\x7f", err::kInvalidArgument},
      {"\xff\xfe\x80", err::kUnknownCommand},
      {"a b c d e f g h i", err::kInvalidArgument},  // more words than any request has
  };
  for (const auto& c : cases) {
    const NutParse parse = ParseNutRequest(c.line);
    EXPECT_FALSE(parse.ok) << c.line;
    EXPECT_EQ(c.error, parse.error) << c.line;
  }
}

TEST(NutRequestTest, AHugeLineOfWordsIsRefusedWithoutKeepingThem) {
  std::string line = "GET VAR";
  for (int i = 0; i < 10'000; ++i) line += " w";
  EXPECT_EQ(err::kInvalidArgument, ParseNutRequest(line).error);
  std::vector<std::string> words;
  EXPECT_FALSE(SplitNutWords(line, kMaxNutWords, words));
  EXPECT_LE(words.size(), kMaxNutWords);
}

}  // namespace
}  // namespace keep::server::nut
