#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/text_lists.h"
#include "tools/upssim/megatec_sim.h"
#include "tools/upssim/sim_numbers.h"
#include "tools/upssim/sim_protocol.h"

namespace keep::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// One variant's protocol and state, fed as a link would feed them.
class MegatecSimTest : public ::testing::Test {
 protected:
  void Use(int variant) {
    variant_ = variant;
    protocol_ = CreateSimProtocol(variant);
    state_ = DefaultSimState(variant);
  }
  std::vector<SimExchange> Feed(std::string_view bytes, int64_t now_ms = 0) {
    return protocol_->OnBytes(bytes, state_, now_ms);
  }
  // The answer to one whole query; fails the test when the query was not taken as exactly one.
  std::string Ask(std::string_view query, int64_t now_ms = 0) {
    std::vector<SimExchange> exchanges = Feed(std::string(query) + "\r", now_ms);
    EXPECT_THAT(exchanges, SizeIs(1)) << query;
    return exchanges.empty() ? std::string() : exchanges[0].answer;
  }
  std::string Bits(int64_t now_ms = 0) {
    const std::string answer = Ask(MegatecStatusQuery(variant_), now_ms);
    return answer.size() > 9 ? answer.substr(answer.size() - 9, 8) : answer;
  }

  int variant_ = 1;
  std::unique_ptr<SimProtocol> protocol_;
  SimState state_;
};

TEST_F(MegatecSimTest, StatusAnswerCarriesTheReadingsInFixedWidthFields) {
  Use(3);
  EXPECT_EQ(Ask("Q1"), "(230.4 140.0 229.9 034 50.1 2.27 35.0 00000001\r");
  state_.input_voltage = 99.04;
  state_.load_percent = 5;
  state_.temperature = -5;
  state_.battery_voltage = 13.6;
  EXPECT_EQ(Ask("Q1"), "(099.0 140.0 229.9 005 50.1 13.60 -5.0 00000001\r");
}

TEST_F(MegatecSimTest, VariantOneReportsTheFrequencyWhereOthersReportTheTemperature) {
  Use(1);
  state_.input_frequency = 60.0;
  state_.temperature = 41.0;
  EXPECT_EQ(Ask("Q1"), "(230.4 140.0 229.9 034 60.0 2.27 60.0 00000001\r");
  Use(7);
  state_.temperature = 41.0;
  EXPECT_EQ(Ask("Q1"), "(230.4 140.0 229.9 034 50.1 13.60 41.0 00001001\r");
}

TEST_F(MegatecSimTest, EachVariantAnswersOnlyItsOwnStatusQueryWithEightFields) {
  for (const int variant : {1, 3, 7, 8}) {
    Use(variant);
    const std::string own(MegatecStatusQuery(variant));
    const std::string other = own == "QS" ? "Q1" : "QS";
    const std::string answer = Ask(own);
    ASSERT_FALSE(answer.empty()) << variant;
    EXPECT_EQ(answer.front(), '(');
    EXPECT_EQ(answer.back(), '\r');
    TStringList fields;
    SplitText(' ', answer.substr(1, answer.size() - 2), fields, true);
    EXPECT_THAT(fields, SizeIs(8)) << variant;
    EXPECT_THAT(Ask(other), IsEmpty()) << variant;
  }
  EXPECT_EQ(MegatecStatusQuery(8), "QS");
}

TEST_F(MegatecSimTest, StatusBitsFollowThePowerSourceAndTheFlags) {
  Use(3);
  EXPECT_EQ(Bits(), "00000001");
  state_.power = PowerSource::kBattery;
  EXPECT_EQ(Bits(), "10000001");
  state_.power = PowerSource::kLowBattery;
  EXPECT_EQ(Bits(), "11000001");
  state_.power = PowerSource::kBypass;
  EXPECT_EQ(Bits(), "00100001");
  state_.power = PowerSource::kMains;
  state_.ups_failed = true;
  state_.standby_type = true;
  state_.test_held = true;
  state_.shutdown_active = true;
  state_.beeper_on = false;
  EXPECT_EQ(Bits(), "00011110");
}

TEST_F(MegatecSimTest, IdentityAnswerHasThreePaddedFieldsWithoutBlanksInside) {
  Use(1);
  const std::string answer = Ask("I");
  EXPECT_EQ(answer, "#KEEP            LG-1000    V1.00     \r");
  TStringList fields;
  SplitText(' ', answer.substr(1, answer.size() - 2), fields, true);
  std::erase(fields, "");
  EXPECT_THAT(fields, ElementsAre("KEEP", "LG-1000", "V1.00"));
  Use(8);
  EXPECT_EQ(Ask("I").substr(17, 10), "BG-600    ");
}

TEST_F(MegatecSimTest, RatingAnswerReportsTheNominalBatteryVoltage) {
  Use(3);
  EXPECT_EQ(Ask("F"), "#230.0 003 24.00 50.0\r");
  Use(8);
  EXPECT_EQ(Ask("F"), "#230.0 002 12.00 50.0\r");
  state_.battery_nominal = 36;
  EXPECT_EQ(Ask("F"), "#230.0 002 36.00 50.0\r");
}

TEST_F(MegatecSimTest, ShortTestSetsTheTestBitForTenSecondsWithoutAnswer) {
  Use(3);
  EXPECT_THAT(Ask("T", 1000), IsEmpty());
  EXPECT_EQ(Bits(1000), "00000101");
  EXPECT_EQ(Bits(1000 + kShortTestMs - 1), "00000101");
  EXPECT_EQ(Bits(1000 + kShortTestMs), "00000001");
  Ask("T", 20000);
  EXPECT_THAT(Ask("CT", 21000), IsEmpty());
  EXPECT_EQ(Bits(21000), "00000001");
}

TEST_F(MegatecSimTest, BeeperQueryTogglesTheBeeperBitWithoutAnswer) {
  Use(8);
  EXPECT_THAT(Ask("Q"), IsEmpty());
  EXPECT_EQ(Bits(), "00001000");
  Ask("Q");
  EXPECT_EQ(Bits(), "00001001");
}

TEST_F(MegatecSimTest, ShutdownQuerySetsTheShutdownBitUntilCancelled) {
  Use(1);
  EXPECT_THAT(Ask("S02R0010"), IsEmpty());
  EXPECT_TRUE(state_.shutdown_active);
  EXPECT_EQ(state_.shutdown_query, "S02R0010");
  EXPECT_EQ(Bits(), "00000011");
  EXPECT_THAT(Ask("C"), IsEmpty());
  EXPECT_EQ(Bits(), "00000001");
  for (const char* accepted : {"S.5", "S5", "S10R1", "S01R9999"}) {
    state_.shutdown_active = false;
    Ask(accepted);
    EXPECT_TRUE(state_.shutdown_active) << accepted;
  }
}

TEST_F(MegatecSimTest, MalformedShutdownQueriesChangeNothing) {
  Use(1);
  for (const char* refused : {"S", "S123", "S.", "S.55", "Sx", "S02R", "S02R12345", "S02Rx1", "S02R0010R1"}) {
    EXPECT_THAT(Ask(refused), IsEmpty()) << refused;
    EXPECT_FALSE(state_.shutdown_active) << refused;
  }
  EXPECT_TRUE(state_.shutdown_query.empty());
}

TEST_F(MegatecSimTest, UnknownQueriesAreReportedButNotAnswered) {
  Use(3);
  const auto exchanges = Feed("M\rq1\rQ1 \r");
  ASSERT_THAT(exchanges, SizeIs(2));  // the blank ends "Q1" as noise would; " " alone is no query
  EXPECT_EQ(exchanges[0].query, "M");
  EXPECT_THAT(exchanges[0].answer, IsEmpty());
  EXPECT_EQ(exchanges[1].query, "q1");
  EXPECT_THAT(exchanges[1].answer, IsEmpty());
}

TEST_F(MegatecSimTest, QueriesMayArriveInPiecesOrSeveralAtOnce) {
  Use(3);
  EXPECT_THAT(Feed("Q"), IsEmpty());
  const auto completed = Feed("1\rI\rF");
  ASSERT_THAT(completed, SizeIs(2));
  EXPECT_EQ(completed[0].query, "Q1");
  EXPECT_EQ(completed[0].answer.front(), '(');
  EXPECT_EQ(completed[1].query, "I");
  const auto last = Feed("\r");
  ASSERT_THAT(last, SizeIs(1));
  EXPECT_EQ(last[0].query, "F");
}

TEST_F(MegatecSimTest, NoiseBeforeAQueryAndLoneCarriageReturnsAreIgnored) {
  Use(3);
  const auto exchanges = Feed(std::string("\r\r\xFF\x00xyz\x01Q1\r\n\r", 13));
  ASSERT_THAT(exchanges, SizeIs(1));
  EXPECT_EQ(exchanges[0].query, "Q1");
  EXPECT_FALSE(exchanges[0].answer.empty());
}

TEST_F(MegatecSimTest, OverlongQueryIsDroppedUpToItsCarriageReturn) {
  Use(3);
  const std::string longest(kMaxQueryBytes, 'A');
  const auto kept = Feed(longest + "\r");
  ASSERT_THAT(kept, SizeIs(1));
  EXPECT_EQ(kept[0].query, longest);

  // The tail after the limit must not come out as a query of its own.
  const auto dropped = Feed(std::string(kMaxQueryBytes + 1, 'A') + "Q1\rQ1\r");
  ASSERT_THAT(dropped, SizeIs(1));
  EXPECT_EQ(dropped[0].query, "Q1");
}

TEST_F(MegatecSimTest, ResetForgetsAPartialQuery) {
  Use(3);
  Feed("Q");
  protocol_->Reset();
  const auto exchanges = Feed("1\r");
  ASSERT_THAT(exchanges, SizeIs(1));
  EXPECT_EQ(exchanges[0].query, "1");
}

TEST_F(MegatecSimTest, RandomBytesNeverYieldAnOverlongOrUnprintableQuery) {
  Use(1);
  std::mt19937 random(1234);
  std::string bytes;
  for (int i = 0; i < 200000; ++i) {
    // Mostly query letters and CRs, so that many queries complete.
    const int pick = static_cast<int>(random() % 10);
    bytes += pick < 2 ? '\r' : pick < 4 ? static_cast<char>(random() % 256) : "Q1ISTFCR0"[random() % 9];
  }
  size_t count = 0;
  for (size_t at = 0; at < bytes.size(); at += 997) {
    for (const SimExchange& exchange : Feed(std::string_view(bytes).substr(at, 997))) {
      ++count;
      ASSERT_FALSE(exchange.query.empty());
      ASSERT_LE(exchange.query.size(), kMaxQueryBytes);
      for (const char c : exchange.query) ASSERT_TRUE(c > 0x20 && c < 0x7F);
      if (!exchange.answer.empty()) {
        ASSERT_EQ(exchange.answer.back(), '\r');
      }
    }
  }
  EXPECT_GT(count, 1000u);
}

TEST(SimNumbersTest, FormatFixedPadsWithZerosAfterTheSign) {
  EXPECT_EQ(FormatFixed(34, 0, 3), "034");
  EXPECT_EQ(FormatFixed(1234, 0, 3), "1234");
  EXPECT_EQ(FormatFixed(2.274, 2, 4), "2.27");
  EXPECT_EQ(FormatFixed(-5, 1, 5), "-05.0");
  EXPECT_EQ(FormatFixed(-0.04, 1, 4), "00.0");
  EXPECT_EQ(FormatFixed(229.96, 1, 5), "230.0");
  EXPECT_EQ(FormatFixed(7.5, 1, 0), "7.5");
}

TEST(SimNumbersTest, ParsersAcceptOnlyPlainNumbers) {
  EXPECT_EQ(ParseDecimal("230.4"), 230.4);
  EXPECT_EQ(ParseDecimal("-3"), -3.0);
  for (const char* refused : {"", "-", "+1", "1.", ".5", "1e2", "inf", "nan", " 1", "1 ", "1,5", "1.2.3", "--1"}) {
    EXPECT_FALSE(ParseDecimal(refused).has_value()) << refused;
  }
  EXPECT_EQ(ParseWhole("042", 999), 42);
  EXPECT_FALSE(ParseWhole("1000", 999).has_value());
  EXPECT_FALSE(ParseWhole("-1", 999).has_value());
  EXPECT_FALSE(ParseWhole("99999999999", 999).has_value());
}

}  // namespace
}  // namespace keep::tools
