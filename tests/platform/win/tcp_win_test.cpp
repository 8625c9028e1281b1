// The line server and the client over Winsock on loopback, driven by the loop's WSAPoll poller.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_client.h"
#include "platform/tcp_server.h"

namespace keep::platform {
namespace {

constexpr Ipv4Address kLoopback{{127, 0, 0, 1}};

// Runs the loop's due work until `ready` holds, at most `limit`.
bool RunUntil(EventLoop& loop, const std::function<bool()>& ready,
              std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (loop.RunDue() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Everything a client sent until `count` bytes came or the time ran out.
std::string ReadSome(EventLoop& loop, TcpClient& client, size_t count) {
  std::string got;
  RunUntil(loop, [&] {
    char buffer[4096];
    int n = 0;
    if (client.Read(buffer, sizeof buffer, &n) == 0 && n > 0) got.append(buffer, static_cast<size_t>(n));
    return got.size() >= count;
  });
  return got;
}

// Sends all of `text`; 0 or the code.
int SendText(TcpClient& client, const std::string& text) {
  int sent = 0;
  return client.Send(text.data(), static_cast<int>(text.size()), 5000, &sent);
}

class WindowsTcpTest : public ::testing::Test {
 protected:
  WindowsTcpTest() : clock_(MonotonicClock::CreateReal()), loop_(*clock_) {}

  std::unique_ptr<TcpLineServer> StartServer(TcpLineServerLimits limits = {}) {
    TcpLineServerHandlers handlers;
    handlers.on_connect = [this](ConnectionId id, const std::string& peer) {
      events_.push_back("connect " + peer);
      last_ = id;
    };
    handlers.on_line = [this](ConnectionId id, std::string line) {
      events_.push_back("line " + line);
      if (line == "quit") server_->CloseAfterSending(id);
      server_->Send(id, "got " + line);
    };
    handlers.on_overlong = [this](ConnectionId) { events_.push_back("overlong"); };
    handlers.on_refused = [this](const std::string& peer, Refusal, size_t count) {
      events_.push_back("refused " + peer + " " + std::to_string(count));
    };
    handlers.on_disconnect = [this](ConnectionId) { events_.push_back("disconnect"); };
    auto server = TcpLineServer::Create(loop_, handlers, std::move(limits));
    EXPECT_EQ(server->Start(0, "127.0.0.1"), 0);
    return server;
  }

  std::unique_ptr<TcpClient> Connect(uint16_t port) {
    std::unique_ptr<TcpClient> client;
    EXPECT_EQ(TcpClient::Connect(kLoopback, port, 5000, &client), 0);
    return client;
  }

  bool Saw(const std::string& event) {
    return RunUntil(loop_, [&] {
      for (const std::string& seen : events_) {
        if (seen == event) return true;
      }
      return false;
    });
  }

  std::unique_ptr<MonotonicClock> clock_;
  EventLoop loop_;
  std::unique_ptr<TcpLineServer> server_;
  std::vector<std::string> events_;
  ConnectionId last_ = 0;
};

TEST_F(WindowsTcpTest, LinesGoInAndAnswersComeBackUntilTheClientQuits) {
  server_ = StartServer();
  ASSERT_NE(server_->Port(), 0);
  auto client = Connect(server_->Port());
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(Saw("connect 127.0.0.1"));

  // A line split over two sends, CR LF and bare LF endings, and a big answer the socket takes in parts.
  ASSERT_EQ(SendText(*client, "hel"), 0);
  ASSERT_TRUE(RunUntil(loop_, [&] { return server_->Connections().size() == 1; }));
  ASSERT_EQ(SendText(*client, "lo\r\nworld\n"), 0);
  EXPECT_EQ(ReadSome(loop_, *client, 22), "got hello\r\ngot world\r\n");
  const std::string big(300 * 1024, 'x');
  ASSERT_TRUE(server_->Send(last_, big));
  EXPECT_EQ(ReadSome(loop_, *client, big.size() + 2), big + "\r\n");

  ASSERT_EQ(SendText(*client, "quit\nignored\n"), 0);
  EXPECT_EQ(ReadSome(loop_, *client, 10), "got quit\r\n");
  ASSERT_TRUE(Saw("disconnect"));
  // The server closed its side: the client reads the end.
  bool readable = false;
  ASSERT_EQ(client->WaitReadable(5000, &readable), 0);
  EXPECT_TRUE(readable);
  char byte = 0;
  int n = -1;
  const int code = client->Read(&byte, 1, &n);
  EXPECT_TRUE(code != 0 || n == 0);
  EXPECT_EQ(events_,
            (std::vector<std::string>{"connect 127.0.0.1", "line hello", "line world", "line quit", "disconnect"}));
}

TEST_F(WindowsTcpTest, OverlongLineAndConnectionsBeyondTheLimitAreRefused) {
  TcpLineServerLimits limits;
  limits.max_connections = 1;
  server_ = StartServer(limits);
  auto first = Connect(server_->Port());
  ASSERT_TRUE(Saw("connect 127.0.0.1"));
  auto second = Connect(server_->Port());
  ASSERT_TRUE(Saw("refused 127.0.0.1 1"));

  const std::string overlong(kMaxClientLineBytes + 10, 'a');
  ASSERT_EQ(SendText(*first, overlong), 0);
  ASSERT_TRUE(Saw("overlong"));
  ASSERT_TRUE(Saw("disconnect"));
  EXPECT_TRUE(server_->Connections().empty());
}

TEST_F(WindowsTcpTest, TakenPortRefusedAndClosedPortGivesAnError) {
  server_ = StartServer();
  auto other = TcpLineServer::Create(loop_, {});
  EXPECT_EQ(other->Start(server_->Port(), "127.0.0.1"), kSocketErrorAddressInUse);
  EXPECT_EQ(other->Start(0, "127.0.0.300"), WSAEINVAL);
  EXPECT_EQ(server_->Start(0), WSAEISCONN);

  const uint16_t port = server_->Port();
  server_->Stop();
  EXPECT_EQ(server_->Port(), 0);
  std::unique_ptr<TcpClient> client;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(TcpClient::Connect(kLoopback, port, 10000, &client), WSAECONNREFUSED);
  // Refused at once, not after the time allowed.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(client, nullptr);
  // The same port is free again for a new start.
  EXPECT_EQ(server_->Start(port, "127.0.0.1"), 0);
}

TEST(WindowsResolveTest, AddressesAndServices) {
  Ipv4Address address;
  ASSERT_EQ(ResolveIpv4("127.1", true, &address), 0);
  EXPECT_EQ(address, kLoopback);
  EXPECT_EQ(ResolveIpv4("localhost", true, &address), kSocketErrorNotConnected);
  EXPECT_EQ(ResolveIpv4("", false, &address), kSocketErrorNotConnected);
  EXPECT_EQ(ResolveIpv4(std::string("127.0.0.1\0x", 11), true, &address), kSocketErrorNotConnected);
  uint16_t port = 0;
  ASSERT_EQ(ResolveTcpService("3551", &port), 0);
  EXPECT_EQ(port, 3551);
  EXPECT_EQ(ResolveTcpService("65536", &port), kSocketErrorNotConnected);
  EXPECT_EQ(ResolveTcpService("no-such-service", &port), kSocketErrorNotConnected);
}

}  // namespace
}  // namespace keep::platform
