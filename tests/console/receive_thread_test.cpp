#include "console/receive_thread.h"

#include <gtest/gtest.h>

#include "console/broadcasts.h"
#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::FakeServerLink;
using test::RecordingOutput;
using test::ScriptedInput;

class ReceiveThreadTest : public ::testing::Test {
 protected:
  ReceiveThreadTest() { link_.Connect("127.0.0.1", "5769", 0); }

  std::unique_ptr<ReceiveThread> Start() {
    return std::make_unique<ReceiveThread>(
        link_, state_, RenderStyle::ForTerminal(false),
        [this](const std::string& text, std::stop_token stop) { ShowBroadcast(io_, text, stop); });
  }

  static bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  FakeServerLink link_;
  ClientState state_;
};

TEST_F(ReceiveThreadTest, StoresAnswersAndFlagsOnlyThePendingOne) {
  auto thread = Start();
  state_.pending_code = 101;
  link_.Push("<|102|230|500|700|31|62|1|1|0|2|0|1|150|>");
  ASSERT_TRUE(Eventually([&] { return state_.Snapshot().ups.output.voltage[0] == "230 V"; }));
  EXPECT_FALSE(state_.answer_received);
  link_.Push("<|101|0|0|340|25|1200|1000|0|>");
  EXPECT_TRUE(Eventually([&] { return state_.answer_received.load(); }));
  EXPECT_EQ("34 %", state_.Snapshot().ups.main.load[0]);
}

TEST_F(ReceiveThreadTest, CommunicationMessagesSetTheUpsFlagAndAreShown) {
  in_.AddLine("");
  in_.AddLine("");
  state_.ups_present = true;
  auto thread = Start();
  link_.Push("<|500|>");
  ASSERT_TRUE(Eventually([&] { return !state_.ups_present; }));
  link_.Push("<|501|>");
  ASSERT_TRUE(Eventually([&] { return state_.ups_present.load(); }));
  EXPECT_TRUE(out_.WaitFor("*** Broadcast message from Powerkeep ***\n Communication restored with ups\n"));
  EXPECT_TRUE(out_.Shows(" Communication lost with ups\n"));
}

TEST_F(ReceiveThreadTest, NothingIsReadWhileABroadcastWaitsForEnter) {
  in_.Hold(true);
  auto thread = Start();
  link_.Push("<|502|>");
  ASSERT_TRUE(out_.WaitFor("< Press \"ENTER\" to continue >"));
  state_.pending_code = 101;
  link_.Push("<|101|0|0|340|25|1200|1000|0|>");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(state_.answer_received) << "the answer waits behind the broadcast";
  in_.AddLine("");
  EXPECT_TRUE(Eventually([&] { return state_.answer_received.load(); }));
}

TEST_F(ReceiveThreadTest, StopAbandonsABroadcastWaitingForEnter) {
  in_.Hold(true);
  auto thread = Start();
  link_.Push("<|500|>");
  ASSERT_TRUE(out_.WaitFor("< Press \"ENTER\" to continue >"));
  const auto before = std::chrono::steady_clock::now();
  thread->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_EQ(0, in_.LinesRead());
}

TEST_F(ReceiveThreadTest, EndsByItselfWhenTheServerCloses) {
  auto thread = Start();
  link_.Drop();
  EXPECT_TRUE(Eventually([&] { return thread->Ended(); }));
}

TEST_F(ReceiveThreadTest, BadLinesAreSkippedAndReadingGoesOn) {
  auto thread = Start();
  state_.pending_code = 113;
  link_.Push("<|");
  link_.Push("garbage without bars");
  link_.Push("<|113|1|2|>");
  link_.Push("<|113|1|>");
  EXPECT_TRUE(Eventually([&] { return state_.answer_received.load(); }));
  EXPECT_EQ("Yes", state_.Snapshot().ups.input.frequency_autoselect);
}

}  // namespace
}  // namespace keep::console
