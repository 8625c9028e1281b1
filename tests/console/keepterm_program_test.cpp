// The console program from start to end with a scripted user and server.
#include "console/keepterm_program.h"

#include <gtest/gtest.h>

#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::CountingPause;
using test::FakeServerLink;
using test::RecordingOutput;
using test::ScriptedInput;

class KeeptermProgramTest : public ::testing::Test {
 protected:
  KeeptermProgramTest() {
    link_.responder = [this](const std::string& request) -> std::vector<std::string> {
      if (request == "<|100|>") return {test::Identification(kind_)};
      if (request == "<|136|>") return {"<|136|1|A1,Fan|>"};
      if (request == "<|140|>") return {"<|140|1|E1,Mains|>"};
      return {};
    };
    pause_.on_wait = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  }

  int Run(const UpsEntriesFn& entries = {}) {
    return RunConsoleProgram(io_, &link_, pause_, RenderStyle::ForTerminal(true), entries);
  }

  int kind_ = 1;
  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  FakeServerLink link_;
  CountingPause pause_;
};

TEST_F(KeeptermProgramTest, QAtTheHostQuestionEndsBeforeAnyConnection) {
  in_.AddLine("q");
  EXPECT_EQ(0, Run());
  EXPECT_EQ(std::string(kStartupLine) + "\n\nHost IP address [default: localhost / Q=cancel]: \n\n\n\n\n", out_.Text());
  EXPECT_TRUE(link_.Connects().empty());
}

TEST_F(KeeptermProgramTest, QAtThePortQuestionEndsToo) {
  in_.AddLine("");
  in_.AddLine("q");
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(link_.Connects().empty());
  EXPECT_TRUE(out_.Text().ends_with("Host IP port [default: 5769 / Q=cancel]: \n\n\n\n\n"));
}

TEST_F(KeeptermProgramTest, WithoutAClientNothingCanBeDone) {
  EXPECT_EQ(1, RunConsoleProgram(io_, nullptr, pause_, RenderStyle{}, {}));
  EXPECT_EQ(std::string(kStartupLine) + "\n\a\n ERROR !  Internal error. Impossible to continue !\n\n", out_.Text());
}

TEST_F(KeeptermProgramTest, AsksAgainUntilAServerIsFound) {
  link_.accept = false;
  in_.AddLine("");
  in_.AddLine("");
  in_.AddLine("");  // ENTER after "not found"
  in_.AddLine("Q");
  EXPECT_EQ(0, Run());
  EXPECT_EQ(2u, out_.Count("Host IP address [default: localhost / Q=cancel]: "));
  EXPECT_TRUE(out_.Shows("not found !\n\n\n< Press \"ENTER\" to continue >\n\n\n\nHost IP address"));
}

TEST_F(KeeptermProgramTest, AStandardUpsGoesStraightToTheMainMenu) {
  in_.AddLine("");
  in_.AddLine("");
  in_.AddLine("q");
  EXPECT_EQ(0, Run());
  EXPECT_EQ((std::vector<std::string>{"<|100|>"}), link_.Requests());
  EXPECT_TRUE(
      out_.Shows(" Wait..... \n\n\n******** MAIN MENU ********\n\n 1 - Disconnect from Powerkeep (127.0.0.1:5769)\n\n"
                 "Selection [Q for exit]: "));
  EXPECT_EQ(1, link_.Closes()) << "disconnected at the end";
  EXPECT_TRUE(out_.Text().ends_with("Selection [Q for exit]: \n\n"));
}

TEST_F(KeeptermProgramTest, AModularUpsLoadsItsCodeTablesFirst) {
  kind_ = 3;
  in_.AddLine("");
  in_.AddLine("");
  in_.AddLine("Q");
  std::string alarm;
  std::string event;
  Run([&](ConsoleClient& client) {
    const ConsoleData data = client.State().Snapshot();
    alarm = LookUpCode(data.alarm_codes, "A1");
    event = LookUpCode(data.event_codes, "E1");
    return std::vector<MenuEntry>{};
  });
  EXPECT_EQ((std::vector<std::string>{"<|100|>", "<|136|>", "<|140|>"}), link_.Requests());
  EXPECT_EQ("Fan", alarm);
  EXPECT_EQ("Mains", event);
}

TEST_F(KeeptermProgramTest, TheMainMenuOffersTheUpsEntriesOnlyWithTheUps) {
  in_.AddLine("");
  in_.AddLine("");
  in_.AddLine("2");  // the UPS entry
  in_.AddLine("1");  // disconnect
  in_.AddLine("q");
  int runs = 0;
  Run([&](ConsoleClient&) { return std::vector<MenuEntry>{{"UPS Data Read", [&](ConsoleClient&) { ++runs; }}}; });
  EXPECT_EQ(1, runs);
  EXPECT_EQ(2u, out_.Count(" 2 - UPS Data Read\n"));
  EXPECT_TRUE(out_.Shows(" 1 - Connect to Powerkeep\n\nSelection [Q for exit]: "));
}

TEST_F(KeeptermProgramTest, AfterLosingTheUpsTheMenuOffersOnlyTheDisconnection) {
  in_.AddLine("");
  in_.AddLine("");
  in_.AddLine("2");  // the UPS entry, during which the server loses the UPS
  in_.AddLine("");   // ENTER for the broadcast
  in_.AddLine("q");
  auto lose_ups = [&](ConsoleClient& client) {
    link_.Push("<|500|>");
    for (int i = 0; i < 5000 && (client.State().ups_present || in_.LinesRead() < 4); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  Run([&](ConsoleClient&) { return std::vector<MenuEntry>{{"UPS Data Read", lose_ups}}; });
  EXPECT_TRUE(out_.Shows("Communication lost with ups"));
  EXPECT_EQ(1u, out_.Count(" 2 - UPS Data Read\n"));
  EXPECT_EQ(2u, out_.Count(" 1 - Disconnect from Powerkeep (127.0.0.1:5769)\n"));
}

}  // namespace
}  // namespace keep::console
