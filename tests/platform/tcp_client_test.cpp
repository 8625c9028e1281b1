#include "platform/tcp_client.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/loopback_listener.h"

namespace keep::platform {
namespace {

constexpr int kLimitMs = 5000;
const Ipv4Address kLoopback{{127, 0, 0, 1}};

using test::ClosedLoopbackPort;
using test::LoopbackListener;

class TcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(listener_.Ok());
    ASSERT_EQ(TcpClient::Connect(kLoopback, listener_.Port(), kLimitMs, &client_), 0);
    ASSERT_NE(client_, nullptr);
    ASSERT_TRUE(listener_.Accept());
  }

  LoopbackListener listener_;
  std::unique_ptr<TcpClient> client_;
};

TEST_F(TcpClientTest, BytesGoBothWaysAndReadingNeverWaits) {
  int sent = 0;
  ASSERT_EQ(client_->Send("Q1\r", 3, kLimitMs, &sent), 0);
  EXPECT_EQ(sent, 3);
  EXPECT_EQ(listener_.Read(3), "Q1\r");

  char buffer[16];
  int count = -1;
  ASSERT_EQ(client_->Read(buffer, sizeof buffer, &count), 0);
  EXPECT_EQ(count, 0) << "nothing has arrived";
  bool readable = true;
  ASSERT_EQ(client_->WaitReadable(20, &readable), 0);
  EXPECT_FALSE(readable);

  ASSERT_TRUE(listener_.Write("(230.0"));
  ASSERT_EQ(client_->WaitReadable(kLimitMs, &readable), 0);
  ASSERT_TRUE(readable);
  int available = 0;
  ASSERT_EQ(client_->Available(&available), 0);
  EXPECT_EQ(available, 6);
  ASSERT_EQ(client_->Read(buffer, 4, &count), 0);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "(230");
  ASSERT_EQ(client_->Available(&available), 0);
  EXPECT_EQ(available, 2);
  ASSERT_EQ(client_->Read(buffer, sizeof buffer, &count), 0);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), ".0");
}

TEST_F(TcpClientTest, APeerThatClosesReadsAsEmptyAndWakesTheWait) {
  ASSERT_TRUE(listener_.Write("bye"));
  listener_.ClosePeer();
  bool readable = false;
  ASSERT_EQ(client_->WaitReadable(kLimitMs, &readable), 0);
  EXPECT_TRUE(readable);
  char buffer[16];
  std::string got;
  int count = 0;
  do {
    ASSERT_EQ(client_->Read(buffer, sizeof buffer, &count), 0);
    got.append(buffer, static_cast<size_t>(count));
  } while (count > 0);
  EXPECT_EQ(got, "bye");
  ASSERT_EQ(client_->WaitReadable(kLimitMs, &readable), 0);
  EXPECT_TRUE(readable) << "the end of the stream stays readable";
  int available = -1;
  ASSERT_EQ(client_->Available(&available), 0);
  EXPECT_EQ(available, 0);
}

TEST_F(TcpClientTest, SendingToAPeerThatHasGoneFailsWithoutASignal) {
  listener_.ClosePeer(true);
  bool readable = false;
  ASSERT_EQ(client_->WaitReadable(kLimitMs, &readable), 0);
  // Reaching the asserts at all shows the process was not ended by SIGPIPE.
  int code = 0;
  for (int i = 0; i < 100 && code == 0; ++i) {
    int sent = 0;
    code = client_->Send("Q1\r", 3, kLimitMs, &sent);
  }
  EXPECT_TRUE(code == EPIPE || code == ECONNRESET) << code;
}

TEST_F(TcpClientTest, ASendThePeerDoesNotTakeGivesUpAtItsTimeOut) {
  // More than the socket buffers of both ends hold, with the peer reading nothing.
  const std::vector<char> block(64 << 20, 'x');
  int sent = -1;
  EXPECT_EQ(client_->Send(block.data(), static_cast<int>(block.size()), 50, &sent), ETIMEDOUT);
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(block.size()));
}

TEST_F(TcpClientTest, AClosedClientRefusesEverything) {
  client_->Close();
  client_->Close();
  char buffer[4];
  int count = 0;
  bool readable = false;
  EXPECT_EQ(client_->Send("x", 1, kLimitMs, &count), kSocketErrorNotConnected);
  EXPECT_EQ(client_->Read(buffer, sizeof buffer, &count), kSocketErrorNotConnected);
  EXPECT_EQ(client_->Available(&count), kSocketErrorNotConnected);
  EXPECT_EQ(client_->WaitReadable(0, &readable), kSocketErrorNotConnected);
  EXPECT_EQ(listener_.Read(1), "") << "the peer sees the end of the stream";
}

TEST(TcpClientConnectTest, APortNobodyListensOnIsRefused) {
  std::unique_ptr<TcpClient> client;
  EXPECT_EQ(TcpClient::Connect(kLoopback, ClosedLoopbackPort(), kLimitMs, &client), ECONNREFUSED);
  EXPECT_EQ(client, nullptr);
}

TEST(TcpClientConnectTest, APeerThatDoesNotAnswerIsGivenUpAfterTheTimeOut) {
  // A listener that never accepts and whose queue is full lets further connections hang.
  LoopbackListener busy(0);
  ASSERT_TRUE(busy.Ok());
  std::vector<std::unique_ptr<TcpClient>> queued;
  int code = 0;
  for (int i = 0; i < 16 && code == 0; ++i) {
    std::unique_ptr<TcpClient> client;
    code = TcpClient::Connect(kLoopback, busy.Port(), 200, &client);
    if (code == 0) queued.push_back(std::move(client));
  }
  if (code == 0) GTEST_SKIP() << "this system accepts every connection of a full queue";
  EXPECT_EQ(code, ETIMEDOUT);
}

TEST(TcpClientResolveTest, AddressesAndNames) {
  Ipv4Address address;
  ASSERT_EQ(ResolveIpv4("127.0.0.1", true, &address), 0);
  EXPECT_EQ(address, kLoopback);
  ASSERT_EQ(ResolveIpv4("10.1.2.3", false, &address), 0);
  EXPECT_EQ(address, (Ipv4Address{{10, 1, 2, 3}}));
  ASSERT_EQ(ResolveIpv4("127.1", true, &address), 0);
  EXPECT_EQ(address, kLoopback);
  address = {};
  ASSERT_EQ(ResolveIpv4("localhost", false, &address), 0);
  EXPECT_EQ(address.octets[0], 127);

  // Names that fail before any query leaves this machine.
  for (const char* bad : {"", "no-such-host..invalid", "localhost", "256.1.1.1", "1.2.3.4x"}) {
    EXPECT_EQ(ResolveIpv4(bad, true, &address), kSocketErrorNotConnected) << bad;
  }
  EXPECT_EQ(ResolveIpv4("no-such-host..invalid", false, &address), kSocketErrorNotConnected);
  EXPECT_EQ(ResolveIpv4(std::string("local\0host", 10), false, &address), kSocketErrorNotConnected);
}

TEST(TcpClientResolveTest, ServicesAndPortNumbers) {
  uint16_t port = 0;
  ASSERT_EQ(ResolveTcpService("2101", &port), 0);
  EXPECT_EQ(port, 2101);
  ASSERT_EQ(ResolveTcpService("65535", &port), 0);
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"", "65536", "99999999999999999999", "no-such-service", "-1"}) {
    EXPECT_EQ(ResolveTcpService(bad, &port), kSocketErrorNotConnected) << bad;
  }
  if (!std::filesystem::exists("/etc/services")) GTEST_SKIP() << "no services database here";
  ASSERT_EQ(ResolveTcpService("http", &port), 0);
  EXPECT_EQ(port, 80);
}

TEST(TcpClientErrorTest, TheCodesTheServerKnowsGetTheirNumbers) {
  EXPECT_EQ(MapSocketError(EADDRINUSE), 10048);
  EXPECT_EQ(MapSocketError(EAFNOSUPPORT), 10044);
  EXPECT_EQ(MapSocketError(EPROTONOSUPPORT), 10044);
  EXPECT_EQ(MapSocketError(ESOCKTNOSUPPORT), 10044);
  EXPECT_EQ(MapSocketError(ENOTCONN), 10057);
  EXPECT_EQ(MapSocketError(ECONNREFUSED), ECONNREFUSED);
  EXPECT_EQ(MapSocketError(EPIPE), EPIPE);
}

}  // namespace
}  // namespace keep::platform
