// The exchange of requests and answers with a scripted server and a pause that only counts.
#include <gtest/gtest.h>

#include "common/scrambling.h"
#include "console/console_client.h"
#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::CountingPause;
using test::FakeServerLink;
using test::RecordingOutput;
using test::ScriptedInput;

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.State().host = "127.0.0.1";
    client_.State().port = "5769";
    client_.ConnectToServer(true);
    ASSERT_TRUE(client_.State().connected);
  }

  // Waits (bounded) until the receive thread has taken every line the server sent.
  void Settle() {
    for (int i = 0; i < 5000 && !link_.Drained(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The last line taken may still be in its conversion; the state's lock waits for it.
    client_.State().Inspect([](const ConsoleData&) { return 0; });
  }

  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  FakeServerLink link_;
  CountingPause pause_;
  ConsoleClient client_{io_, link_, pause_, RenderStyle::ForTerminal(true)};
};

TEST_F(RequestsTest, ARequestIsOneScrambledFrameAndCrLf) {
  client_.SendRequest(101, false);
  client_.SendRequest(139, {"2"}, false);
  EXPECT_EQ(ScrambleText("<|101|>") + "\r\n" + ScrambleText("<|139|2|>") + "\r\n", link_.Written());
}

TEST_F(RequestsTest, TheCallersFieldsStayAsTheyWere) {
  const TStringList fields{"1", "0"};
  TStringList copy = fields;
  client_.SendRequest(303, copy, false);
  client_.SendRequest(303, copy, false);
  EXPECT_EQ(fields, copy);
  EXPECT_EQ((std::vector<std::string>{"<|303|1|0|>", "<|303|1|0|>"}), link_.Requests()) << "sent twice the same";
}

TEST_F(RequestsTest, WaitsUntilTheAnswerCame) {
  pause_.on_wait = [&](int wait) {
    if (wait == 17) link_.Push("<|101|0|0|340|25|1200|1000|0|>");
    if (wait >= 17) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  EXPECT_TRUE(client_.SendRequest(101, true));
  EXPECT_GE(pause_.Waits(), 17);
  EXPECT_LT(pause_.Waits(), 400);
  EXPECT_EQ("34 %", client_.State().Snapshot().ups.main.load[0]);
  EXPECT_FALSE(out_.Shows("ERROR"));
}

TEST_F(RequestsTest, GivesUpAfterFourHundredPollsOfAHundredMilliseconds) {
  EXPECT_FALSE(client_.SendRequest(101, true));
  EXPECT_EQ(400, pause_.Waits());
  EXPECT_EQ(40000, pause_.TotalMs());
  EXPECT_EQ("\a\n ERROR !  Communication timeout with server module !\n\n", out_.Text());
}

TEST_F(RequestsTest, AnAnswerOfAnotherCodeDoesNotEndTheWait) {
  // While 101 is awaited, another client's setting answer and a refused 101 arrive.
  link_.responder = [](const std::string& request) -> std::vector<std::string> {
    if (request == "<|101|>") return {"<|301|220|0|1|1|1|0|0|100|>", "<|101|0|0|>"};
    return {};
  };
  pause_.on_wait = [&](int) { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
  EXPECT_FALSE(client_.SendRequest(101, true));
  EXPECT_TRUE(out_.Shows("Communication timeout with server module !"));
  Settle();
  EXPECT_EQ("220 V", client_.State().Snapshot().ups.output.voltage[0]) << "the other answer was still stored";
}

TEST_F(RequestsTest, AMessageAfterTheAnswerDoesNotTakeItBack) {
  in_.AddLine("");  // ENTER for the broadcast
  // The answer and a notice right behind it both arrive before the first poll looks.
  pause_.on_wait = [&](int wait) {
    if (wait == 1) {
      link_.Push(test::Identification(1));
      link_.Push("<|500|>");
      EXPECT_TRUE(out_.WaitFor("Communication lost with ups"));
    }
  };
  EXPECT_TRUE(client_.SendRequest(100, true));
  EXPECT_EQ(1, pause_.Waits());
  EXPECT_FALSE(client_.State().ups_present);
}

TEST_F(RequestsTest, AWriteFailureIsShownAndNotWaitedFor) {
  link_.fail_writes = true;
  EXPECT_FALSE(client_.SendRequest(101, true));
  EXPECT_EQ(0, pause_.Waits());
  EXPECT_EQ("\a\n ERROR !  Error while sending request to server !\n\n", out_.Text());
}

TEST_F(RequestsTest, WithoutWaitTheResultSaysWhetherAnAnswerIsAlreadyThere) {
  EXPECT_FALSE(client_.SendRequest(101, false));
  EXPECT_EQ(0, pause_.Waits());
  EXPECT_FALSE(out_.Shows("ERROR"));
}

TEST_F(RequestsTest, UploadSendsTheCountThenTheScrambledLines) {
  const TStringList items{"SR|W|1|79200|2|28800", "BT|D|0|3600|-1|-1"};
  const std::string block = ScrambleText(items[0]) + "\r\n" + ScrambleText(items[1]) + "\r\n";
  link_.responder = [](const std::string& request) -> std::vector<std::string> {
    if (request.rfind("<|203|", 0) == 0) return {"<|203|1|>"};
    return {};
  };
  pause_.on_wait = [&](int) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  ASSERT_TRUE(client_.UploadList(items));
  EXPECT_EQ((std::vector<std::string>{"<|203|" + std::to_string(block.size()) + "|>"}), link_.Requests());
  EXPECT_EQ(block, link_.Payload()) << "the lines follow unframed";
  EXPECT_TRUE(client_.WaitForAnswer());
  EXPECT_EQ("Yes", client_.State().Snapshot().ups.results.upload);
}

TEST_F(RequestsTest, UploadOfNoLinesAsksForDeletionAndWaits) {
  link_.responder = [](const std::string& request) -> std::vector<std::string> {
    if (request == "<|203|0|>") return {"<|203|1|>"};
    return {};
  };
  pause_.on_wait = [&](int) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  EXPECT_TRUE(client_.UploadList({}));
  EXPECT_EQ("", link_.Payload());
  EXPECT_EQ("Yes", client_.State().Snapshot().ups.results.upload);
}

TEST_F(RequestsTest, UploadFailsWhenTheServerIsGone) {
  link_.fail_writes = true;
  EXPECT_FALSE(client_.UploadList({"SR|O|80000|3600|-1|-1"}));
  EXPECT_TRUE(out_.Shows("Error while sending request to server !"));
}

}  // namespace
}  // namespace keep::console
