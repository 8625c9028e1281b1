// The presence server over loopback: probes answered, other lines refused, one line per
// connection, and connections that say nothing or too much closed.
#include "server/services/presence_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "common/scrambling.h"
#include "platform/tcp_client.h"
#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kLimit{10000};
constexpr char kPresence[] = "<|Corvane Powerkeep|5|>";
constexpr char kRefusal[] = "<|502|>";

TEST(PresenceAnswerTest, ProbeIsFirstLessThanThirdFiveLastGreaterThan) {
  EXPECT_EQ(PresenceAnswer("<|5|>"), kPresence);
  // Only the third character counts.
  EXPECT_EQ(PresenceAnswer("<|50|>"), kPresence);
  EXPECT_EQ(PresenceAnswer("<x5 anything>"), kPresence);
  EXPECT_EQ(PresenceAnswer("<|6|>"), kRefusal);
  EXPECT_EQ(PresenceAnswer("<|5|"), kRefusal);
  EXPECT_EQ(PresenceAnswer("|5|>"), kRefusal);
  EXPECT_EQ(PresenceAnswer("<5>"), kRefusal);
  EXPECT_EQ(PresenceAnswer("<|"), kRefusal);
  EXPECT_EQ(PresenceAnswer(""), kRefusal);
}

class PresenceServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<PresenceServer>(env_.context());
    ASSERT_EQ(server_->Start(0), 0);
    ASSERT_NE(server_->Port(), 0);
  }

  static std::unique_ptr<platform::TcpClient> Connect(uint16_t port) {
    platform::Ipv4Address loopback;
    loopback.octets = {127, 0, 0, 1};
    std::unique_ptr<platform::TcpClient> client;
    if (platform::TcpClient::Connect(loopback, port, 5000, &client) != 0) return nullptr;
    return client;
  }
  static void SendAll(platform::TcpClient& client, const std::string& data) {
    int sent = 0;
    EXPECT_EQ(client.Send(data.data(), static_cast<int>(data.size()), 5000, &sent), 0);
  }
  // True when the server closed the connection within `limit`; what came before is appended to
  // `received`.
  static bool Ended(platform::TcpClient& client, std::chrono::milliseconds limit, std::string* received) {
    bool readable = false;
    if (client.WaitReadable(static_cast<int>(limit.count()), &readable) != 0) return true;
    if (!readable) return false;
    char buffer[4096];
    int count = 0;
    if (client.Read(buffer, sizeof buffer, &count) != 0) return true;
    received->append(buffer, static_cast<size_t>(count));
    return count == 0;
  }

  // Everything the server sends on `client` until it closes, running the loop meanwhile.
  std::string ReadToEnd(platform::TcpClient& client) {
    std::string received;
    const bool ended = env_.RunUntil([&] { return Ended(client, 1ms, &received); }, kLimit);
    EXPECT_TRUE(ended) << "the server did not close the connection";
    return received;
  }

  std::string Ask(const std::string& plain_line) {
    auto client = Connect(server_->Port());
    EXPECT_TRUE(client);
    if (!client) return "";
    SendAll(*client, ScrambleText(plain_line) + "\r\n");
    return ReadToEnd(*client);
  }

  test::ServerTestEnv env_;
  std::unique_ptr<PresenceServer> server_;
};

TEST_F(PresenceServerTest, ProbesAreAnsweredAndOthersRefused) {
  EXPECT_EQ(Ask("<|5|>"), ScrambleText(kPresence) + "\r\n");
  EXPECT_EQ(Ask("<|50|>"), ScrambleText(kPresence) + "\r\n");
  EXPECT_EQ(Ask("<|6|>"), ScrambleText(kRefusal) + "\r\n");
  EXPECT_EQ(Ask("not a frame"), ScrambleText(kRefusal) + "\r\n");
}

TEST_F(PresenceServerTest, OnlyTheFirstLineOfAConnectionIsAnswered) {
  auto client = Connect(server_->Port());
  ASSERT_TRUE(client);
  SendAll(*client, ScrambleText("<|6|>") + "\r\n" + ScrambleText("<|5|>") + "\r\n");
  EXPECT_EQ(ReadToEnd(*client), ScrambleText(kRefusal) + "\r\n");
}

TEST_F(PresenceServerTest, OverlongLineClosesUnanswered) {
  auto client = Connect(server_->Port());
  ASSERT_TRUE(client);
  SendAll(*client, std::string(platform::kMaxClientLineBytes + 10, 'A'));
  EXPECT_EQ(ReadToEnd(*client), "");
}

TEST_F(PresenceServerTest, SilentConnectionIsClosedAfterTheIdleLimit) {
  auto client = Connect(server_->Port());
  ASSERT_TRUE(client);
  ASSERT_TRUE(env_.RunUntil([&] { return server_->Connections() == 1; }, kLimit));
  env_.clock().AdvanceMs(kPresenceIdleLimitMs - 1);
  env_.loop().RunDue();
  std::string received;
  EXPECT_FALSE(Ended(*client, 20ms, &received));
  EXPECT_EQ(server_->Connections(), 1u);
  env_.clock().AdvanceMs(1);
  EXPECT_EQ(ReadToEnd(*client), "");
  EXPECT_EQ(server_->Connections(), 0u);
}

TEST_F(PresenceServerTest, AnsweredConnectionLeavesNoIdleTimerBehind) {
  EXPECT_EQ(Ask("<|5|>"), ScrambleText(kPresence) + "\r\n");
  // Once the connection's last item has run, nothing may be planned: a timer left behind would
  // fire on an id the server no longer knows (and shows as a distance above 0).
  env_.RunUntil([&] { return env_.loop().MsUntilNextWork() != 0; }, kLimit);
  EXPECT_EQ(env_.loop().MsUntilNextWork(), -1);
}

TEST_F(PresenceServerTest, TakenPortGivesAddressInUse) {
  PresenceServer second(env_.context());
  EXPECT_EQ(second.Start(server_->Port()), platform::kSocketErrorAddressInUse);
  EXPECT_EQ(second.Port(), 0);
}

TEST_F(PresenceServerTest, StopClosesConnectionsAndListenerAndMayBeRepeated) {
  const uint16_t port = server_->Port();
  auto client = Connect(port);
  ASSERT_TRUE(client);
  ASSERT_TRUE(env_.RunUntil([&] { return server_->Connections() == 1; }, kLimit));
  server_->Stop();
  std::string received;
  EXPECT_TRUE(Ended(*client, kLimit, &received));
  EXPECT_EQ(received, "");
  EXPECT_EQ(server_->Port(), 0);
  EXPECT_EQ(Connect(port), nullptr);
  // The idle timer of the connection went with it.
  env_.loop().RunDue();
  EXPECT_EQ(env_.loop().MsUntilNextWork(), -1);
  server_->Stop();
  EXPECT_EQ(server_->Connections(), 0u);
}

}  // namespace
}  // namespace keep::server
