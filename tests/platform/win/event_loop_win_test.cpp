// The loop sleeping in the WSAPoll poller wakes for tasks posted from other threads and for sockets
// becoming ready, and refuses to watch what is no socket.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_client.h"
#include "platform/tcp_server.h"

namespace keep::platform {
namespace {

TEST(WindowsEventLoopTest, SleepingLoopWakesForPostedTasksAndArrivingLines) {
  const auto clock = MonotonicClock::CreateReal();
  EventLoop loop(*clock);
  std::string line;
  std::atomic<bool> posted_ran{false};
  TcpLineServerHandlers handlers;
  handlers.on_line = [&](ConnectionId, std::string text) {
    line = std::move(text);
    loop.Stop();
  };
  auto server = TcpLineServer::Create(loop, handlers);
  ASSERT_EQ(server->Start(0, "127.0.0.1"), 0);
  const uint16_t port = server->Port();
  // A bound on the whole test, should the loop never wake.
  bool gave_up = false;
  loop.AddTimer(20000, false, [&] {
    gave_up = true;
    loop.Stop();
  });

  std::atomic<bool> client_ok{false};
  bool woken_by_post = false;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The loop waits in the poller with nothing due for 20 s: only the wake-up can run this now.
    loop.Post([&] { posted_ran = true; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!posted_ran && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    woken_by_post = posted_ran;
    std::unique_ptr<TcpClient> client;
    if (TcpClient::Connect(Ipv4Address{{127, 0, 0, 1}}, port, 5000, &client) != 0) return;
    int sent = 0;
    client_ok = client->Send("ping\n", 5, 5000, &sent) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  });
  const auto started = std::chrono::steady_clock::now();
  loop.Run();
  other.join();
  EXPECT_FALSE(gave_up);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(woken_by_post);
  EXPECT_TRUE(client_ok);
  EXPECT_EQ(line, "ping");
}

TEST(WindowsEventLoopTest, WhatIsNoSocketIsNotWatched) {
  const auto clock = MonotonicClock::CreateReal();
  EventLoop loop(*clock);
  EXPECT_EQ(loop.Watch(12345, EventLoop::kReadable, [](unsigned) {}), 0u);
  EXPECT_EQ(loop.Watch(-1, EventLoop::kReadable, [](unsigned) {}), 0u);
}

}  // namespace
}  // namespace keep::platform
