#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text_lists.h"
#include "tools/upssim/line_splitter.h"
#include "tools/upssim/megatec_sim.h"
#include "tools/upssim/sim_control.h"
#include "tools/upssim/sim_options.h"

namespace keep::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// A variant 3 UPS driven through the control language, asked for its status over the link.
class SimControlTest : public ::testing::Test {
 protected:
  SimControlTest() : simulator_(CreateSimProtocol(3), DefaultSimState(3)) {}

  std::string Run(std::string_view line, bool droppable = false) {
    reply_ = ExecuteControl(line, simulator_, ControlContext{now_ms_, droppable});
    return reply_.text;
  }
  // The status answer the link would get now, split into its 8 fields.
  TStringList Answer() {
    simulator_.OnLinkBytes("Q1\r", now_ms_);
    const std::string answer = simulator_.TakeDue(now_ms_);
    TStringList fields;
    if (answer.size() > 2) SplitText(' ', answer.substr(1, answer.size() - 2), fields, true);
    return fields;
  }

  Simulator simulator_;
  ControlReply reply_;
  int64_t now_ms_ = 0;
};

TEST_F(SimControlTest, PowerAndFlagCommandsChangeTheStatusBitsOfTheNextAnswer) {
  EXPECT_EQ(Run("set battery"), "OK\n");
  EXPECT_EQ(Answer()[7], "10000001");
  EXPECT_EQ(Run("set lowbattery"), "OK\n");
  EXPECT_EQ(Answer()[7], "11000001");
  EXPECT_EQ(Run("SET Bypass"), "OK\n");
  EXPECT_EQ(Answer()[7], "00100001");
  Run("set mains");
  for (const char* line : {"set failed on", "set standby on", "set beeper off", "set test on", "set shutdown on"}) {
    EXPECT_EQ(Run(line), "OK\n") << line;
  }
  EXPECT_EQ(Answer()[7], "00011110");
  Run("set test off");
  Run("set shutdown off");
  Run("set failed off");
  EXPECT_EQ(Answer()[7], "00001000");
}

TEST_F(SimControlTest, TestOffAlsoEndsATimedTest) {
  simulator_.OnLinkBytes("T\r", now_ms_);
  EXPECT_EQ(Answer()[7], "00000101");
  Run("set test off");
  EXPECT_EQ(Answer()[7], "00000001");
}

TEST_F(SimControlTest, ReadingsAppearInTheirFields) {
  for (const char* line : {"set vin 210.5", "set vfault 180", "set vout 220.1", "set load 101", "set freq 59.9",
                           "set vbat 2.05", "set temp -12.5"}) {
    EXPECT_EQ(Run(line), "OK\n") << line;
  }
  EXPECT_THAT(Answer(), ElementsAre("210.5", "180.0", "220.1", "101", "59.9", "2.05", "-12.5", "00000001"));
  EXPECT_EQ(Run("set vnom 36"), "OK\n");
  simulator_.OnLinkBytes("F\r", now_ms_);
  EXPECT_EQ(simulator_.TakeDue(now_ms_), "#230.0 003 36.00 50.0\r");
}

TEST_F(SimControlTest, ValuesOutOfRangeOrMalformedAreRefusedAndChangeNothing) {
  const std::vector<std::string> refused = {"set load 1000",   "set load 4.5", "set load -1",   "set vin 1000",
                                            "set vin -0.1",    "set freq 1e2", "set vbat abc",  "set temp -100",
                                            "set failed yes",  "set test 1",   "set load",      "set load 1 2",
                                            "set battery now", "set",          "set colour red"};
  const TStringList before = Answer();
  for (const std::string& line : refused) {
    EXPECT_THAT(Run(line), StartsWith("ERR ")) << line;
    EXPECT_EQ(reply_.text.back(), '\n');
    EXPECT_EQ(reply_.text.find('\n'), reply_.text.size() - 1) << line;
  }
  EXPECT_EQ(Answer(), before);
  EXPECT_EQ(Run("set load 4.5"), "ERR load must be a whole number from 0 to 999\n");
  EXPECT_EQ(Run("set colour red"), "ERR unknown setting \"colour\"\n");
}

TEST_F(SimControlTest, FaultCommandsSetTheLinkFaults) {
  EXPECT_EQ(Run("fault silent on"), "OK\n");
  EXPECT_EQ(Run("fault garbage on"), "OK\n");
  EXPECT_EQ(Run("fault split 3"), "OK\n");
  EXPECT_EQ(Run("fault delay 250"), "OK\n");
  const LinkFaults& faults = simulator_.Faults();
  EXPECT_TRUE(faults.silent);
  EXPECT_TRUE(faults.garbage);
  EXPECT_EQ(faults.split_pieces, 3);
  EXPECT_EQ(faults.split_gap_ms, 100);
  EXPECT_EQ(faults.delay_ms, 250);
  EXPECT_EQ(Run("fault split 2 40"), "OK\n");
  EXPECT_EQ(faults.split_gap_ms, 40);
  EXPECT_EQ(Run("fault clear"), "OK\n");
  EXPECT_FALSE(faults.silent);
  EXPECT_FALSE(faults.garbage);
  EXPECT_EQ(faults.split_pieces, 0);
  EXPECT_EQ(faults.delay_ms, 0);

  for (const char* line : {"fault split 65", "fault split x", "fault split 2 60001", "fault delay 60001", "fault delay",
                           "fault silent", "fault garbage maybe", "fault", "fault fire"}) {
    EXPECT_THAT(Run(line), StartsWith("ERR ")) << line;
  }
  EXPECT_EQ(faults.split_pieces, 0);
  EXPECT_EQ(faults.split_gap_ms, 100);
  EXPECT_EQ(faults.delay_ms, 0);
}

TEST_F(SimControlTest, DropIsOnlyAskedForWhenAClientCanBeDropped) {
  EXPECT_EQ(Run("fault drop", true), "OK\n");
  EXPECT_EQ(reply_.action, ControlAction::kDropLink);
  EXPECT_THAT(Run("fault drop", false), StartsWith("ERR "));
  EXPECT_EQ(reply_.action, ControlAction::kNone);
}

TEST_F(SimControlTest, StatusListsTheStateAsSetCommandsTakeIt) {
  Run("set lowbattery");
  Run("set load 77");
  Run("set vbat 1.9");
  Run("fault split 4 30");
  simulator_.OnLinkBytes("S05R0002\r", now_ms_);
  const std::string status = Run("status");
  EXPECT_THAT(status, HasSubstr("power lowbattery\n"));
  EXPECT_THAT(status, HasSubstr("load 77\n"));
  EXPECT_THAT(status, HasSubstr("vbat 1.90\n"));
  EXPECT_THAT(status, HasSubstr("shutdown on\n"));
  EXPECT_THAT(status, HasSubstr("lastshutdown S05R0002\n"));
  EXPECT_THAT(status, HasSubstr("split 4 30\n"));
  EXPECT_THAT(status, HasSubstr("test off\n"));
  ASSERT_THAT(status, testing::EndsWith("\nEND\n"));

  // Every "name value" line but the record of the shutdown query is a valid command for a fresh
  // simulator, and gives it the same status.
  Simulator fresh(CreateSimProtocol(3), DefaultSimState(3));
  TStringList lines;
  SplitText('\n', status, lines, true);
  for (const std::string& line : lines) {
    if (line == "END" || line.rfind("lastshutdown", 0) == 0) continue;
    const std::string command =
        (line.rfind("power ", 0) == 0) ? "set " + line.substr(6)
        : (line.rfind("silent", 0) == 0 || line.rfind("garbage", 0) == 0 || line.rfind("split", 0) == 0 ||
           line.rfind("delay", 0) == 0 || line.rfind("refuse", 0) == 0)
            ? "fault " + line
            : "set " + line;
    EXPECT_EQ(ExecuteControl(command, fresh, {}).text, "OK\n") << command;
  }
  fresh.State().shutdown_query = "S05R0002";
  EXPECT_EQ(ExecuteControl("status", fresh, {}).text, status);
}

TEST_F(SimControlTest, SetIdentMakesTheIdentificationAnswerThatTextExactly) {
  const auto ident = [this] {
    simulator_.OnLinkBytes("I\r", now_ms_);
    return simulator_.TakeDue(now_ms_);
  };
  const std::string standard = ident();
  const std::string text = "#ACME UPS CO    Line 650   V1.00     ";
  EXPECT_EQ(Run("SET IDENT " + text), "OK\n");
  EXPECT_EQ(ident(), text + "\r");
  EXPECT_THAT(Run("status"), HasSubstr("\nident " + text + "\n"));
  // Blanks after the one that separates the words belong to the text.
  EXPECT_EQ(Run("set ident   #X "), "OK\n");
  EXPECT_EQ(ident(), "  #X \r");

  const std::string longest(kMaxIdentBytes, 'x');
  EXPECT_EQ(Run("set ident " + longest), "OK\n");
  const std::vector<std::string> refused = {"set ident", "set ident ", "set ident " + longest + "y", "set ident #a\tb"};
  for (const std::string& line : refused) {
    EXPECT_THAT(Run(line), StartsWith("ERR ")) << line;
  }
  EXPECT_EQ(ident(), longest + "\r");
  EXPECT_EQ(Run("set ident default"), "OK\n");
  EXPECT_EQ(ident(), standard);
  EXPECT_THAT(Run("status"), HasSubstr("\nident default\n"));
}

TEST_F(SimControlTest, QueriesListsWhatTheLinkReceivedUntilCleared) {
  simulator_.OnLinkBytes("Q1\rS02R0010\rI\r", 0);
  EXPECT_EQ(Run("queries"), "Q1\nS02R0010\nI\nEND\n");
  EXPECT_EQ(Run("queries clear"), "OK\n");
  EXPECT_EQ(Run("queries"), "END\n");
}

TEST_F(SimControlTest, OtherLinesAreAnsweredOrIgnoredAsTheyDeserve) {
  EXPECT_THAT(Run(""), IsEmpty());
  EXPECT_THAT(Run("  \t\r"), IsEmpty());
  EXPECT_EQ(Run("QUIT"), "OK\n");
  EXPECT_EQ(reply_.action, ControlAction::kQuit);
  EXPECT_THAT(Run("quit now"), StartsWith("ERR "));
  EXPECT_EQ(reply_.action, ControlAction::kNone);
  EXPECT_THAT(Run("status please"), StartsWith("ERR "));
  EXPECT_EQ(Run("jump\x1b[2J"), "ERR unknown command \"jump?[2J\"\n");
  EXPECT_EQ(Run(std::string(kMaxControlLineBytes + 1, 'x')), "ERR line too long\n");
}

TEST(LineSplitterTest, CutsAtLineFeedsAcrossCallsAndDropsTheCarriageReturn) {
  LineSplitter splitter(10);
  EXPECT_THAT(splitter.Add("set lo"), IsEmpty());
  const auto lines = splitter.Add("ad 5\r\nstatus\n\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "set load 5");
  EXPECT_EQ(lines[1].text, "status");
  EXPECT_EQ(lines[2].text, "");
  EXPECT_FALSE(lines[0].overlong);
}

TEST(LineSplitterTest, OverlongLineIsReportedOnceAtItsEndAndTheNextLineIsWhole) {
  LineSplitter splitter(10);
  EXPECT_THAT(splitter.Add(std::string(5000, 'x')), IsEmpty());
  const auto lines = splitter.Add("yyyyyyyyyyy\nquit\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].overlong);
  EXPECT_EQ(lines[0].text, "");
  EXPECT_EQ(lines[1].text, "quit");
  // The limit counts the line without its CR.
  const auto exact = splitter.Add("0123456789\r\n01234567890\n");
  ASSERT_EQ(exact.size(), 2u);
  EXPECT_FALSE(exact[0].overlong);
  EXPECT_TRUE(exact[1].overlong);
}

TEST(SimOptionsTest, DefaultsAndEveryOption) {
  SimOptionsResult parsed = ParseSimOptions({"--pty"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.protocol, 1);
  EXPECT_EQ(parsed.options.link, SimLinkKind::kPty);
  EXPECT_FALSE(parsed.options.control_port.has_value());

  parsed = ParseSimOptions({"--tcp", "--protocol", "8", "--control", "0", "--record", "q.txt"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.link, SimLinkKind::kTcp);
  EXPECT_EQ(parsed.options.tcp_port, kDefaultSimTcpPort);
  EXPECT_EQ(parsed.options.protocol, 8);
  EXPECT_EQ(parsed.options.control_port, 0);
  EXPECT_EQ(parsed.options.record_file, "q.txt");

  parsed = ParseSimOptions({"--protocol", "7", "--tcp", "0"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.tcp_port, 0);

  parsed = ParseSimOptions({"--pty", "--link", "/tmp/ups"});
  EXPECT_EQ(parsed.options.link_path, "/tmp/ups");
  for (const int protocol : {0, 2, 4, 5, 6}) {
    parsed = ParseSimOptions({"--tcp", "--protocol", std::to_string(protocol), "--ident", "#A  B "});
    ASSERT_EQ(parsed.error, "") << protocol;
    EXPECT_EQ(parsed.options.protocol, protocol);
    EXPECT_EQ(parsed.options.ident, "#A  B ");
  }
  EXPECT_TRUE(ParseSimOptions({"--pty", "--help"}).help);
}

TEST(SimOptionsTest, RefusesWrongCommandLines) {
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"--pty", "--tcp"},
      {"--tcp", "--link", "x"},
      {"--pty", "--protocol", "9"},
      {"--pty", "--ident"},
      {"--pty", "--ident", ""},
      {"--pty", "--ident", std::string(kMaxIdentBytes + 1, '#')},
      {"--pty", "--ident", "#A\nB"},
      {"--pty", "--protocol"},
      {"--tcp", "70000"},
      {"--tcp", "abc"},
      {"--pty", "--control"},
      {"--pty", "--control", "-1"},
      {"--pty", "--record"},
      {"--pty", "--verbose"},
  };
  for (const auto& arguments : refused) {
    EXPECT_NE(ParseSimOptions(arguments).error, "") << JoinText(arguments, ' ');
  }
}

}  // namespace
}  // namespace keep::tools
