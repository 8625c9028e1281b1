// The downloads under way, on the manual clock with fake connections whose unread bytes the test
// sets: one copy per connection, a bound over all, slices only once the client has read, the next
// request let in when the file is out, and a client that reads nothing dropped after a while.
#include "server/services/transfer_pump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

class TransferPumpTest : public ::testing::Test {
 protected:
  TransferPumpTest() {
    std::string log;
    for (int i = 0; i < 40000; ++i) log += "a line of the log, number " + std::to_string(i) + "\r\n";
    test::WriteFileText(env_.install() + "data/ups_log.txt", log);
    TransferPorts ports;
    ports.answer = [this](platform::ConnectionId id, int, const std::string& parameter) {
      answers_[id].push_back(parameter);
      pending_[id] += parameter.size();
      return true;
    };
    ports.pending = [this](platform::ConnectionId id) { return pending_[id]; };
    ports.resume = [this](platform::ConnectionId id) { resumed_.push_back(id); };
    ports.drop = [this](platform::ConnectionId id) { dropped_.push_back(id); };
    pump_ = std::make_unique<TransferPump>(env_.loop(), env_.clock(), env_.install(), std::move(ports));
  }

  // Lets `ms` pass on the loop's clock, a millisecond at a time.
  void Run(int ms) {
    for (int i = 0; i < ms; ++i) {
      env_.clock().AdvanceMs(1);
      env_.loop().RunDue();
    }
  }
  size_t Copies() const {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env_.install() + "srvtemp")) {
      count += entry.is_regular_file() ? 1 : 0;
    }
    return count;
  }

  test::ServerTestEnv env_;
  std::unique_ptr<TransferPump> pump_;
  std::map<platform::ConnectionId, std::vector<std::string>> answers_;
  std::map<platform::ConnectionId, size_t> pending_;
  std::vector<platform::ConnectionId> resumed_;
  std::vector<platform::ConnectionId> dropped_;
};

TEST_F(TransferPumpTest, SlicesGoOutAsTheClientReadsAndItsNextRequestWaitsForTheEnd) {
  pump_->Request(1, "data/ups_log.txt", 200);
  Run(50);
  ASSERT_FALSE(answers_[1].empty());
  EXPECT_EQ("40000", answers_[1].front());
  // The client has read nothing: after the first slices nothing more goes out.
  const size_t sent = answers_[1].size();
  EXPECT_GT(pending_[1], kTransferLowWaterBytes);
  Run(1000);
  EXPECT_EQ(sent, answers_[1].size());
  EXPECT_TRUE(resumed_.empty());
  // It reads, and the rest follows; only then is its next request taken.
  for (int i = 0; i < 2000 && resumed_.empty(); ++i) {
    pending_[1] = 0;
    Run(5);
  }
  EXPECT_EQ(std::vector<platform::ConnectionId>{1}, resumed_);
  EXPECT_EQ("@", answers_[1].back());
  EXPECT_EQ(40002u, answers_[1].size());
  EXPECT_EQ(0u, Copies()) << "the copy goes once sent";
}

TEST_F(TransferPumpTest, AtMostSomeRunAtOnceAndTheOthersWaitTheirTurnInOrder) {
  for (platform::ConnectionId id = 1; id <= kMaxTransfers + 2; ++id) pump_->Request(id, "data/ups_log.txt", 200);
  EXPECT_EQ(kMaxTransfers, pump_->Running());
  EXPECT_EQ(2u, pump_->Waiting());
  EXPECT_EQ(kMaxTransfers, Copies());
  // The first ends (its client reads); the first of those waiting takes its turn.
  for (int i = 0; i < 2000 && resumed_.empty(); ++i) {
    pending_[1] = 0;
    Run(5);
  }
  ASSERT_EQ(std::vector<platform::ConnectionId>{1}, resumed_);
  EXPECT_EQ(kMaxTransfers, pump_->Running());
  EXPECT_FALSE(answers_[kMaxTransfers + 1].empty());
  EXPECT_TRUE(answers_[kMaxTransfers + 2].empty());
  // A client gone while waiting or running frees its place and its copy.
  pump_->Forget(kMaxTransfers + 2);
  pump_->Forget(2);
  EXPECT_EQ(kMaxTransfers - 1, pump_->Running());
  EXPECT_EQ(0u, pump_->Waiting());
  EXPECT_EQ(kMaxTransfers - 1, Copies());
}

TEST_F(TransferPumpTest, AClientThatReadsNothingIsDroppedAfterAWhile) {
  pump_->Request(7, "data/ups_log.txt", 200);
  Run(static_cast<int>(kTransferStallMs) - 100);
  EXPECT_TRUE(dropped_.empty());
  Run(200);
  EXPECT_EQ(std::vector<platform::ConnectionId>{7}, dropped_);
  EXPECT_EQ(0u, pump_->Running());
  EXPECT_EQ(0u, Copies());
}

TEST_F(TransferPumpTest, AFileThatCannotBeCopiedIsAnsweredZeroAndLetsTheNextRequestIn) {
  pump_->Request(3, "data/missing.txt", 201);
  EXPECT_EQ(std::vector<std::string>{"0"}, answers_[3]);
  EXPECT_EQ(std::vector<platform::ConnectionId>{3}, resumed_);
  EXPECT_EQ(0u, pump_->Running());
}

TEST(TransferFolderTest, WhatEarlierRunsLeftIsRemoved) {
  test::ServerTestEnv env;
  std::filesystem::create_directories(env.install() + "srvtemp/kept");
  test::WriteFileText(env.install() + "srvtemp/ups_log.txt.4.9", "left over");
  ClearTransferFolder(env.install());
  EXPECT_FALSE(std::filesystem::exists(env.install() + "srvtemp/ups_log.txt.4.9"));
  EXPECT_TRUE(std::filesystem::is_directory(env.install() + "srvtemp/kept")) << "only files are removed";
}

}  // namespace
}  // namespace keep::server
