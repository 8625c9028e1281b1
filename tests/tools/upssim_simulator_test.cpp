#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tools/upssim/megatec_sim.h"
#include "tools/upssim/simulator.h"

namespace keep::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Optional;

// A variant 3 UPS; time is whatever the test passes.
class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() : simulator_(CreateSimProtocol(3), DefaultSimState(3)) {}

  std::string StatusAnswer() const { return MegatecStatusAnswer(simulator_.State(), 3, 0); }

  Simulator simulator_;
};

TEST_F(SimulatorTest, AnswerIsDueAtOnceWithoutFaults) {
  EXPECT_THAT(simulator_.OnLinkBytes("Q1\r", 500), ElementsAre("Q1"));
  EXPECT_THAT(simulator_.NextDueMs(), Optional(500));
  EXPECT_EQ(simulator_.TakeDue(500), StatusAnswer());
  EXPECT_FALSE(simulator_.NextDueMs().has_value());
  EXPECT_THAT(simulator_.TakeDue(10000), IsEmpty());
}

TEST_F(SimulatorTest, SilentLinkRecordsQueriesAndAppliesThemButAnswersNothing) {
  simulator_.Faults().silent = true;
  EXPECT_THAT(simulator_.OnLinkBytes("Q1\rQ\rI\r", 0), ElementsAre("Q1", "Q", "I"));
  EXPECT_FALSE(simulator_.NextDueMs().has_value());
  EXPECT_THAT(simulator_.TakeDue(100000), IsEmpty());
  EXPECT_FALSE(simulator_.State().beeper_on);
  EXPECT_THAT(simulator_.Queries(), ElementsAre("Q1", "Q", "I"));

  simulator_.Faults().silent = false;
  simulator_.OnLinkBytes("Q1\r", 0);
  EXPECT_EQ(simulator_.TakeDue(0), StatusAnswer());
}

TEST_F(SimulatorTest, GarbagePrecedesEachAnswer) {
  simulator_.Faults().garbage = true;
  simulator_.OnLinkBytes("Q1\rF\r", 0);
  const std::string rating = MegatecRatingAnswer(simulator_.State(), 3);
  EXPECT_EQ(simulator_.TakeDue(0), std::string(kGarbageBytes) + StatusAnswer() + std::string(kGarbageBytes) + rating);
}

TEST_F(SimulatorTest, SplitAnswerComesInPiecesSpacedByTheGap) {
  simulator_.Faults().split_pieces = 3;
  simulator_.Faults().split_gap_ms = 100;
  simulator_.OnLinkBytes("Q1\r", 1000);
  const std::string whole = StatusAnswer();  // 47 bytes: pieces of 16, 16 and 15
  const std::string first = simulator_.TakeDue(1000);
  EXPECT_EQ(first, whole.substr(0, 16));
  EXPECT_THAT(simulator_.TakeDue(1099), IsEmpty());
  EXPECT_THAT(simulator_.NextDueMs(), Optional(1100));
  const std::string second = simulator_.TakeDue(1100);
  EXPECT_EQ(second, whole.substr(16, 16));
  EXPECT_EQ(first + second + simulator_.TakeDue(1200), whole);
}

TEST_F(SimulatorTest, SplitIntoMorePiecesThanBytesSendsOneByteEach) {
  simulator_.Faults().split_pieces = 64;
  simulator_.Faults().split_gap_ms = 1;
  simulator_.OnLinkBytes("F\r", 0);
  const std::string whole = MegatecRatingAnswer(simulator_.State(), 3);
  std::string received;
  for (int64_t now = 0; now < static_cast<int64_t>(whole.size()); ++now) {
    const std::string piece = simulator_.TakeDue(now);
    EXPECT_EQ(piece.size(), 1u) << now;
    received += piece;
  }
  EXPECT_EQ(received, whole);
  EXPECT_FALSE(simulator_.NextDueMs().has_value());
}

TEST_F(SimulatorTest, DelayedAnswerLeavesAfterTheDelay) {
  simulator_.Faults().delay_ms = 500;
  simulator_.OnLinkBytes("Q1\r", 2000);
  EXPECT_THAT(simulator_.TakeDue(2499), IsEmpty());
  EXPECT_EQ(simulator_.TakeDue(2500), StatusAnswer());
}

TEST_F(SimulatorTest, LaterAnswerNeverOvertakesADelayedOne) {
  simulator_.Faults().delay_ms = 500;
  simulator_.OnLinkBytes("I\r", 0);
  simulator_.Faults().delay_ms = 0;
  simulator_.OnLinkBytes("F\r", 10);
  EXPECT_THAT(simulator_.TakeDue(499), IsEmpty());
  EXPECT_EQ(simulator_.TakeDue(500), MegatecIdentAnswer(3) + MegatecRatingAnswer(simulator_.State(), 3));
}

TEST_F(SimulatorTest, ResetLinkDropsPlannedAnswersAndAPartialQuery) {
  simulator_.Faults().delay_ms = 100;
  simulator_.OnLinkBytes("Q1\rQ", 0);
  simulator_.ResetLink();
  EXPECT_FALSE(simulator_.NextDueMs().has_value());
  EXPECT_THAT(simulator_.OnLinkBytes("1\r", 200), ElementsAre("1"));
  EXPECT_THAT(simulator_.TakeDue(1000), IsEmpty());
}

TEST_F(SimulatorTest, QueryLogKeepsOnlyTheLatestQueries) {
  for (size_t i = 0; i < kQueryLogLimit + 5; ++i) simulator_.OnLinkBytes("X" + std::to_string(i) + "\r", 0);
  ASSERT_EQ(simulator_.Queries().size(), kQueryLogLimit);
  EXPECT_EQ(simulator_.Queries().front(), "X5");
  EXPECT_EQ(simulator_.Queries().back(), "X" + std::to_string(kQueryLogLimit + 4));
  simulator_.ClearQueries();
  EXPECT_THAT(simulator_.Queries(), IsEmpty());
}

TEST_F(SimulatorTest, PlannedBytesStayBoundedWhenNobodyTakesThem) {
  simulator_.Faults().delay_ms = 60000;
  std::string flood;
  for (int i = 0; i < 5000; ++i) flood += "Q1\r";  // far more answers than the limit holds
  simulator_.OnLinkBytes(flood, 0);
  const std::string due = simulator_.TakeDue(60000);
  EXPECT_LE(due.size(), kPlannedBytesLimit);
  EXPECT_GT(due.size(), kPlannedBytesLimit - StatusAnswer().size());
  // Room again once taken.
  simulator_.OnLinkBytes("Q1\r", 60000);
  EXPECT_EQ(simulator_.TakeDue(120000), StatusAnswer());
}

}  // namespace
}  // namespace keep::tools
