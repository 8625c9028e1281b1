// upssim's binary protocols through the Simulator, as a peer on the link sees them: frames built and
// replies decoded here, byte by byte, without the simulator's own framing code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tools/upssim/sim_control.h"
#include "tools/upssim/simulator.h"

namespace keep::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// 2, LEN, CMD, data, CHK with LEN = data + 2 and CHK = (LEN + CMD + data) mod 256.
std::string Frame(int cmd, const std::vector<int>& data = {}) {
  const int len = static_cast<int>(data.size()) + 2;
  int sum = len + cmd;
  std::string frame{2, static_cast<char>(len), static_cast<char>(cmd)};
  for (const int byte : data) {
    frame += static_cast<char>(byte);
    sum += byte;
  }
  return frame + static_cast<char>(sum % 256);
}

// One reply as the peer reads it: bytes numbered from 1 at CMD, the checksum left out.
struct Reply {
  std::vector<int> bytes{0};  // bytes[0] unused so that bytes[n] is byte n
  int At(size_t n) const { return n < bytes.size() ? bytes[n] : -1; }
  int Word(size_t low) const { return At(low) + 256 * At(low + 1); }
  int Sword(size_t low) const { return static_cast<int16_t>(static_cast<uint16_t>(Word(low))); }
  size_t Size() const { return bytes.size() - 1; }
  bool Refusal() const { return Size() == 2 && At(1) == 'K' && At(2) == 'o'; }
};

// The replies in `wire`; a frame that does not add up fails the test.
std::vector<Reply> Decode(const std::string& wire) {
  std::vector<Reply> replies;
  size_t at = 0;
  while (at < wire.size()) {
    const auto byte = [&wire](size_t i) { return static_cast<int>(static_cast<uint8_t>(wire[i])); };
    EXPECT_EQ(byte(at), 2) << "no start byte at " << at;
    if (at + 1 >= wire.size()) break;
    const size_t len = static_cast<size_t>(byte(at + 1));
    EXPECT_LE(at + 2 + len, wire.size()) << "frame cut short";
    if (len < 2 || at + 2 + len > wire.size()) break;
    Reply reply;
    int sum = static_cast<int>(len);
    for (size_t i = at + 2; i < at + 1 + len; ++i) {
      reply.bytes.push_back(byte(i));
      sum += byte(i);
    }
    EXPECT_EQ(sum % 256, byte(at + 1 + len)) << "checksum of the reply to " << reply.At(1);
    replies.push_back(reply);
    at += 2 + len;
  }
  return replies;
}

// A UPS of one binary variant on a link, driven at the time the test sets.
class BinarySimTest : public ::testing::Test {
 protected:
  void Use(int variant) {
    simulator_ = std::make_unique<Simulator>(CreateSimProtocol(variant), DefaultSimState(variant));
  }

  // Sends `bytes`; the replies due at once.
  std::vector<Reply> Send(const std::string& bytes) {
    received_ = simulator_->OnLinkBytes(bytes, now_ms_);
    return Decode(simulator_->TakeDue(now_ms_));
  }
  // The reply to one request; an empty Reply when there was none (or more than one).
  Reply Ask(int cmd, const std::vector<int>& data = {}) {
    const std::vector<Reply> replies = Send(Frame(cmd, data));
    return replies.size() == 1 ? replies[0] : Reply{};
  }
  std::string Control(const std::string& line) { return ExecuteControl(line, *simulator_, {now_ms_, false}).text; }

  std::unique_ptr<Simulator> simulator_;
  std::vector<std::string> received_;
  int64_t now_ms_ = 1000;
};

// The data bytes of a reply: byte 2 onwards.
std::vector<int> DataOf(const Reply& reply) {
  return reply.bytes.size() < 2 ? std::vector<int>{} : std::vector<int>(reply.bytes.begin() + 2, reply.bytes.end());
}
int Bcd(int value) { return (value / 10) * 16 + value % 10; }

TEST_F(BinarySimTest, FramingFindsEveryGoodRequestAndDropsTheRest) {
  struct Case {
    std::string name;
    std::vector<std::pair<int64_t, std::string>> chunks;  // bytes and when they arrive
    std::vector<std::string> records;                     // the printable requests, in order
    std::vector<int> answered;                            // the commands of the replies, in order
  };
  const std::string status = Frame(3);
  const std::string output_settings = Frame(23, {230, 0, 0, 0, 2});
  std::string bad_checksum = Frame(1);
  bad_checksum.back() = static_cast<char>(bad_checksum.back() + 1);
  std::vector<std::pair<int64_t, std::string>> bytewise;
  for (const char c : output_settings) bytewise.push_back({0, std::string(1, c)});

  const std::vector<Case> cases = {
      {"whole", {{0, status}}, {"3"}, {3}},
      {"split at every byte", bytewise, {"23 230 0 0 0 2"}, {23}},
      {"two in one buffer", {{0, status + output_settings}}, {"3", "23 230 0 0 0 2"}, {3, 23}},
      {"wake-up zeros first", {{0, std::string(255, '\0') + status}}, {"3"}, {3}},
      {"noise first", {{0, "\xFF\x80 Q1\r" + status}}, {"3"}, {3}},
      {"bad checksum, then good", {{0, bad_checksum + status}}, {"3"}, {3}},
      {"bad checksum alone", {{0, bad_checksum}}, {}, {}},
      {"LEN too small", {{0, std::string{2, 1} + status}}, {"3"}, {3}},
      {"LEN too large", {{0, std::string{2, static_cast<char>(200)} + status}}, {"3"}, {3}},
      // The false start takes in part of the good request, fails its checksum and gives it back.
      {"start byte in noise", {{0, std::string{2, 4, 1} + status}}, {"3"}, {3}},
      // Without the gap the partial request would take in the next one and keep waiting.
      {"stale partial forgotten", {{0, output_settings.substr(0, 3)}, {501, status}}, {"3"}, {3}},
      {"unknown command", {{0, Frame(6) + Frame(55) + Frame(200, {1})}}, {"6", "55", "200 1"}, {}},
  };
  for (const Case& c : cases) {
    Use(0);
    std::vector<std::string> records;
    std::vector<int> answered;
    size_t chunk = 0;
    for (const auto& [at_ms, bytes] : c.chunks) {
      now_ms_ = 1000 + at_ms;
      const std::vector<Reply> replies = Send(bytes);
      records.insert(records.end(), received_.begin(), received_.end());
      for (const Reply& reply : replies) answered.push_back(reply.At(1));
      // A request split up is answered when its last byte arrives, not before.
      if (++chunk < c.chunks.size() && c.name == "split at every byte") {
        EXPECT_THAT(replies, IsEmpty()) << chunk;
      }
    }
    EXPECT_EQ(records, c.records) << c.name;
    EXPECT_EQ(answered, c.answered) << c.name;
  }
}

TEST_F(BinarySimTest, RandomBytesAndRandomRequestsLeaveEveryReplyWellFormed) {
  for (const int variant : {0, 2}) {
    Use(variant);
    std::mt19937 random(77 + variant);
    std::string bytes;
    for (int i = 0; i < 20000; ++i) {
      // Noise rich in start bytes and small LENs, and good frames of any command with any data.
      if (random() % 4 == 0) {
        std::vector<int> data(random() % 9);
        for (int& byte : data) byte = static_cast<int>(random() % 256);
        bytes += Frame(static_cast<int>(random() % 64), data);
      } else {
        const int pick = static_cast<int>(random() % 4);
        bytes += static_cast<char>(pick == 0 ? 2 : pick == 1 ? random() % 12 : random() % 256);
      }
    }
    size_t replies = 0;
    for (size_t at = 0; at < bytes.size(); at += 61) replies += Send(bytes.substr(at, 61)).size();
    EXPECT_GT(replies, 1000u) << variant;
    // Whatever came before, a request after a pause is found and answered.
    now_ms_ += 1000;
    EXPECT_EQ(Ask(3).At(1), 3) << variant;
  }
}

TEST_F(BinarySimTest, GarbageBeforeAReplyHoldsNoStartByte) {
  Use(0);
  Control("fault garbage on");
  simulator_->OnLinkBytes(Frame(3), now_ms_);
  const std::string wire = simulator_->TakeDue(now_ms_);
  const size_t start = wire.find('\x02');
  EXPECT_EQ(start, kGarbageBytes.size());
  EXPECT_THAT(Decode(wire.substr(start)), testing::SizeIs(1));
}

TEST_F(BinarySimTest, RefusedCommandGetsKoAndHasNoEffectUntilCleared) {
  Use(0);
  EXPECT_EQ(Control("fault refuse 14 23"), "OK\n");
  EXPECT_EQ(Control("fault refuse 1"), "OK\n");
  EXPECT_THAT(Control("status"), testing::HasSubstr("\nrefuse 1 14 23\n"));
  simulator_->OnLinkBytes(Frame(14, {1}), now_ms_);
  EXPECT_EQ(simulator_->TakeDue(now_ms_), std::string({2, 3, 'K', 'o', static_cast<char>((3 + 'K' + 'o') % 256)}));
  EXPECT_EQ(Ask(3).At(2), 0) << "a refused calibration must not start";
  EXPECT_TRUE(Ask(23, {220, 0, 0, 0, 2}).Refusal());
  EXPECT_EQ(Ask(24).At(2), 230);

  EXPECT_EQ(Control("fault refuse off"), "OK\n");
  EXPECT_THAT(Control("status"), testing::HasSubstr("\nrefuse none\n"));
  EXPECT_EQ(Ask(23, {220, 0, 0, 0, 2}).At(2), 220);
  Control("fault refuse 1");
  EXPECT_EQ(Control("fault clear"), "OK\n");
  EXPECT_EQ(Ask(1).Size(), 9u);
  for (const char* line : {"fault refuse", "fault refuse 256", "fault refuse 3 x", "fault refuse -1"}) {
    EXPECT_THAT(Control(line), testing::StartsWith("ERR ")) << line;
  }
  EXPECT_THAT(Control("status"), testing::HasSubstr("\nrefuse none\n"));
}

TEST_F(BinarySimTest, WrittenSettingsReadBackAndMisfitWritesStoreNothing) {
  struct Case {
    int variant;
    int write;
    std::vector<int> data;
    int read;
    std::vector<int> read_data;
    std::vector<int> expected;  // the reply data, to the write and then to the read
  };
  const std::vector<Case> cases = {
      {0, 23, {220, 1, 1, 1, 3}, 24, {}, {220, 1, 1, 1, 3}},
      {2, 44, {240, 0, 0, 1, 1}, 45, {}, {240, 0, 0, 1, 1}},
      {5, 12, {0x2C, 0x01, 60, 0, 0}, 8, {}, {0x2C, 0x01, 60, 0, 0}},
      {0, 11, {0, 1}, 9, {}, {0, 1}},
      {0, 20, {3}, 19, {}, {3}},
      {6, 21, {0xF4, 0x01}, 22, {}, {0xF4, 0x01}},
      {0, 25, {0, 1, 1, 0}, 26, {}, {0, 1, 1, 0}},
      {0, 36, {0}, 36, {2}, {0}},
      {0, 13, {0}, 13, {2}, {0}},
      {2, 54, {1}, 54, {2}, {1}},
  };
  for (const Case& c : cases) {
    Use(c.variant);
    const std::string name = "variant " + std::to_string(c.variant) + " command " + std::to_string(c.write);
    EXPECT_EQ(DataOf(Ask(c.write, c.data)), c.expected) << name;
    EXPECT_EQ(DataOf(Ask(c.read, c.read_data)), c.expected) << name;
  }

  // Thresholds: written ones are in force; both zero selects the automatic pair again.
  Use(0);
  EXPECT_THAT(DataOf(Ask(32, {22, 0, 20, 0, 0})), ElementsAre(22, 0, 20, 0, 0));
  EXPECT_THAT(DataOf(Ask(33)), ElementsAre(0, 0));
  EXPECT_EQ(Ask(4).Word(4), 22);
  EXPECT_EQ(Ask(4).Word(6), 20);
  Ask(32, {0, 0, 0, 0, 1});
  EXPECT_THAT(DataOf(Ask(33)), ElementsAre(1, 1));
  EXPECT_EQ(Ask(4).Word(4), 23);
  EXPECT_TRUE(simulator_->State().beeper_on);
  Ask(13, {0});
  EXPECT_FALSE(simulator_->State().beeper_on);

  // Writes that do not fit get no answer and leave the stored value.
  const std::vector<std::pair<int, std::vector<int>>> misfits = {
      {23, {220, 0, 0, 0}},
      {23, {220, 2, 0, 0, 2}},
      {23, {220, 0, 0, 0, 4}},
      {23, {20, 0, 0, 0, 2}},
      {20, {4}},
      {25, {1, 1, 2, 0}},
      {12, {1, 0, 1, 0, 7}},
      {13, {3}},
      {48, {0x24, 0x13, 0x01, 0, 0, 0, 1}},
      {48, {0x24, 0x02, 0x30, 0, 0, 0, 1}},
      {48, {0x2A, 0x01, 0x01, 0, 0, 0, 1}},
      {14, {}},
      {10, {1, 2, 3}},
  };
  for (const auto& [cmd, data] : misfits) EXPECT_EQ(Ask(cmd, data).Size(), 0u) << cmd << " with " << data.size();
  EXPECT_THAT(DataOf(Ask(24)), ElementsAre(230, 0, 0, 0, 2));
  EXPECT_THAT(DataOf(Ask(19)), ElementsAre(2));
  // Variant 2 keeps its output settings under 44 and 45 only, the others under 23 and 24 only.
  EXPECT_EQ(Ask(45).Size(), 0u);
  Use(2);
  EXPECT_EQ(Ask(24).Size(), 0u);
}

TEST_F(BinarySimTest, CalendarStepsWrittenAreReadBackUntilTheEndMarker) {
  Use(5);
  const std::vector<std::vector<int>> steps = {
      {0, 0x06, 0x45, 170, 0x00, 0x00, 1}, {1, 0x22, 0x15, 3, 0x00, 0x00, 0}, {2, 0x12, 0x00, 6, 0x30, 0x00, 1}};
  for (const std::vector<int>& step : steps) EXPECT_EQ(DataOf(Ask(52, step)), step);
  // Cutting after two steps: the end marker is echoed.
  EXPECT_THAT(DataOf(Ask(52, {2, 0, 0, 0, 0, 0, 255})), ElementsAre(2, 0, 0, 0, 0, 0, 255));
  std::vector<std::vector<int>> read;
  for (int index = 0; index < 40; ++index) {
    const Reply reply = Ask(53, {index});
    ASSERT_EQ(reply.Size(), 8u);
    if (reply.At(8) == 255) {
      EXPECT_EQ(reply.At(2), index);
      break;
    }
    read.push_back(DataOf(reply));
  }
  EXPECT_THAT(read, ElementsAre(steps[0], steps[1]));
  // A step beyond the end would leave a gap: no answer.
  EXPECT_EQ(Ask(52, {5, 0x06, 0x45, 170, 0, 0, 1}).Size(), 0u);
  EXPECT_EQ(Ask(53, {2}).At(8), 255);
}

TEST_F(BinarySimTest, ClockSetRunsOnWithTheSimulatorTime) {
  Use(0);
  // 29 February 2028 23:59:30, a Tuesday; the day of the week sent is only checked for range.
  EXPECT_THAT(DataOf(Ask(48, {0x28, 0x02, 0x29, 0x23, 0x59, 0x30, 0})),
              ElementsAre(0x28, 0x02, 0x29, 0x23, 0x59, 0x30, 2));
  now_ms_ += 45000;
  EXPECT_THAT(DataOf(Ask(49)), ElementsAre(0x28, 0x03, 0x01, 0x00, 0x00, 0x15, 3));
}

TEST_F(BinarySimTest, VariantTwoPagesItsEventsNewestFirstToTheEndMarker) {
  Use(2);
  Ask(48, {Bcd(25), Bcd(1), Bcd(20), Bcd(14), Bcd(5), 0, 1});
  Control("set battery");
  Ask(3);  // the UPS notices the mains failure
  Control("set mains");
  Control("set load 120");
  Ask(3);

  std::vector<int> codes;
  std::vector<int> extras;
  Reply first;
  for (int page = 0; page < 80; ++page) {
    const Reply reply = Ask(46, {page == 0 ? 0 : 1});
    ASSERT_EQ(reply.Size(), 10u);
    if (reply.At(2) == 0 && reply.At(3) == 0 && reply.At(4) == 0) break;
    if (page == 0) first = reply;
    codes.push_back(reply.At(7));
    extras.push_back(reply.At(10));
  }
  // Mains return and overload (noticed together), the failure, then the three older events.
  ASSERT_EQ(codes.size(), 6u);
  EXPECT_THAT(std::vector<int>(codes.begin(), codes.begin() + 3), testing::UnorderedElementsAre(2, 5, 1));
  EXPECT_EQ(codes[2], 1);
  EXPECT_THAT(std::vector<int>(first.bytes.begin() + 2, first.bytes.begin() + 7),
              ElementsAre(Bcd(25), Bcd(1), Bcd(20), Bcd(14), Bcd(5)));
  std::vector<int> sorted = extras;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << "extra numbers repeat";
  // Asked again from the start, the list begins anew; 7 is not this variant's.
  EXPECT_EQ(Ask(46, {0}).At(10), first.At(10));
  EXPECT_EQ(Ask(7).Size(), 0u);

  EXPECT_EQ(Ask(18).Size(), 3u);
  EXPECT_EQ(Ask(46, {0}).At(2), 0);
}

TEST_F(BinarySimTest, OtherVariantsListAllEventCodesAtOnce) {
  Use(0);
  Ask(3);
  Control("set lowbattery");
  const Reply reply = Ask(7);
  ASSERT_GE(reply.Size(), 2u);
  EXPECT_EQ(reply.At(2), static_cast<int>(reply.Size()) - 2);
  EXPECT_EQ(reply.At(3), 3) << "the newest event is the low battery";
  EXPECT_EQ(Ask(46, {0}).Size(), 0u);
}

TEST_F(BinarySimTest, CalibrationHoldsTheUpsOnBatteryUntilStopped) {
  Use(6);
  EXPECT_EQ(Ask(3).At(2), 0);
  EXPECT_GT(Ask(2).Sword(2), 0);
  Ask(14, {1});
  EXPECT_EQ(Ask(3).At(2), 1);
  EXPECT_EQ(Ask(2).Sword(2), 0) << "no input power while on battery";
  EXPECT_TRUE(simulator_->State().test_held);
  Control("set lowbattery");
  EXPECT_EQ(Ask(3).At(2), 2);
  Control("set mains");
  Ask(14, {2});
  EXPECT_EQ(Ask(3).At(2), 0);
  EXPECT_FALSE(simulator_->State().test_held);
}

TEST_F(BinarySimTest, ShortTestResultFollowsTheBatteryAndIsImpossibleOnBattery) {
  Use(0);
  EXPECT_EQ(Ask(14, {0}).At(2), 5);
  EXPECT_TRUE(simulator_->State().TestInProgress(now_ms_));
  Control("set vbat 24.0");  // 2.0 V per cell: half charged
  EXPECT_EQ(Ask(14, {0}).At(2), 3);
  Control("set vbat 21.2");
  EXPECT_EQ(Ask(14, {0}).At(2), 254);
  Control("set battery");
  EXPECT_EQ(Ask(14, {0}).At(2), 255);
  EXPECT_EQ(Ask(14, {1}).At(2), 255) << "no calibration while the mains is away";
}

TEST_F(BinarySimTest, ReadingsFollowTheState) {
  Use(5);
  Control("set load 50");
  Control("set temp 32");
  const Reply output = Ask(1);
  EXPECT_EQ(output.Sword(2), 750);  // half of 1500 W
  EXPECT_EQ(output.Sword(4), 230);
  EXPECT_NEAR(output.Sword(4) * output.Sword(6) / 10, 750 / 0.8, 10);  // apparent power at a 0.8 power factor
  const Reply status = Ask(3);
  EXPECT_THAT(DataOf(status), ElementsAre(0, 0, 160));
  EXPECT_EQ(Ask(4).Word(2), 273);
  const Reply autonomy = Ask(37);
  EXPECT_EQ(autonomy.At(2), 0);
  EXPECT_GT(autonomy.Word(3), 0);
  EXPECT_EQ(autonomy.At(5), 100);
  Control("set failed on");
  EXPECT_EQ(Ask(3).At(3), 3);
  EXPECT_THAT(DataOf(Ask(27)), ElementsAre(1, 3));
  Control("set failed off");
  Control("set load 130");
  EXPECT_EQ(Ask(3).At(3), 1);

  Use(0);
  EXPECT_NE(Ask(37).At(2), 0) << "variant 0 does not report its autonomy";
  const Reply ident = Ask(0);
  ASSERT_EQ(ident.Size(), 19u);
  EXPECT_EQ(ident.At(3), 1);
  std::string serial;
  for (size_t i = 8; i <= 19; ++i) serial += static_cast<char>(ident.At(i));
  EXPECT_EQ(serial.size(), 12u);
  EXPECT_EQ(serial.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"), std::string::npos);
}

TEST_F(BinarySimTest, WaveformIsOneSinePeriodOfThePresentValues) {
  Use(0);
  const Reply wave = Ask(28);
  ASSERT_EQ(wave.Size(), 129u);
  std::vector<int> volts;
  for (size_t k = 0; k < 32; ++k) volts.push_back(wave.Sword(2 + 4 * k));
  EXPECT_EQ(volts[0], 0);
  EXPECT_NEAR(volts[8], 230 * 1.414, 2);  // a quarter period in
  EXPECT_NEAR(volts[24], -230 * 1.414, 2);
  for (size_t k = 1; k < 16; ++k) EXPECT_EQ(volts[k], -volts[k + 16]) << k;
  for (size_t k = 0; k < 32; ++k) {
    EXPECT_NE(wave.Sword(4 + 4 * k), -1) << "-1 would read as overrange";
    EXPECT_NE(wave.Sword(4 + 4 * k), -2) << "-2 would read as not available";
  }
  Control("set battery");
  const Reply input = Ask(29);
  for (size_t k = 0; k < 32; ++k) EXPECT_EQ(input.Sword(4 + 4 * k), 0) << "no input current on battery";
}

TEST_F(BinarySimTest, ShutdownIsRecordedAndFlagged) {
  Use(2);
  const Reply reply = Ask(10, {120, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(reply.At(1), 10);
  EXPECT_TRUE(simulator_->State().shutdown_active);
  EXPECT_EQ(simulator_->State().shutdown_query, "delay 120 restart 4294967295");
  EXPECT_THAT(simulator_->Queries(), ElementsAre("10 120 0 0 0 255 255 255 255"));
}

}  // namespace
}  // namespace keep::tools
