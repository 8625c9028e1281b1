// The protocol's listener over loopback on a manual clock: a connection silent for the idle limit is
// dropped while a talking one stays (the end-to-end tests cover the rest of its road with keepd).
#include "server/services/nut/nut_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_client.h"
#include "tests/support/child_process.h"

namespace keep::server::nut {
namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kLimit{10000};

class NutListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NutListenerConfig config;
    config.ups_name = "ups";
    config.ups_description = "test unit";
    config.monitor_user = "mon";
    config.monitor_password = "pw";
    config.version = "keepd 0";
    NutListenerPorts ports;
    ports.data_state = [this] { return state_; };
    ports.variables = [] { return std::vector<NutVariable>{{"ups.status", "OB LB", false}}; };
    listener_ = std::make_unique<NutListener>(loop_, clock_, std::move(config), std::move(ports));
    ASSERT_EQ(0, listener_->Start(0, "127.0.0.1"));
    ASSERT_NE(0, listener_->Port());
  }

  std::unique_ptr<platform::TcpClient> Connect() {
    platform::Ipv4Address loopback;
    loopback.octets = {127, 0, 0, 1};
    std::unique_ptr<platform::TcpClient> client;
    EXPECT_EQ(0, platform::TcpClient::Connect(loopback, listener_->Port(), 5000, &client));
    const size_t before = listener_->ConnectionCount();
    EXPECT_TRUE(RunUntil([&] { return listener_->ConnectionCount() > before; }));
    return client;
  }
  template <typename Condition>
  bool RunUntil(Condition condition) {
    return test::WaitUntil(
        [&] {
          loop_.RunDue();
          return condition();
        },
        kLimit);
  }
  void Send(platform::TcpClient& client, const std::string& bytes) {
    int sent = 0;
    ASSERT_EQ(0, client.Send(bytes.data(), static_cast<int>(bytes.size()), 5000, &sent));
  }
  // What the client receives until `lines` line ends came, or until the server closed (`closed`).
  std::string Receive(platform::TcpClient& client, int lines, bool* closed = nullptr) {
    std::string received;
    bool ended = false;
    RunUntil([&] {
      bool readable = false;
      if (client.WaitReadable(1, &readable) != 0) return ended = true;
      if (readable) {
        char buffer[4096];
        int count = 0;
        if (client.Read(buffer, sizeof buffer, &count) != 0 || count == 0) return ended = true;
        received.append(buffer, static_cast<size_t>(count));
      }
      // Asked whether it closes: wait for the end; else for the lines.
      return closed == nullptr && static_cast<int>(std::count(received.begin(), received.end(), '\n')) >= lines;
    });
    if (closed != nullptr) *closed = ended;
    return received;
  }

  platform::ManualClock clock_;
  platform::EventLoop loop_{clock_};
  NutDataState state_ = NutDataState::kFresh;
  std::unique_ptr<NutListener> listener_;
};

TEST_F(NutListenerTest, ASilentConnectionIsDroppedAfterTheIdleLimitAndATalkingOneStays) {
  auto silent = Connect();
  auto talking = Connect();
  ASSERT_TRUE(silent && talking);
  clock_.AdvanceMs(kNutIdleMs / 2);
  Send(*talking, "VER\n");
  EXPECT_EQ("keepd 0\r\n", Receive(*talking, 1));
  clock_.AdvanceMs(kNutIdleMs / 2 - 1);
  loop_.RunDue();
  EXPECT_EQ(2u, listener_->ConnectionCount());
  clock_.AdvanceMs(1);
  bool closed = false;
  EXPECT_EQ("", Receive(*silent, 1, &closed));
  EXPECT_TRUE(closed);
  EXPECT_EQ(1u, listener_->ConnectionCount());
  clock_.AdvanceMs(kNutIdleMs / 2);
  EXPECT_TRUE(RunUntil([&] { return listener_->ConnectionCount() == 0; }));
  // Nothing is left planned once no connection is open.
  EXPECT_EQ(-1, loop_.MsUntilNextWork());
}

}  // namespace
}  // namespace keep::server::nut
