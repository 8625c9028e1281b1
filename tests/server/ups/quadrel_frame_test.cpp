#include "server/ups/quadrel_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ups/quadrel_commands.h"

namespace keep::server {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text += static_cast<char>(value);
  return text;
}

TEST(QuadrelFrameTest, BuildsRequestFramesWithTheirChecksum) {
  EXPECT_EQ(BuildQuadrelFrame(kQuadrelOutputPhase, QuadrelDataBytes(kQuadrelOutputPhase, {1})),
            Bytes({2, 4, 33, 0, 1, 38}));
  EXPECT_EQ(BuildQuadrelFrame(kQuadrelReadParameter, QuadrelDataBytes(kQuadrelReadParameter, {35})),
            Bytes({2, 5, 67, 0, 35, 0, 107}));
  // The sum wraps at 256: 4 + 165 + 0 + 200 = 369.
  EXPECT_EQ(BuildQuadrelFrame(kQuadrelBatteryTest, {0, 200}), Bytes({2, 4, 165, 0, 200, 369 - 256}));
  EXPECT_EQ(BuildQuadrelFrame(99, {}), Bytes({2, 2, 99, 101}));
}

struct DataCase {
  uint8_t cmd;
  std::vector<int64_t> fields;
  std::vector<uint8_t> data;
};

TEST(QuadrelFrameTest, LaysOutTheDataBytesOfEachCommand) {
  const DataCase cases[] = {
      {kQuadrelIdentification, {}, {0}},
      {kQuadrelStatus, {7}, {0}},
      {kQuadrelOutputStates, {}, {0}},
      {kQuadrelModuleInfo, {11}, {0, 11}},
      {kQuadrelModuleHistory, {3}, {0, 3}},
      {kQuadrelBeeper, {2}, {0, 2}},
      {kQuadrelEventTexts, {256 + 5}, {0, 5}},
      {kQuadrelEventLog, {2, 4}, {0, 2, 4}},
      {kQuadrelOutputOnOff, {1, 0}, {0, 1, 0}},
      {kQuadrelReadParameter, {0x1234}, {0, 0x34, 0x12}},
      {kQuadrelWriteParameter, {44, 0x01020304}, {0, 44, 0, 4, 3, 2, 1}},
      {kQuadrelWriteParameter, {12}, {0, 12, 0, 0, 0, 0, 0}},  // a missing value is 0
      {kQuadrelTimer, {1, 180}, {1, 180, 0, 0, 0}},
      {kQuadrelTimer, {3, -1}, {3, 255, 255, 255, 255}},
      {kQuadrelClock, {1, 0x24, 0x12, 0x31, 0x23, 0x59, 0x58, 6}, {1, 0x24, 0x12, 0x31, 0x23, 0x59, 0x58, 6}},
      {kQuadrelClock, {0}, {0, 0, 0, 0, 0, 0, 0, 0}},
      {200, {1, 2}, {}},
  };
  for (const DataCase& c : cases) {
    EXPECT_EQ(QuadrelDataBytes(c.cmd, c.fields), c.data) << "command " << int{c.cmd};
  }
}

TEST(QuadrelFrameTest, TakesOneCompleteFrameAndLeavesTheRest) {
  const std::string first = Bytes({2, 4, 33, 0, 1, 38});
  const std::string second = Bytes({2, 2, 99, 101});
  std::string buffer = Bytes({7, 9}) + first + second;
  std::string reply;
  ASSERT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kTaken);
  EXPECT_EQ(reply, Bytes({33, 0, 1}));
  EXPECT_EQ(buffer, second);
  ASSERT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kTaken);
  EXPECT_EQ(reply, Bytes({99}));
  EXPECT_EQ(buffer, "");
}

TEST(QuadrelFrameTest, WaitsForTheRestOfASplitFrame) {
  const std::string frame = Bytes({2, 5, 67, 0, 35, 0, 107});
  std::string reply;
  for (size_t cut = 1; cut < frame.size(); ++cut) {
    std::string buffer = Bytes({0, 0}) + frame.substr(0, cut);
    EXPECT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kIncomplete) << cut;
    // The noise before the start byte goes at once; the frame's beginning stays.
    EXPECT_EQ(buffer, frame.substr(0, cut));
    buffer += frame.substr(cut);
    EXPECT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kTaken) << cut;
    EXPECT_EQ(buffer, "");
  }
}

TEST(QuadrelFrameTest, RemovesFramesWithABadChecksumOrNoLength) {
  std::string reply = "stale";
  std::string buffer = Bytes({2, 4, 33, 0, 1, 39, 2});
  EXPECT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kBadChecksum);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(buffer, Bytes({2}));

  buffer = Bytes({2, 0, 2, 2, 99, 101});
  EXPECT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kBadChecksum);
  EXPECT_EQ(buffer, Bytes({2, 2, 99, 101}));

  buffer = Bytes({1, 3, 255});
  EXPECT_EQ(TakeQuadrelFrame(buffer, reply), QuadrelTake::kNoStart);
  EXPECT_EQ(buffer, "");
}

TEST(QuadrelFrameTest, ReadsReplyBytesLittleEndianAndNeverPastTheEnd) {
  const std::string bytes = Bytes({1, 0x34, 0x12, 0xFE, 0xFF, 0x78, 0x56, 'A', ' ', 'B', ' ', 0});
  const QuadrelReply reply(bytes);
  EXPECT_EQ(reply.Word(2), 0x1234);
  EXPECT_EQ(reply.SignedWord(4), -2);
  EXPECT_EQ(reply.Dword(4), 0x5678FFFEu);
  EXPECT_EQ(reply.Text(8, 12), "A B");
  EXPECT_EQ(reply.Text(11, 40), "&");
  EXPECT_EQ(reply.Text(10, 40), "B");
  EXPECT_FALSE(reply.Has(13));
  EXPECT_FALSE(reply.Has(0));
  EXPECT_EQ(reply.Byte(13), 0);
  EXPECT_EQ(reply.Word(12), 0);
}

}  // namespace
}  // namespace keep::server
