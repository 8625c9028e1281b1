#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tools/upssim/binary_dialect.h"
#include "tools/upssim/quadrel_sim.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// A reply as the peer reads it: bytes numbered from 1 at CMD, numbers little-endian. Written apart
// from the dialect's own writers so that a shared mistake in byte order or offsets shows.
class Reply {
 public:
  Reply() = default;
  Reply(uint8_t cmd, const std::string& data) : bytes_(1, static_cast<char>(cmd)) { bytes_ += data; }

  size_t Size() const { return bytes_.size(); }
  unsigned Byte(size_t n) const {
    if (n < 1 || n > bytes_.size()) {
      ADD_FAILURE() << "reply of " << bytes_.size() << " bytes has no byte " << n;
      return 0;
    }
    return static_cast<unsigned char>(bytes_[n - 1]);
  }
  unsigned Word(size_t n) const { return Byte(n) + 256 * Byte(n + 1); }
  int SignedWord(size_t n) const { return static_cast<int16_t>(static_cast<uint16_t>(Word(n))); }
  uint32_t Dword(size_t n) const { return Word(n) + 65536u * Word(n + 2); }
  std::string Text(size_t first, size_t last) const {
    std::string text = bytes_.substr(first - 1, last - first + 1);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  unsigned Bcd(size_t n) const { return (Byte(n) >> 4) * 10 + (Byte(n) & 0x0F); }

 private:
  std::string bytes_;
};

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string data;
  for (const unsigned value : values) data += static_cast<char>(value & 0xFF);
  return data;
}

// One unit of configuration code 0 (a plain CreateQuadrelDialect()) or another, in its start state;
// time moves only when the test sets now_.
class QuadrelSimTest : public ::testing::Test {
 protected:
  void Use(uint8_t configuration) { dialect_ = CreateQuadrelDialect(configuration); }

  std::optional<std::string> Raw(uint8_t cmd, const std::string& data) {
    return dialect_->Answer(BinaryRequest{cmd, data}, state_, now_);
  }
  Reply Ask(uint8_t cmd, std::initializer_list<unsigned> data) {
    const std::optional<std::string> answer = Raw(cmd, Bytes(data));
    if (!answer) {
      ADD_FAILURE() << "no answer to command " << unsigned{cmd};
      return Reply(cmd, "");
    }
    return Reply(cmd, *answer);
  }
  Reply ReadParameter(unsigned number) { return Ask(67, {0, number & 0xFF, number >> 8}); }
  Reply WriteParameter(unsigned number, uint32_t value) {
    return Ask(66,
               {0, number & 0xFF, number >> 8, value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF, value >> 24});
  }

  // Reads a text table entry by entry, as the peer does: status 16 skips an index, 0 and 64 add an
  // entry ("-" for one without text), 128 ends the table.
  std::vector<std::pair<unsigned, std::string>> ReadTable(uint8_t cmd) {
    std::vector<std::pair<unsigned, std::string>> entries;
    for (unsigned index = 0; index < 256; ++index) {
      const Reply r = Ask(cmd, {0, index});
      EXPECT_EQ(r.Byte(3), index);
      const unsigned status = r.Byte(4);
      if (status == 128) return entries;
      if (status == 16) continue;
      EXPECT_EQ(r.Size(), 39u);
      entries.emplace_back(index, status == 0 ? r.Text(5, 39) : "-");
    }
    ADD_FAILURE() << "table " << unsigned{cmd} << " never ends";
    return entries;
  }

  std::unique_ptr<BinaryDialect> dialect_ = CreateQuadrelDialect();
  SimState state_ = DefaultSimState(4);
  int64_t now_ = 5000;
};

TEST_F(QuadrelSimTest, IdentificationDescribesTheModulesOfEachBuild) {
  struct Case {
    uint8_t configuration;
    std::vector<unsigned> modules_per_line;
  };
  for (const Case& c : {Case{0, {3, 0, 0}}, Case{7, {2, 2, 2}}, Case{4, {3, 0, 0}}, Case{42, {3, 0, 0}}}) {
    Use(c.configuration);
    const Reply reply = Ask(1, {0});
    ASSERT_EQ(reply.Size(), 32u) << c.configuration;
    EXPECT_EQ(reply.Byte(5), c.configuration == 42 ? 0u : c.configuration);
    EXPECT_EQ(reply.Word(6), 10000u);
    EXPECT_EQ(reply.Word(8), 9000u);
    EXPECT_THAT((std::vector<unsigned>{reply.Byte(10), reply.Byte(11), reply.Byte(12)}),
                ElementsAreArray(c.modules_per_line));
    EXPECT_EQ(reply.Byte(13), 32u);
    EXPECT_EQ(reply.Byte(18), 2u);
    EXPECT_EQ(reply.Byte(19), 5u);
    EXPECT_EQ(reply.Text(21, 32), "KEEP4M002731");
  }
}

TEST_F(QuadrelSimTest, StatusFlagsFollowThePowerSourceTestAndFaults) {
  // Byte 3: bit 0 battery, 1 bypass, 2 low battery, 5 test, 6 output on, 7 charger; byte 4: bit 0
  // overload, bit 2 hardware fault.
  struct Case {
    const char* name;
    PowerSource power;
    bool failed;
    int load;
    bool test;
    unsigned flags;
    unsigned anomaly;
  };
  const Case cases[] = {
      {"mains", PowerSource::kMains, false, 34, false, 0xC0, 0},
      {"battery", PowerSource::kBattery, false, 34, false, 0x41, 0},
      {"low battery", PowerSource::kLowBattery, false, 34, false, 0x45, 0},
      {"bypass", PowerSource::kBypass, false, 34, false, 0xC2, 0},
      {"test", PowerSource::kMains, false, 34, true, 0x60, 0},
      {"failed", PowerSource::kMains, true, 34, false, 0xC0, 0x04},
      {"overload", PowerSource::kMains, false, 101, false, 0xC0, 0x01},
      {"both", PowerSource::kBattery, true, 150, false, 0x41, 0x05},
  };
  for (const Case& c : cases) {
    state_.power = c.power;
    state_.ups_failed = c.failed;
    state_.load_percent = c.load;
    state_.test_held = c.test;
    const Reply reply = Ask(32, {0});
    ASSERT_EQ(reply.Size(), 5u) << c.name;
    EXPECT_EQ(reply.Byte(3), c.flags) << c.name;
    EXPECT_EQ(reply.Byte(4), c.anomaly) << c.name;
  }
  state_ = DefaultSimState(4);
  EXPECT_EQ(Ask(32, {0}).Byte(5), 35u);
  state_.temperature = -4;
  EXPECT_EQ(Ask(32, {0}).Byte(5), 0u);
  state_.temperature = 400;
  EXPECT_EQ(Ask(32, {0}).Byte(5), 255u);  // overrange rather than a wrapped small number

  // Forced onto the bypass, then the output switched off.
  Ask(162, {0, 1});
  EXPECT_EQ(Ask(32, {0}).Byte(3), 0xC2u);
  Ask(162, {0, 0});
  Ask(163, {0, 0, 0});
  EXPECT_EQ(Ask(32, {0}).Byte(3), 0x80u);
}

TEST_F(QuadrelSimTest, OutputPhaseFollowsTheLoadAndTheVoltages) {
  // Phase R of the single-phase unit: 3 modules of 10000 VA / 9000 W.
  struct Case {
    int load;
    double volts;
    double hz;
    PowerSource power;
    std::vector<unsigned> words;  // nominal W, nominal VA, W, VA, V, A, peak A, Hz
  };
  const Case cases[] = {
      {34, 229.9, 50.1, PowerSource::kMains, {27000, 30000, 9180, 10200, 230, 44, 62, 50}},
      {100, 220.0, 59.8, PowerSource::kBypass, {27000, 30000, 27000, 30000, 220, 136, 191, 60}},
      {50, 230.0, 47.0, PowerSource::kBattery, {27000, 30000, 13500, 15000, 230, 65, 91, 50}},
      {0, 230.0, 50.0, PowerSource::kMains, {27000, 30000, 0, 0, 230, 0, 0, 50}},
      // Beyond what a word holds: overrange, never a wrapped small number.
      {250, 230.0, 50.0, PowerSource::kMains, {27000, 30000, 65535, 65535, 230, 326, 457, 50}},
  };
  for (const Case& c : cases) {
    state_.load_percent = c.load;
    state_.output_voltage = c.volts;
    state_.input_frequency = c.hz;
    state_.power = c.power;
    const Reply reply = Ask(33, {0, 0});
    ASSERT_EQ(reply.Size(), 19u) << c.load;
    EXPECT_EQ(reply.Byte(3), 0u);
    std::vector<unsigned> words;
    for (size_t n = 4; n <= 18; n += 2) words.push_back(reply.Word(n));
    EXPECT_THAT(words, ElementsAreArray(c.words)) << c.load;
  }
  // The phases a single-phase output lacks are not available; there is no fourth phase.
  const Reply absent = Ask(33, {0, 2});
  for (size_t n = 4; n <= 18; n += 2) EXPECT_EQ(absent.Word(n), 65534u) << n;
  EXPECT_FALSE(Raw(33, Bytes({0, 3})).has_value());

  // Three-phase output: each line carries its own modules and its own switch.
  Use(7);
  state_ = DefaultSimState(4);
  Ask(163, {0, 1, 0});
  const Reply s = Ask(33, {0, 1});
  const Reply t = Ask(33, {0, 2});
  EXPECT_EQ(s.Word(6), 20000u);
  EXPECT_EQ(s.Word(10), 0u);
  EXPECT_EQ(s.Word(12), 0u);
  EXPECT_EQ(t.Word(10), 6800u);
  EXPECT_EQ(t.Word(12), 230u);
}

TEST_F(QuadrelSimTest, InputPhaseFeedsTheOutputWhileTheMainsArePresent) {
  state_.input_voltage = 231.4;
  state_.input_frequency = 49.9;
  Reply r = Ask(34, {0, 0});
  ASSERT_EQ(r.Size(), 15u);
  EXPECT_EQ(r.Word(4), 9663u);  // 9180 W out at 95 % efficiency
  EXPECT_EQ(r.Word(8), 231u);
  EXPECT_EQ(r.Word(14), 50u);
  EXPECT_EQ(Ask(34, {0, 1}).Word(8), 65534u);

  state_.power = PowerSource::kBattery;
  state_.input_voltage = 0;
  r = Ask(34, {0, 0});
  EXPECT_EQ(r.Word(4), 0u);
  EXPECT_EQ(r.Word(8), 0u);
  EXPECT_EQ(r.Word(10), 0u);

  Use(7);
  state_ = DefaultSimState(4);
  r = Ask(34, {0, 2});
  EXPECT_EQ(r.Byte(3), 2u);
  EXPECT_EQ(r.Word(4), 6442u);  // three lines of 6120 W, shared by three input phases
  EXPECT_EQ(r.Word(8), 230u);
}

TEST_F(QuadrelSimTest, BatteryReplyFollowsTheSourceTheLoadAndTheStoredSettings) {
  Reply r = Ask(35, {0});
  ASSERT_EQ(r.Size(), 13u);
  EXPECT_EQ(r.Word(3), 1362u);  // 2.27 V per cell, six cells a block
  EXPECT_EQ(r.SignedWord(5), 1);
  EXPECT_EQ(r.Byte(7), 100u);
  EXPECT_EQ(r.Dword(8), 2575u);  // 2 strings of 9 Ah at 384 V, 95 %, on 9180 W
  EXPECT_EQ(r.Word(12), 300u);

  state_.power = PowerSource::kBattery;
  r = Ask(35, {0});
  EXPECT_EQ(r.SignedWord(5), -11);  // 9663 W from 435.8 V, half of it per string
  EXPECT_EQ(r.Byte(7), 80u);
  state_.power = PowerSource::kLowBattery;
  EXPECT_EQ(Ask(35, {0}).Byte(7), 15u);

  // Twice the strings: twice the autonomy and half the current each; a new reserve time.
  EXPECT_EQ(WriteParameter(35, 4).Byte(5), 0u);
  EXPECT_EQ(WriteParameter(29, 8).Byte(5), 0u);
  r = Ask(35, {0});
  EXPECT_EQ(r.Dword(8), 5150u);
  EXPECT_EQ(r.SignedWord(5), -6);
  EXPECT_EQ(r.Word(12), 480u);
}

TEST_F(QuadrelSimTest, ParameterTableAnswersEveryParameterAndKeepsValidWrites) {
  for (const unsigned number :
       {2, 3, 4, 5, 9, 10, 12, 13, 14, 22, 25, 29, 34, 35, 37, 44, 45, 57, 58, 59, 60, 61, 62, 63, 64, 65, 67}) {
    const Reply r = ReadParameter(number);
    ASSERT_EQ(r.Size(), 9u) << number;
    EXPECT_EQ(r.Word(3), number);
    EXPECT_EQ(r.Byte(5), 0u) << number;
    EXPECT_LT(r.Dword(6), 100000u) << number;
  }
  EXPECT_EQ(ReadParameter(25).Dword(6), 2u);
  EXPECT_EQ(ReadParameter(45).Dword(6), 230u);

  struct Write {
    unsigned number;
    uint32_t value;
    unsigned status;
    uint32_t after;  // what a read returns afterwards
  };
  const Write writes[] = {
      {25, 3, 0, 3},          // dip speed is 1-3
      {25, 0, 128, 3},        // refused, the old value kept
      {45, 220, 0, 220},      // output voltage 200-250 V
      {45, 70000, 128, 220},  // refused
      {12, 0x0B, 0, 0x0B},    // relay bits
      {2, 1, 0, 1},           // a flag holds 0 or 1
      {2, 7, 128, 1},         // refused
      {57, 0, 128, 21874},    // the counters are read-only
      {999, 5, 16, 0},        // no such parameter
  };
  for (const Write& w : writes) {
    const Reply r = WriteParameter(w.number, w.value);
    EXPECT_EQ(r.Word(3), w.number);
    EXPECT_EQ(r.Byte(5), w.status) << w.number << "=" << w.value;
    EXPECT_EQ(r.Dword(6), w.after) << w.number << "=" << w.value;
    EXPECT_EQ(ReadParameter(w.number).Dword(6), w.after) << w.number;
  }
  EXPECT_EQ(ReadParameter(999).Byte(5), 16u);
  EXPECT_FALSE(Raw(67, Bytes({0, 25})).has_value());
  EXPECT_FALSE(Raw(66, Bytes({0, 25, 0, 1})).has_value());
}

TEST_F(QuadrelSimTest, AlarmAndEventTextTablesEndWithStatus128) {
  const auto alarms = ReadTable(97);
  ASSERT_EQ(alarms.size(), 5u);
  EXPECT_EQ(alarms[2].second, "Inverter fault");
  const auto events = ReadTable(100);
  ASSERT_EQ(events.size(), 9u);  // ten indexes, one of them unused
  EXPECT_EQ(events[0].second, "Mains failure");
  EXPECT_EQ(events[7].second, "-");  // a code without a description
  EXPECT_EQ(events[8].first, 9u);
  EXPECT_EQ(Ask(100, {0, 255}).Byte(4), 128u);
}

struct LogRecord {
  uint32_t seconds;
  unsigned code;
  bool operator==(const LogRecord&) const = default;
};

TEST_F(QuadrelSimTest, EventLogEndsByRepeatingItsFirstRecord) {
  // Reads one selection as the peer does; empty when the UPS says the selection is empty.
  const auto read = [this](unsigned selection) {
    std::vector<LogRecord> records;
    for (unsigned step = 4; records.size() < 100; step = 1) {
      const Reply r = Ask(98, {0, selection, step});
      EXPECT_EQ(r.Size(), 10u);
      EXPECT_EQ(r.Byte(3), selection);
      if (r.Byte(5) != 0) {
        EXPECT_EQ(r.Byte(5), 2u);
        EXPECT_TRUE(records.empty());
        break;
      }
      const LogRecord record{r.Dword(6), r.Byte(10)};
      if (!records.empty() && record == records.front()) break;
      records.push_back(record);
    }
    std::vector<unsigned> codes;
    for (const LogRecord& record : records) codes.push_back(record.code);
    return codes;
  };
  EXPECT_THAT(read(0), ElementsAre(6, 5, 4, 1, 0));  // newest first
  EXPECT_THAT(read(1), ElementsAre(0));
  EXPECT_THAT(read(2), ElementsAre(4));
  EXPECT_THAT(read(3), ElementsAre(6, 5, 1));

  // The newest record, a day before the clock's start of 2 June 2025 08:00: 1 June, 08:00:12.
  const Reply newest = Ask(98, {0, 0, 4});
  EXPECT_EQ(newest.Dword(6), ((25u * 365 + 7 + 151) * 86400) + 8 * 3600 + 12);

  // A mains failure seen on the link is logged; resetting one selection leaves the others.
  state_.power = PowerSource::kBattery;
  now_ += 1000;
  EXPECT_THAT(read(1), ElementsAre(0, 0));
  const Reply reset = Ask(99, {0, 3});
  EXPECT_EQ(reset.Byte(3), 3u);
  EXPECT_EQ(reset.Byte(4), 0u);
  EXPECT_THAT(read(3), ElementsAre());
  EXPECT_THAT(read(0), ElementsAre(0, 4, 0));
  EXPECT_EQ(Ask(99, {0, 0}).Byte(4), 0u);
  EXPECT_THAT(read(0), ElementsAre());
  EXPECT_EQ(Ask(98, {0, 7, 4}).Byte(5), 1u);  // no such selection
  EXPECT_EQ(Ask(99, {0, 7}).Byte(4), 1u);
}

TEST_F(QuadrelSimTest, BatteryTestRunsThenReportsItsResult) {
  // (0, 1) asks, (0, 0) starts; byte 3 the state, byte 4 the result.
  Reply r = Ask(165, {0, 1});
  EXPECT_EQ(r.Byte(3), 0u);
  EXPECT_EQ(r.Byte(4), 254u);
  state_.battery_voltage = 2.01;  // halfway between empty and full
  r = Ask(165, {0, 0});
  EXPECT_EQ(r.Byte(3), 1u);
  EXPECT_EQ(Ask(32, {0}).Byte(3) & 0x20u, 0x20u);
  now_ += 9999;
  EXPECT_EQ(Ask(165, {0, 1}).Byte(3), 1u);
  EXPECT_EQ(Ask(165, {0, 0}).Byte(3), 1u);  // a second start does not prolong it
  now_ += 1;
  r = Ask(165, {0, 1});
  EXPECT_EQ(r.Byte(3), 0u);
  EXPECT_EQ(r.Byte(4), 50u);
  EXPECT_EQ(Ask(32, {0}).Byte(3) & 0x20u, 0u);
  state_.battery_voltage = 2.27;
  EXPECT_EQ(Ask(165, {0, 1}).Byte(4), 50u);  // the result stays that of the test that ran

  state_.power = PowerSource::kBattery;
  EXPECT_EQ(Ask(165, {0, 0}).Byte(3), 2u);
  EXPECT_FALSE(state_.TestInProgress(now_));
}

TEST_F(QuadrelSimTest, ClockRunsFromItsStartAndFromATimeSet) {
  const auto read = [this] {
    const Reply r = Ask(65, {0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(r.Size(), 8u);
    return std::vector<unsigned>{r.Bcd(2), r.Bcd(3), r.Bcd(4), r.Bcd(5), r.Bcd(6), r.Bcd(7), r.Byte(8)};
  };
  EXPECT_THAT(read(), ElementsAre(25, 6, 2, 8, 0, 0, 1));  // a Monday
  now_ += 61999;
  EXPECT_THAT(read(), ElementsAre(25, 6, 2, 8, 1, 1, 1));

  // 29 February 2024, 23:59:58 (the day of the week sent is ignored: the date gives Thursday).
  const Reply set = Ask(65, {1, 0x24, 0x02, 0x29, 0x23, 0x59, 0x58, 0});
  EXPECT_EQ(set.Bcd(4), 29u);
  EXPECT_EQ(set.Byte(8), 4u);
  now_ += 3000;
  EXPECT_THAT(read(), ElementsAre(24, 3, 1, 0, 0, 1, 5));

  // Dates that do not exist and bytes that are no BCD leave the clock running as it was.
  Ask(65, {1, 0x23, 0x02, 0x29, 0x10, 0x00, 0x00, 3});
  Ask(65, {1, 0x24, 0x13, 0x01, 0x10, 0x00, 0x00, 3});
  Ask(65, {1, 0x24, 0x01, 0x1A, 0x10, 0x00, 0x00, 3});
  EXPECT_THAT(read(), ElementsAre(24, 3, 1, 0, 0, 1, 5));
  EXPECT_FALSE(Raw(65, Bytes({1, 0x24, 0x01})).has_value());
}

TEST_F(QuadrelSimTest, ModuleBlocksShareTheirPhaseAndEndAtTheInstalledOnes) {
  // The module walk of the peer: installed modules answer state 0, the slots beyond 255.
  std::vector<unsigned> installed;
  for (unsigned module = 0; module < 12; ++module) {
    const Reply r = Ask(8, {0, module});
    EXPECT_EQ(r.Byte(3), module);
    if (r.Byte(4) != 0) {
      EXPECT_EQ(r.Byte(4), 255u);
      continue;
    }
    ASSERT_EQ(r.Size(), 30u);
    EXPECT_EQ(r.Word(7), 10000u);
    EXPECT_EQ(r.Word(9), 9000u);
    EXPECT_EQ(r.Text(18, 30).size(), 11u);
    installed.push_back(module);
  }
  EXPECT_THAT(installed, ElementsAre(0, 1, 2));

  // Each carries a third of phase R.
  state_.load_percent = 60;
  const Reply phase = Ask(33, {0, 0});
  const Reply output = Ask(41, {0, 1});
  ASSERT_EQ(output.Size(), 14u);
  EXPECT_EQ(output.Word(5) * 3, phase.Word(8));
  EXPECT_EQ(output.Word(7) * 3, phase.Word(10));
  EXPECT_EQ(output.Word(9), phase.Word(12));
  EXPECT_EQ(Ask(42, {0, 0}).Size(), 16u);
  EXPECT_EQ(Ask(43, {0, 0}).Word(5), 436u);
  EXPECT_EQ(Ask(44, {0, 2}).Byte(9), 43u);
  EXPECT_EQ(Ask(45, {0, 2}).Size(), 28u);

  // Main flags: inverter and charger on mains, booster on battery, overload beyond 100 %.
  Reply main = Ask(40, {0, 0});
  EXPECT_EQ(main.Word(5), 0x05u);
  EXPECT_EQ(main.Word(7), 0x24u);
  state_.power = PowerSource::kBattery;
  state_.load_percent = 120;
  main = Ask(40, {0, 0});
  EXPECT_EQ(main.Word(5), 0x01u);
  EXPECT_EQ(main.Word(7), 0x31u);
  EXPECT_EQ(Ask(40, {0, 3}).Size(), 4u);
}

TEST_F(QuadrelSimTest, ModuleAlarmsFollowTheFaults) {
  EXPECT_EQ(Ask(96, {0}).Byte(3), 0u);
  state_.ups_failed = true;
  state_.load_percent = 130;
  const Reply r = Ask(96, {0});
  ASSERT_EQ(r.Byte(3), 4u);
  ASSERT_EQ(r.Size(), 3u + 2 * 4);
  std::vector<unsigned> pairs;
  for (size_t n = 4; n <= r.Size(); ++n) pairs.push_back(r.Byte(n));
  EXPECT_THAT(pairs, ElementsAre(0, 2, 0, 0, 1, 0, 2, 0));
}

TEST_F(QuadrelSimTest, SwitchesChangeTheStateAndReportIt) {
  EXPECT_EQ(Ask(68, {0, 1}).Byte(3), 1u);
  EXPECT_FALSE(state_.beeper_on);
  EXPECT_EQ(Ask(68, {0, 2}).Byte(3), 1u);
  EXPECT_EQ(Ask(68, {0, 0}).Byte(3), 0u);
  EXPECT_TRUE(state_.beeper_on);

  EXPECT_EQ(Ask(162, {0, 1}).Byte(3), 1u);
  EXPECT_EQ(Ask(162, {0, 2}).Byte(3), 1u);

  Reply r = Ask(163, {0, 2, 0});
  EXPECT_EQ(r.Byte(3), 2u);
  EXPECT_EQ(r.Byte(4), 0u);
  r = Ask(164, {0});
  EXPECT_THAT((std::vector<unsigned>{r.Byte(3), r.Byte(4), r.Byte(5)}), ElementsAre(1, 1, 0));
  EXPECT_EQ(Ask(163, {0, 5, 1}).Byte(4), 255u);
  EXPECT_EQ(Ask(163, {0, 1, 9}).Byte(4), 255u);
  r = Ask(164, {0});
  EXPECT_THAT((std::vector<unsigned>{r.Byte(3), r.Byte(4), r.Byte(5)}), ElementsAre(1, 1, 0));

  // Timers: the shutdown delay marks a shutdown, "none" (all ones) cancels it.
  r = Ask(64, {1, 180, 0, 0, 0});
  EXPECT_EQ(r.Size(), 6u);
  EXPECT_EQ(r.Dword(3), 180u);
  EXPECT_TRUE(state_.shutdown_active);
  Ask(64, {3, 60, 0, 0, 0});
  EXPECT_EQ(state_.shutdown_query, "T1=180,T3=60");
  Ask(64, {1, 255, 255, 255, 255});
  EXPECT_FALSE(state_.shutdown_active);
  EXPECT_EQ(state_.shutdown_query, "T1=-1,T3=60");
}

TEST_F(QuadrelSimTest, UnknownCommandsShortRequestsAndNoiseGetNoAnswerOrABoundedOne) {
  EXPECT_FALSE(Raw(77, Bytes({0})).has_value());
  EXPECT_FALSE(Raw(2, "").has_value());
  for (const uint8_t cmd : {8, 33, 34, 40, 45, 64, 65, 66, 67, 68, 97, 98, 99, 100, 162, 163, 165}) {
    EXPECT_FALSE(Raw(cmd, "").has_value()) << unsigned{cmd};
  }
  std::mt19937 random(4);
  for (int round = 0; round < 5000; ++round) {
    const auto cmd = static_cast<uint8_t>(random() & 0xFF);
    std::string data(random() % 12, '\0');
    for (char& c : data) c = static_cast<char>(random() & 0xFF);
    now_ += static_cast<int64_t>(random() % 3000);
    const std::optional<std::string> answer = Raw(cmd, data);
    if (answer) {
      EXPECT_LE(answer->size(), 60u) << unsigned{cmd};
    }
  }
}

}  // namespace
}  // namespace keep::tools
