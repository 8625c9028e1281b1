#include "server/services/client_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/scrambling.h"
#include "server/records/command_codes.h"
#include "server/services/server_context.h"
#include "tests/server/server_test_env.h"
#include "tests/support/loopback_peer.h"

namespace keep::test {
namespace {

using namespace std::chrono_literals;
using server::ClientServer;

constexpr char kLanguage[] =
    "[LOGS]\nAutonomyTestImpossible=Autonomy test not possible\n"
    "SchedulerNewFile=New scheduler from $\nSchedulerDeleteFile=Scheduler deleted by $\n";

class ClientServerTest : public ::testing::Test {
 protected:
  // A loopback client whose answers are read while the test's loop runs.
  struct Client {
    std::unique_ptr<Peer> peer;
    std::string pending;
  };

  ClientServerTest() : env_({}, true), context_(env_.context()) {
    WriteFileText(env_.install() + "languages/test.lng", kLanguage);
    context_.Setup.InstallPath = env_.install();
    context_.Setup.LanguageFile = env_.install() + "languages/test.lng";
    context_.Setup.RecordingSetup.LogEnabled = true;
    context_.SchedulerPrefix = "SCHED - ";
    context_.Ups.Main.CalibrationState = "@";
    context_.Ups.Main.UpsStatus = "0";
    context_.Manager = std::make_unique<server::UpsManager>(server::UpsManagerContextOf(context_));
    context_.Manager->Connected = true;
    server_ = std::make_unique<ClientServer>(context_);
    server_->on_schedule_stored = [this] { ++reloads_; };
  }
  ~ClientServerTest() override { server_.reset(); }

  void SetUp() override { ASSERT_EQ(0, server_->Start(0)); }

  Client Connect() {
    Client client{Peer::Connect(server_->Port()), {}};
    EXPECT_NE(nullptr, client.peer);
    return client;
  }
  static void Send(Client& client, const std::string& frame) { client.peer->Send(ScrambleText(frame) + "\r\n"); }
  // The next answer, unscrambled; "" when none arrives in time.
  std::string Next(Client& client, std::chrono::milliseconds limit = 5000ms) {
    env_.RunUntil(
        [&] {
          if (client.pending.find('\n') == std::string::npos) client.pending += client.peer->ReadSome(1ms);
          return client.pending.find('\n') != std::string::npos;
        },
        limit);
    const size_t end = client.pending.find('\n');
    if (end == std::string::npos) return "";
    std::string line = client.pending.substr(0, end);
    client.pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return UnscrambleText(line);
  }
  std::string Ask(Client& client, const std::string& frame) {
    Send(client, frame);
    return Next(client);
  }
  // Runs the loop a while; true when nothing more arrived.
  bool Silent(Client& client) { return Next(client, 200ms).empty(); }
  bool Closed(Client& client) {
    env_.RunUntil([] { return false; }, 50ms);
    return client.peer->SeesEnd(3000ms);
  }
  std::string Data(const std::string& name) const { return env_.install() + "data/" + name; }

  ServerTestEnv env_;
  server::ServerContext& context_;
  std::unique_ptr<ClientServer> server_;
  int reloads_ = 0;
};

using ClientRequests = ClientServerTest;

TEST_F(ClientRequests, StatusIsAnsweredAtOnce) {
  Client client = Connect();
  EXPECT_EQ(0u, Ask(client, "<|101|>").rfind("<|101|", 0));
  EXPECT_TRUE(context_.Requests.Empty());
}

TEST_F(ClientRequests, InvalidLinesGet502AndTheConnectionStaysOpen) {
  Client client = Connect();
  for (const char* line :
       {"<|101|x|>", "101", "<|abc|>", "<|139|4|>", "<|307|2024|13|1|0|0|0|0|>", "<>", "<|203|-5|>"}) {
    EXPECT_EQ("<|502|>", Ask(client, line)) << line;
  }
  EXPECT_EQ(0u, Ask(client, "<|101|>").rfind("<|101|", 0));
}

TEST_F(ClientRequests, AValidRequestWhileNotConnectedGets500AndIsNotQueued) {
  server_->connected = [] { return false; };
  Client client = Connect();
  EXPECT_EQ("<|500|>", Ask(client, "<|102|>"));
  EXPECT_EQ("<|500|>", Ask(client, "<|101|>"));
  EXPECT_TRUE(context_.Requests.Empty());
}

TEST_F(ClientRequests, AQueuedRequestCarriesThePeerAddress) {
  Client client = Connect();
  Send(client, "<|307|2024|12|31|23|59|59|6|>");
  ASSERT_TRUE(env_.RunUntil([&] { return !context_.Requests.Empty(); }, 5000ms));
  EXPECT_EQ(TStringList{"127.0.0.1|<|307|2024|12|31|23|59|59|6|>"}, context_.Requests.Items());
  EXPECT_TRUE(Silent(client)) << "the answer follows the UPS exchange";
}

TEST_F(ClientRequests, TheServersOwnRequestsGoFirstUnderItsOwnName) {
  context_.Requests.QueueRequest("10.0.0.1", "<|102|>", false);
  EXPECT_TRUE(server_->DispatchRequest("<|131|>", std::nullopt, true)) << "answered now, but nobody to send to";
  EXPECT_TRUE(server_->DispatchRequest("<|133|>", std::nullopt, true));
  EXPECT_FALSE(server_->DispatchRequest("<|133|", std::nullopt, true));
  EXPECT_EQ((TStringList{"@|<|133|>", "10.0.0.1|<|102|>"}), context_.Requests.Items());
}

TEST_F(ClientRequests, AGrantedShutdownSetsTheFlagAndRunsTheHook) {
  context_.Setup.ServerSetup.SrvDownEnabled = true;
  context_.Setup.ServerSetup.SrvDownFromMonitor = true;
  int hooks = 0;
  server_->on_shutdown_requested = [&] { ++hooks; };
  Client client = Connect();
  EXPECT_EQ("<|309|1|>", Ask(client, "<|309|>"));
  EXPECT_TRUE(context_.Server.ShutdownNowNoRestart);
  EXPECT_EQ(1, hooks);
}

TEST_F(ClientRequests, AnOverlongLineGets502AndIsClosed) {
  Client client = Connect();
  client.peer->Send(std::string(platform::kMaxClientLineBytes + 10, 'A') + "\r\n");
  EXPECT_EQ("<|502|>", Next(client));
  EXPECT_TRUE(Closed(client));
}

using ClientRouting = ClientServerTest;

TEST_F(ClientRouting, TwoClientsOnOneAddress) {
  Client first = Connect();
  Client second = Connect();
  // Both are known to the server once each has had an answer.
  ASSERT_EQ(0u, Ask(first, "<|101|>").rfind("<|101|", 0));
  ASSERT_EQ(0u, Ask(second, "<|101|>").rfind("<|101|", 0)) << "a now-answer goes to its own connection";

  EXPECT_TRUE(server_->SendToClient("127.0.0.1", nullptr, 501));
  EXPECT_EQ("<|501|>", Next(first));
  EXPECT_TRUE(Silent(second));
  EXPECT_FALSE(server_->SendToClient("@", nullptr, 501));
  EXPECT_FALSE(server_->SendToClient("10.1.1.1", nullptr, 501));

  server_->NotifyAllClients(500, nullptr);
  EXPECT_EQ("<|500|>", Next(first));
  EXPECT_EQ("<|500|>", Next(second));
  EXPECT_TRUE(Silent(first));
  EXPECT_TRUE(Silent(second));
}

using FileDownloads = ClientServerTest;

TEST_F(FileDownloads, AThreeLineFileGivesFiveAnswers) {
  WriteFileText(Data("sch_data.dat"), "SR|D|0|81000|-1|-1\r\nBT|W|2|3600|-1|-1\r\nAT|O|46000|100|-1|-1\r\n");
  Client client = Connect();
  EXPECT_EQ("<|202|3|>", Ask(client, "<|202|>"));
  EXPECT_EQ("<|202|1|SR|D|0|81000|-1|-1|>", Next(client));
  EXPECT_EQ("<|202|2|BT|W|2|3600|-1|-1|>", Next(client));
  EXPECT_EQ("<|202|3|AT|O|46000|100|-1|-1|>", Next(client));
  EXPECT_EQ("<|202|@|>", Next(client));
  EXPECT_TRUE(Silent(client));
  EXPECT_TRUE(std::filesystem::is_empty(env_.install() + "srvtemp")) << "the copy is deleted";
}

TEST_F(FileDownloads, AMissingFileGivesZeroOnly) {
  server_->connected = [] { return false; };  // transfers do not need the UPS
  Client client = Connect();
  EXPECT_EQ("<|202|0|>", Ask(client, "<|202|>"));
  EXPECT_TRUE(Silent(client));
}

TEST_F(FileDownloads, TwoClientsDownloadingALargeFileAtOnceGetItWhole) {
  std::string text;
  const int lines = 6000;
  for (int i = 0; i < lines; ++i) text += "line " + std::to_string(i) + "|" + std::string(90, 'x') + "\r\n";
  WriteFileText(Data("ups_log.txt"), text);
  Client first = Connect();
  Client second = Connect();
  Send(first, "<|200|>");
  Send(second, "<|200|>");
  for (Client* client : {&first, &second}) {
    EXPECT_EQ("<|200|6000|>", Next(*client));
  }
  // Interleaved reading: neither transfer may wait for the other.
  for (int i = 1; i <= lines; ++i) {
    const std::string expected =
        "<|200|" + std::to_string(i) + "|line " + std::to_string(i - 1) + "|" + std::string(90, 'x') + "|>";
    ASSERT_EQ(expected, Next(first));
    ASSERT_EQ(expected, Next(second));
  }
  EXPECT_EQ("<|200|@|>", Next(first));
  EXPECT_EQ("<|200|@|>", Next(second));
}

using ScheduleUploads = ClientServerTest;

TEST_F(ScheduleUploads, StoresAnUploadAndLogsIt) {
  Client client = Connect();
  const std::string bytes = ScrambleText("SR|D|0|81000|-1|-1") + "\r\n" + ScrambleText("BT|W|2|3600|-1|-1") + "\r\n";
  Send(client, "<|203|" + std::to_string(bytes.size()) + "|>");
  client.peer->Send(bytes);
  EXPECT_EQ("<|203|1|>", Next(client));
  EXPECT_EQ("SR|D|0|81000|-1|-1\r\nBT|W|2|3600|-1|-1\r\n", ReadFileText(Data("sch_data.dat")));
  EXPECT_NE(std::string::npos, env_.LogText().find("SCHED - New scheduler from 127.0.0.1"));
  EXPECT_EQ(1, reloads_);
  EXPECT_EQ(0u, Ask(client, "<|101|>").rfind("<|101|", 0)) << "lines go on after the block";
}

TEST_F(ScheduleUploads, ABadLineKeepsThePreviousFile) {
  WriteFileText(Data("sch_data.dat"), "BT|D|0|100|-1|-1\r\n");
  Client client = Connect();
  const std::string bytes = ScrambleText("SR|D|0|99999|-1|-1") + "\r\n";
  Send(client, "<|203|" + std::to_string(bytes.size()) + "|>");
  client.peer->Send(bytes);
  EXPECT_EQ("<|203|0|>", Next(client));
  EXPECT_EQ("BT|D|0|100|-1|-1\r\n", ReadFileText(Data("sch_data.dat")));
  EXPECT_NE(std::string::npos, env_.LogText().find("SCHED - Scheduler deleted by 127.0.0.1"));
  EXPECT_EQ(0, reloads_);
}

TEST_F(ScheduleUploads, ZeroBytesDeleteTheFile) {
  WriteFileText(Data("sch_data.dat"), "BT|D|0|100|-1|-1\r\n");
  Client client = Connect();
  EXPECT_EQ("<|203|1|>", Ask(client, "<|203|0|>"));
  EXPECT_FALSE(std::filesystem::exists(Data("sch_data.dat")));
}

TEST_F(ScheduleUploads, AnOversizedUploadIsRefusedAndClosed) {
  WriteFileText(Data("sch_data.dat"), "BT|D|0|100|-1|-1\r\n");
  Client client = Connect();
  EXPECT_EQ("<|203|0|>", Ask(client, "<|203|" + std::to_string(server::kMaxScheduleUploadBytes + 1) + "|>"));
  EXPECT_TRUE(Closed(client));
  EXPECT_EQ("BT|D|0|100|-1|-1\r\n", ReadFileText(Data("sch_data.dat")));
}

}  // namespace
}  // namespace keep::test
