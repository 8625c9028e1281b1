#include "platform/tcp_server.h"

#include <errno.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_client.h"
#include "tests/support/loop_runner.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/pty_pair.h"

namespace keep::platform {
namespace {

using namespace std::chrono_literals;
using test::Peer;
using ::testing::ElementsAre;

constexpr std::chrono::milliseconds kLimit{10000};

class TcpLineServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = TcpLineServer::Create(loop_, Handlers());
    ASSERT_EQ(server_->Start(0), 0);
    ASSERT_NE(server_->Port(), 0);
  }
  void TearDown() override { server_->Stop(); }

  TcpLineServerHandlers Handlers() {
    TcpLineServerHandlers handlers;
    handlers.on_connect = [this](ConnectionId id, const std::string& peer) {
      ids_.push_back(id);
      peers_.push_back(peer);
    };
    handlers.on_line = [this](ConnectionId id, std::string line) {
      items_.push_back(line);
      ++lines_seen_;
      if (on_line_) on_line_(id, line);
    };
    handlers.on_overlong = [this](ConnectionId id) {
      items_.push_back("overlong");
      server_->Send(id, "<|502|>");
    };
    handlers.on_disconnect = [this](ConnectionId id) { gone_.push_back(id); };
    return handlers;
  }

  // Answers every line with "echo " and the line.
  void Echo() {
    on_line_ = [this](ConnectionId id, const std::string& line) { server_->Send(id, "echo " + line); };
  }

  // Drives the loop on the real clock until `ready` holds or the limit passes.
  bool RunUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit = kLimit) {
    return test::RunLoopUntil(loop_, ready, limit);
  }

  // Reads until `count` line ends came (or the limit passed).
  static std::string ReadLines(Peer& peer, size_t count) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) < count &&
           std::chrono::steady_clock::now() < deadline) {
      const std::string more = peer.ReadSome(100ms);
      text += more;
    }
    return text;
  }

  // A client that the server has announced; its id in *id.
  std::unique_ptr<Peer> Connect(ConnectionId* id) {
    const size_t before = ids_.size();
    std::unique_ptr<Peer> peer = Peer::Connect(server_->Port());
    EXPECT_NE(peer, nullptr);
    EXPECT_TRUE(RunUntil([&] { return ids_.size() > before; }));
    *id = ids_.empty() ? 0 : ids_.back();
    return peer;
  }

  std::unique_ptr<MonotonicClock> clock_ = MonotonicClock::CreateReal();
  EventLoop loop_{*clock_};
  std::unique_ptr<TcpLineServer> server_;
  std::function<void(ConnectionId, const std::string&)> on_line_;
  std::vector<ConnectionId> ids_;
  std::vector<std::string> peers_;
  std::vector<std::string> items_;
  size_t lines_seen_ = 0;
  std::vector<ConnectionId> gone_;
};

TEST_F(TcpLineServerTest, LinesArriveInOrderWithOneCrDroppedAndAnUnendedTailIsNot) {
  ConnectionId id = 0;
  auto peer = Connect(&id);
  EXPECT_THAT(peers_, ElementsAre("127.0.0.1"));
  EXPECT_THAT(server_->Connections(), ElementsAre(ClientConnection{id, "127.0.0.1"}));
  peer->Send("a\r\nb\nc\r\r\n\r\n");
  peer->Send("split ");
  peer->Send("line\nno end");
  ASSERT_TRUE(RunUntil([&] { return items_.size() == 5; }));
  peer.reset();
  ASSERT_TRUE(RunUntil([&] { return !gone_.empty(); }));
  EXPECT_THAT(items_, ElementsAre("a", "b", "c\r", "", "split line"));
  EXPECT_THAT(gone_, ElementsAre(id));
  EXPECT_TRUE(server_->Connections().empty());
  EXPECT_FALSE(server_->Send(id, "late"));
}

TEST_F(TcpLineServerTest, TwoInterleavedClientsEachGetTheirOwnAnswersInOrder) {
  Echo();
  ConnectionId first = 0;
  ConnectionId second = 0;
  auto a = Connect(&first);
  auto b = Connect(&second);
  EXPECT_LT(first, second);
  EXPECT_THAT(server_->Connections(),
              ElementsAre(ClientConnection{first, "127.0.0.1"}, ClientConnection{second, "127.0.0.1"}));
  a->Send("a1\n");
  b->Send("b1\n");
  a->Send("a2\n");
  b->Send("b2\n");
  ASSERT_TRUE(RunUntil([&] { return lines_seen_ == 4; }));
  EXPECT_EQ(ReadLines(*a, 2), "echo a1\r\necho a2\r\n");
  EXPECT_EQ(ReadLines(*b, 2), "echo b1\r\necho b2\r\n");
}

TEST_F(TcpLineServerTest, AnOverlongLineIsAnsweredThenTheConnectionCloses) {
  ConnectionId id = 0;
  auto peer = Connect(&id);
  // The longest line there may be still arrives, its CR dropped.
  peer->Send(std::string(kMaxClientLineBytes, 'y') + "\r\n");
  ASSERT_TRUE(RunUntil([&] { return items_.size() == 1; }));
  EXPECT_EQ(items_[0].size(), kMaxClientLineBytes);
  // One byte more, and what follows it, never does.
  peer->Send(std::string(kMaxClientLineBytes + 1, 'x') + "\nafter\n");
  ASSERT_TRUE(RunUntil([&] { return items_.size() == 2; }));
  EXPECT_EQ(peer->ReadUntil('\n'), "<|502|>\r\n");
  EXPECT_TRUE(peer->SeesEnd(kLimit));
  peer.reset();
  ASSERT_TRUE(RunUntil([&] { return !gone_.empty(); }));
  ASSERT_EQ(items_.size(), 2u);
  EXPECT_EQ(items_[1], "overlong");
  EXPECT_THAT(gone_, ElementsAre(id));
}

TEST_F(TcpLineServerTest, ALineWithoutEndLongerThanTheLimitIsOverlongWithoutWaitingForItsEnd) {
  ConnectionId id = 0;
  auto peer = Connect(&id);
  peer->Send(std::string(3 * kMaxClientLineBytes, 'z'));
  ASSERT_TRUE(RunUntil([&] { return !items_.empty(); }));
  EXPECT_THAT(items_, ElementsAre("overlong"));
  EXPECT_EQ(peer->ReadUntil('\n'), "<|502|>\r\n");
  EXPECT_TRUE(peer->SeesEnd(kLimit));
}

TEST_F(TcpLineServerTest, AClientThatStopsReadingIsDroppedWhileOthersKeepGettingAnswers) {
  Echo();
  ConnectionId stuck_id = 0;
  ConnectionId fine_id = 0;
  auto stuck = Connect(&stuck_id);
  auto fine = Connect(&fine_id);
  auto round_trip_within_a_second = [&](const std::string& text) {
    const auto start = std::chrono::steady_clock::now();
    const size_t before = lines_seen_;
    fine->Send(text + "\n");
    if (!RunUntil([&] { return lines_seen_ > before; }, 1000ms)) return false;
    const std::string answer = fine->ReadUntil('\n', 1000ms);
    return answer == "echo " + text + "\r\n" && std::chrono::steady_clock::now() - start < 1s;
  };
  const std::string block(32 * 1024, 'd');
  bool dropped = false;
  // Far more than any socket buffers take: the stuck client must overflow its send buffer.
  for (int i = 0; i < 4096 && !dropped; ++i) {
    dropped = !server_->Send(stuck_id, block);
    if (i % 64 == 0) {
      ASSERT_TRUE(round_trip_within_a_second("ping " + std::to_string(i)));
    }
  }
  ASSERT_TRUE(dropped);
  EXPECT_FALSE(server_->Send(stuck_id, "x"));
  ASSERT_TRUE(RunUntil([&] { return !gone_.empty(); }));
  EXPECT_THAT(gone_, ElementsAre(stuck_id));
  EXPECT_THAT(server_->Connections(), ElementsAre(ClientConnection{fine_id, "127.0.0.1"}));
  EXPECT_TRUE(round_trip_within_a_second("after"));
}

TEST_F(TcpLineServerTest, ARawBlockTakesExactlyItsBytesBeforeLinesGoOn) {
  std::vector<std::string> order;
  on_line_ = [&](ConnectionId id, const std::string& line) {
    order.push_back("line " + line);
    if (line.rfind("upload ", 0) == 0) {
      const size_t count = std::stoul(line.substr(7));
      EXPECT_TRUE(server_->ReadRawNext(id, count, [&](std::string block) { order.push_back("raw " + block); }));
    }
  };
  ConnectionId id = 0;
  auto peer = Connect(&id);
  // Line and block in one packet; the block holds line ends that must not split it.
  peer->Send("upload 7\r\nA\nB\r\nCDnext\n");
  ASSERT_TRUE(RunUntil([&] { return order.size() == 3; }));
  EXPECT_THAT(order, ElementsAre("line upload 7", "raw A\nB\r\nCD", "line next"));

  // The block trickling in after its line.
  order.clear();
  peer->Send("upload 4\n");
  ASSERT_TRUE(RunUntil([&] { return order.size() == 1; }));
  peer->Send("ab");
  RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(order.size(), 1u) << "half a block is not delivered";
  peer->Send("cdafter\n");
  ASSERT_TRUE(RunUntil([&] { return order.size() == 3; }));
  EXPECT_THAT(order, ElementsAre("line upload 4", "raw abcd", "line after"));
}

TEST_F(TcpLineServerTest, ReadRawNextIsRefusedOutsideTheConnectionsHandlerAndForBadCounts) {
  ConnectionId id = 0;
  auto peer = Connect(&id);
  EXPECT_FALSE(server_->ReadRawNext(id, 4, nullptr));
  bool zero = true;
  bool huge = true;
  on_line_ = [&](ConnectionId line_id, const std::string&) {
    zero = server_->ReadRawNext(line_id, 0, nullptr);
    huge = server_->ReadRawNext(line_id, kMaxRawBlockBytes + 1, nullptr);
  };
  peer->Send("one\ntwo\n");
  ASSERT_TRUE(RunUntil([&] { return items_.size() == 2; }));
  EXPECT_FALSE(zero);
  EXPECT_FALSE(huge);
  EXPECT_THAT(items_, ElementsAre("one", "two")) << "refused requests leave the lines alone";
}

TEST_F(TcpLineServerTest, ManyClientsConnectingAtOnceAreEachAnswered) {
  Echo();
  constexpr int kClients = 200;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < kClients; ++i) {
    peers.push_back(Peer::Connect(server_->Port()));
    ASSERT_NE(peers.back(), nullptr) << i;
  }
  for (int i = 0; i < kClients; ++i) peers[i]->Send("hello " + std::to_string(i) + "\n");
  ASSERT_TRUE(RunUntil([&] { return lines_seen_ == kClients; }));
  EXPECT_EQ(ids_.size(), static_cast<size_t>(kClients));
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(peers[i]->ReadUntil('\n'), "echo hello " + std::to_string(i) + "\r\n");
  }
}

TEST_F(TcpLineServerTest, ClosingDropsTheClientAndClosingAfterSendingDeliversFirst) {
  ConnectionId closed_id = 0;
  ConnectionId polite_id = 0;
  auto closed = Connect(&closed_id);
  auto polite = Connect(&polite_id);
  server_->Close(closed_id);
  EXPECT_FALSE(server_->Send(closed_id, "x"));
  EXPECT_TRUE(server_->Send(polite_id, "bye"));
  server_->CloseAfterSending(polite_id);
  EXPECT_TRUE(server_->Connections().empty());
  EXPECT_TRUE(closed->SeesEnd(kLimit));
  EXPECT_EQ(polite->ReadUntil('\n'), "bye\r\n");
  EXPECT_TRUE(polite->SeesEnd(kLimit));
  polite.reset();
  ASSERT_TRUE(RunUntil([&] { return gone_.size() == 2; }));
  EXPECT_THAT(gone_, ::testing::UnorderedElementsAre(closed_id, polite_id));
  // The ids of gone clients are never given again.
  ConnectionId next = 0;
  auto again = Connect(&next);
  EXPECT_GT(next, polite_id);
}

TEST_F(TcpLineServerTest, APortInUseGivesTheAddressInUseCode) {
  auto other = TcpLineServer::Create(loop_, {});
  EXPECT_EQ(other->Start(server_->Port()), kSocketErrorAddressInUse);
  EXPECT_EQ(other->Port(), 0);
  EXPECT_EQ(server_->Start(0), EISCONN);
}

TEST_F(TcpLineServerTest, ClientsCostNoThreadAndNoHandlerRunsAfterStop) {
  Echo();
  auto connect_three = [&] {
    std::vector<std::unique_ptr<Peer>> peers;
    const size_t before = ids_.size();
    for (int i = 0; i < 3; ++i) peers.push_back(Peer::Connect(server_->Port()));
    EXPECT_TRUE(RunUntil([&] { return ids_.size() == before + 3; }));
    return peers;
  };
  connect_three();  // warm-up: whatever the process starts once is running now
  server_->Stop();
  const int threads = test::CountProcessThreads();

  ASSERT_EQ(server_->Start(0), 0);
  auto peers = connect_three();
  EXPECT_EQ(test::CountProcessThreads(), threads) << "listening and serving run on the loop's thread";
  for (auto& peer : peers) peer->Send("late\n");
  const size_t lines = lines_seen_;
  const size_t gone = gone_.size();
  server_->Stop();
  EXPECT_TRUE(test::ThreadsSettleAt(threads)) << test::CountProcessThreads();
  EXPECT_EQ(server_->Port(), 0);
  EXPECT_TRUE(server_->Connections().empty());
  RunUntil([] { return false; }, 100ms);
  EXPECT_EQ(lines_seen_, lines);
  EXPECT_EQ(gone_.size(), gone);
  for (auto& peer : peers) EXPECT_EQ(peer->ReadSome(kLimit), "") << "closed";
}

// --- Bounds ---

class BoundedTcpLineServerTest : public TcpLineServerTest {
 protected:
  void SetUp() override {}
  // Starts a server with `limits` (and a refusal recorder) in place of the fixture's.
  void StartWith(TcpLineServerLimits limits) {
    TcpLineServerHandlers handlers = Handlers();
    handlers.on_refused = [this](const std::string& peer, Refusal reason, size_t count) {
      refused_.push_back({peer, reason, count});
    };
    server_ = TcpLineServer::Create(loop_, std::move(handlers), std::move(limits));
    ASSERT_EQ(server_->Start(0), 0);
  }
  // Sends `text` as a line and reads the answer's line, running the loop between.
  std::string Ask(test::Peer& peer, const std::string& text) {
    const size_t before = lines_seen_;
    peer.Send(text + "\n");
    if (!RunUntil([&] { return lines_seen_ > before; })) return "";
    return peer.ReadUntil('\n');
  }
  size_t RefusedCount(Refusal reason) const {
    size_t count = 0;
    for (const Refused& report : refused_) count += report.reason == reason ? report.count : 0;
    return count;
  }

  struct Refused {
    std::string peer;
    Refusal reason;
    size_t count;
  };
  std::vector<Refused> refused_;
};

TEST_F(BoundedTcpLineServerTest, ClientsOverTheCapOrNotAdmittedAreClosedAtOnceAndReportedTogether) {
  TcpLineServerLimits limits;
  limits.max_connections = 2;
  bool admit = true;
  limits.admit = [&admit](const std::string&) { return admit; };
  StartWith(std::move(limits));
  Echo();
  ConnectionId first_id = 0;
  ConnectionId second_id = 0;
  auto first = Connect(&first_id);
  auto second = Connect(&second_id);
  std::vector<std::unique_ptr<test::Peer>> over;
  for (int i = 0; i < 20; ++i) over.push_back(test::Peer::Connect(server_->Port()));
  ASSERT_TRUE(RunUntil([&] { return RefusedCount(Refusal::kTooMany) == 20; }));
  for (auto& peer : over) {
    ASSERT_NE(nullptr, peer);
    EXPECT_TRUE(peer->SeesEnd(kLimit));
  }
  EXPECT_LT(refused_.size(), 20u) << "reports are coalesced";
  EXPECT_EQ("127.0.0.1", refused_.front().peer);
  // Those within the cap are served throughout; once one leaves, a newcomer is.
  EXPECT_EQ("echo still\r\n", Ask(*first, "still"));
  second.reset();
  ASSERT_TRUE(RunUntil([&] { return gone_.size() == 1; }));
  ConnectionId third_id = 0;
  auto third = Connect(&third_id);
  EXPECT_EQ("echo new\r\n", Ask(*third, "new"));

  admit = false;
  third.reset();
  ASSERT_TRUE(RunUntil([&] { return gone_.size() == 2; }));
  auto outsider = test::Peer::Connect(server_->Port());
  ASSERT_NE(nullptr, outsider);
  ASSERT_TRUE(RunUntil([&] { return RefusedCount(Refusal::kNotAdmitted) == 1; }));
  EXPECT_TRUE(outsider->SeesEnd(kLimit));
}

TEST_F(BoundedTcpLineServerTest, AHeldClientsNextLineWaitsForResumeAndPendingShowsWhatItHasNotRead) {
  TcpLineServerLimits limits;
  limits.send_buffer_bytes = 32 * 1024 * 1024;
  StartWith(std::move(limits));
  on_line_ = [this](ConnectionId id, const std::string& line) {
    if (line == "hold") {
      EXPECT_TRUE(server_->HoldItems(id));
      // More than the sockets' buffers take.
      server_->Send(id, std::string(16 * 1024 * 1024, 'x'));
    }
  };
  ConnectionId id = 0;
  auto peer = Connect(&id);
  EXPECT_FALSE(server_->HoldItems(id)) << "only inside the client's handler";
  peer->Send("hold\nnext\n");
  ASSERT_TRUE(RunUntil([&] { return items_.size() == 1; }));
  RunUntil([] { return false; }, 200ms);
  EXPECT_THAT(items_, ElementsAre("hold"));
  // The client has not read: most of the answer still waits in the server.
  EXPECT_GT(server_->Pending(id), 0u);
  server_->ResumeItems(id);
  ASSERT_TRUE(RunUntil([&] { return items_.size() == 2; }));
  EXPECT_THAT(items_, ElementsAre("hold", "next"));
}

TEST_F(BoundedTcpLineServerTest, TheClientWhoseAnswerWouldPassTheBoundOverAllIsDropped) {
  TcpLineServerLimits limits;
  limits.send_buffer_bytes = 8 * 1024 * 1024;
  limits.total_send_bytes = 10 * 1024 * 1024;
  StartWith(std::move(limits));
  Echo();
  ConnectionId a_id = 0;
  ConnectionId b_id = 0;
  ConnectionId reader_id = 0;
  auto a = Connect(&a_id);
  auto b = Connect(&b_id);
  auto reader = Connect(&reader_id);
  const std::string block(64 * 1024, 'z');
  // Neither of the two reads; each stays under its own bound, but together they cannot.
  size_t a_sent = 0;
  while (a_sent < 6 * 1024 * 1024 && server_->Send(a_id, block)) a_sent += block.size();
  bool b_dropped = false;
  for (int i = 0; i < 200 && !b_dropped; ++i) b_dropped = !server_->Send(b_id, block);
  EXPECT_TRUE(b_dropped);
  EXPECT_TRUE(server_->Send(a_id, "a is within bounds still"));
  ASSERT_TRUE(RunUntil([&] { return std::find(gone_.begin(), gone_.end(), b_id) != gone_.end(); }));
  EXPECT_EQ("echo ping\r\n", Ask(*reader, "ping"));
}

TEST_F(BoundedTcpLineServerTest, ListensOnTheOneAddressGiven) {
  server_ = TcpLineServer::Create(loop_, Handlers());
  EXPECT_EQ(EINVAL, server_->Start(0, "127.0.0.256"));
  ASSERT_EQ(0, server_->Start(0, "127.0.0.2"));
  EXPECT_EQ(nullptr, test::Peer::Connect(server_->Port())) << "nothing listens on 127.0.0.1";
}

}  // namespace
}  // namespace keep::platform
