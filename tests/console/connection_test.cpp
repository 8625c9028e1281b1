// The connection dialog and the connection's life, against a scripted server.
#include <gtest/gtest.h>

#include "console/console_client.h"
#include "tests/console/console_fakes.h"

namespace keep::console {
namespace {

using test::CountingPause;
using test::FakeServerLink;
using test::RecordingOutput;
using test::ScriptedInput;

class ConnectDialogTest : public ::testing::Test {
 protected:
  ConnectDialogTest() {
    link_.responder = [this](const std::string& request) -> std::vector<std::string> {
      if (request == "<|100|>" && !identification_.empty()) return {identification_};
      return {};
    };
    pause_.on_wait = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
  }

  std::string identification_ = test::Identification(1);
  ScriptedInput in_;
  RecordingOutput out_;
  ConsoleIo io_{in_, out_};
  FakeServerLink link_;
  CountingPause pause_;
  ConsoleClient client_{io_, link_, pause_, RenderStyle::ForTerminal(true)};
};

TEST_F(ConnectDialogTest, EmptyAnswersConnectToTheDefaultServer) {
  in_.AddLine("");
  in_.AddLine("");
  EXPECT_EQ(1, client_.ConnectDialog());
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:5769"}), link_.Connects());
  EXPECT_EQ("\nHost IP address [default: localhost / Q=cancel]: Host IP port [default: 5769 / Q=cancel]: ",
            out_.Text());
  EXPECT_TRUE(client_.State().connected);
  EXPECT_TRUE(client_.State().ups_present);
  EXPECT_EQ(1, client_.UpsKind());
}

TEST_F(ConnectDialogTest, TakesTheHostAsTypedAndThePortInPlainDecimal) {
  in_.AddLine("ups-server.local");
  in_.AddLine("0080");
  EXPECT_EQ(1, client_.ConnectDialog());
  EXPECT_EQ((std::vector<std::string>{"ups-server.local:80"}), link_.Connects());
  EXPECT_EQ("ups-server.local", client_.State().host);
  EXPECT_EQ("80", client_.State().port);
}

TEST_F(ConnectDialogTest, QCancelsAtEitherQuestion) {
  in_.AddLine("q");
  EXPECT_EQ(0, client_.ConnectDialog());
  in_.AddLine("");
  in_.AddLine("Q");
  EXPECT_EQ(0, client_.ConnectDialog());
  EXPECT_TRUE(link_.Connects().empty());
}

TEST_F(ConnectDialogTest, ThePortMustBeANumberFromOneTo65535) {
  in_.AddLine("");
  for (const char* wrong : {"0", "65536", "port", "-1", "12.5"}) in_.AddLine(wrong);
  in_.AddLine("65535");
  EXPECT_EQ(1, client_.ConnectDialog());
  EXPECT_EQ(5u, out_.Count("\a\n ERROR !  Number invalid or out of range (1 - 65535) !\n\n"));
  EXPECT_EQ(6u, out_.Count("Host IP port [default: 5769 / Q=cancel]: "));
  EXPECT_EQ((std::vector<std::string>{"127.0.0.1:65535"}), link_.Connects());
}

TEST_F(ConnectDialogTest, AServerThatCannotBeReachedIsReported) {
  link_.accept = false;
  in_.AddLine("10.1.2.3");
  in_.AddLine("7000");
  in_.AddLine("");  // ENTER
  EXPECT_EQ(1, client_.ConnectDialog());
  EXPECT_FALSE(client_.State().connected);
  EXPECT_TRUE(out_.Shows("\a\n ERROR !  Host 10.1.2.3 on port 7000 not found !\n\n\n< Press \"ENTER\" to continue >"));
  EXPECT_EQ(3, in_.LinesRead());
}

TEST_F(ConnectDialogTest, AServerThatNeverIdentifiesHasNoUps) {
  identification_.clear();
  in_.AddLine("");
  in_.AddLine("");
  in_.AddLine("");
  EXPECT_EQ(1, client_.ConnectDialog());
  EXPECT_TRUE(client_.State().connected);
  EXPECT_FALSE(client_.State().ups_present);
  EXPECT_EQ(400, pause_.Waits());
  const std::string text = out_.Text();
  const size_t timeout = text.find("Communication timeout with server module !");
  const size_t no_ups = text.find(" ERROR !  Connected with 127.0.0.1 but no UPS found !");
  ASSERT_NE(std::string::npos, timeout);
  ASSERT_NE(std::string::npos, no_ups);
  EXPECT_LT(timeout, no_ups);
}

TEST_F(ConnectDialogTest, AnIdentificationWithoutModelHasNoUps) {
  for (const char* model : {"&", "Not available"}) {
    identification_ = test::Identification(1, model);
    in_.AddLine("");
    in_.AddLine("");
    in_.AddLine("");
    EXPECT_EQ(1, client_.ConnectDialog());
    EXPECT_FALSE(client_.State().ups_present) << model;
  }
  EXPECT_EQ(2u, out_.Count("Connected with 127.0.0.1 but no UPS found !"));
}

TEST_F(ConnectDialogTest, TheEndOfInputCancels) {
  EXPECT_EQ(0, client_.ConnectDialog());
  in_.AddLine("");
  EXPECT_EQ(0, client_.ConnectDialog()) << "ended after the host";
  EXPECT_TRUE(link_.Connects().empty());
}

TEST_F(ConnectDialogTest, ReconnectingForgetsTheLastServersData) {
  in_.AddLine("");
  in_.AddLine("");
  ASSERT_EQ(1, client_.ConnectDialog());
  client_.State().Update([](ConsoleData& data) {
    data.event_list = {"- old"};
    data.scheduler_items = {"SR|D|0|1|-1|-1"};
    data.alarm_codes = {{"A1", "kept"}};
  });
  identification_.clear();
  client_.ConnectToServer(true);
  const ConsoleData data = client_.State().Snapshot();
  EXPECT_EQ("", data.ups.info.model_name);
  EXPECT_TRUE(data.event_list.empty());
  EXPECT_TRUE(data.scheduler_items.empty());
  EXPECT_EQ(1u, data.alarm_codes.size()) << "the code tables are loaded at start-up only";
  EXPECT_FALSE(client_.State().ups_present);
}

TEST_F(ConnectDialogTest, ToggleDisconnectsWhenConnectedAndAsksWhenNot) {
  in_.AddLine("");
  in_.AddLine("");
  ASSERT_EQ(1, client_.ConnectDialog());
  client_.ToggleConnection();
  EXPECT_FALSE(client_.State().connected);
  EXPECT_EQ(1, link_.Closes());
  EXPECT_EQ(1u, link_.Connects().size()) << "no new connection";

  in_.AddLine("");
  in_.AddLine("");
  client_.ToggleConnection();
  EXPECT_TRUE(client_.State().connected);
  EXPECT_EQ(2u, link_.Connects().size());
}

TEST_F(ConnectDialogTest, ALostConnectionShowsAtTheNextRequest) {
  in_.AddLine("");
  in_.AddLine("");
  ASSERT_EQ(1, client_.ConnectDialog());
  link_.Drop();
  EXPECT_TRUE(client_.State().connected) << "the flag changes only by connecting";
  EXPECT_FALSE(client_.SendRequest(101, true));
  EXPECT_TRUE(out_.Shows("Error while sending request to server !"));
}

}  // namespace
}  // namespace keep::console
