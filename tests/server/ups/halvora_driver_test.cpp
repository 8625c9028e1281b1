#include "server/ups/halvora_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "server/ups/protocol_driver.h"
#include "server/ups/halvora_replies.h"
#include "server/ups/quadrel_frame.h"
#include "tests/support/reply_bytes.h"

namespace keep::server {
namespace {

using Data = test::ReplyBytes;
using Bytes = std::vector<uint8_t>;

std::string Reply(uint8_t cmd, const Data& data) { return BuildQuadrelFrame(cmd, data.bytes()); }
std::string Refusal() { return BuildQuadrelFrame('K', {'o'}); }

class HalvoraDriverTest : public ::testing::Test {
 protected:
  HalvoraDriverTest() {
    setup_.UpsSetup.UpsModelName = "Keep LineGuard 1000";
    server_.ModelTime1 = 3000;
    server_.ModelTime2 = 30000;
  }

  DriverContext Context() { return DriverContext{command_, reply_timeout_, ups_, setup_, server_}; }

  // Queues the request as the manager does; false when it needs no exchange.
  bool Request(int protocol, const TStringList& fields) {
    driver_ = HalvoraDriver(protocol);
    command_ = TUpsManCommandRecord{};
    command_.Code = std::stoi(fields.front());
    command_.Args = fields;
    DriverContext context = Context();
    return driver_.BuildCommand(context);
  }
  // Builds the head exchange's frame: its command and data bytes.
  std::pair<uint8_t, Bytes> Next() {
    DriverContext context = Context();
    uint8_t expect = 0;
    int32_t delay = -1;
    driver_.BuildNext(context, expect, delay);
    EXPECT_EQ(expect, 1);
    EXPECT_EQ(delay, 0);
    const std::string& frame = command_.Exchange.Frame;
    EXPECT_GE(frame.size(), 4u);
    const Bytes data(frame.begin() + 3, frame.end() - 1);
    EXPECT_EQ(frame, BuildQuadrelFrame(static_cast<uint8_t>(frame[2]), data));
    return {static_cast<uint8_t>(frame[2]), data};
  }
  // The frames of the whole request, each exchange taken off the queue unanswered.
  std::vector<std::pair<uint8_t, Bytes>> Frames(int protocol, const TStringList& fields) {
    std::vector<std::pair<uint8_t, Bytes>> frames;
    Request(protocol, fields);
    while (!command_.Exchange.Queue.empty()) {
      frames.push_back(Next());
      command_.Exchange.Queue.erase(command_.Exchange.Queue.begin());
    }
    return frames;
  }
  // Feeds `buffer` to the head exchange, built first as BuildNext would; the manager's step after an
  // accepted reply (the head leaves the queue) is done here too.
  bool Answer(std::string& buffer) {
    Next();
    DriverContext context = Context();
    const bool accepted = driver_.Parse(context, buffer);
    if (accepted) command_.Exchange.Queue.erase(command_.Exchange.Queue.begin());
    return accepted;
  }
  bool Answer(uint8_t cmd, const Data& data) {
    std::string buffer = Reply(cmd, data);
    const bool accepted = Answer(buffer);
    EXPECT_EQ(buffer, "");
    return accepted;
  }

  HalvoraDriver driver_{0};
  TUpsManCommandRecord command_;
  uint16_t reply_timeout_ = 10000;
  TUpsData ups_;
  TSetupData setup_;
  TServerData server_;
};

Data Status(uint8_t status, uint8_t anomaly, uint8_t temperature) {
  return Data().Byte(2, status).Byte(3, anomaly).Byte(4, temperature);
}

TEST_F(HalvoraDriverTest, EverySingleProtocolNumberGetsThisDriverAndItsWakeUp) {
  for (int32_t number : {0, 2, 5, 6}) {
    std::unique_ptr<ProtocolDriver> driver = CreateProtocolDriver(number);
    ASSERT_NE(dynamic_cast<HalvoraDriver*>(driver.get()), nullptr) << number;
    DriverContext context = Context();
    EXPECT_EQ(driver->Init(context), std::string(255, '\0'));
  }
}

TEST_F(HalvoraDriverTest, RequestsSendTheirCommandsWithTheDataBytesOfTheirFields) {
  struct Case {
    int protocol;
    TStringList fields;
    std::vector<std::pair<uint8_t, Bytes>> frames;
  };
  ups_.Input.PllEnabled = "1";
  ups_.Input.PllExtendedRange = "1";
  ups_.Output.PhaseR.Voltage = "220";
  ups_.Output.PhaseR.Frequency = "1";
  ups_.Output.BypassDipSpeed = "3";
  ups_.Battery.ReserveThreshold = "1100";
  ups_.Battery.ExhaustThreshold = "1050";
  const std::vector<Case> cases = {
      {0, {"101"}, {{3, {}}, {27, {}}, {1, {}}}},
      {5, {"101"}, {{3, {}}, {27, {}}, {1, {}}, {37, {}}, {41, {}}}},
      {0, {"100"}, {{0, {}}}},
      {0, {"110"}, {{13, {2}}}},
      {0, {"303", "1"}, {{13, {1}}}},
      {0, {"2", "120", "@"}, {{10, {120, 0, 0, 0, 255, 255, 255, 255}}}},
      {0, {"2", "90", "3600"}, {{10, {90, 0, 0, 0, 0x10, 0x0E, 0, 0}}}},
      {0, {"301", "230", "1", "1", "0", "&", "1", "0", "150"},
       {{24, {}}, {23, {230, 1, 0, 1, 2}}, {25, {1, 0, 1, 0}}, {21, {150, 0}}, {1, {}}}},
      {2, {"301", "&", "0", "&", "&", "1", "&", "&", "&"},
       {{45, {}}, {44, {230, 0, 0, 1, 1}}, {25, {1, 0, 0, 0}}, {21, {0, 0}}}},
      {0, {"300", "3", "1", "0", "0", "1"}, {{1, {}}, {24, {}}, {23, {220, 1, 1, 1, 3}}, {20, {3}}, {11, {1, 0}}}},
      {2, {"300", "&", "0", "1", "1", "&"}, {{1, {}}, {45, {}}, {44, {220, 1, 0, 0, 3}}, {20, {2}}, {11, {0, 1}}}},
      {0, {"302", "1200", "1000", "0", "1", "600", "&", "0"},
       {{4, {}}, {32, {0xB0, 0x04, 0xE8, 0x03, 1}}, {12, {0x58, 0x02, 0, 0, 0}}, {4, {}}}},
      {0, {"302", "1200", "1000", "1", "0", "&", "&", "&"},
       {{4, {}}, {32, {0, 0, 0, 0, 0}}, {12, {0, 0, 0, 0, 1}}, {4, {}}}},
      {0, {"302", "1200", "1000", "&", "&", "&", "&", "&"},
       {{4, {}}, {32, {0x4C, 0x04, 0x1A, 0x04, 0}}, {12, {0, 0, 0, 0, 1}}, {4, {}}}},
      {0, {"307", "26", "12", "9", "17", "5", "59", "3"}, {{48, {0x26, 0x12, 0x09, 0x17, 0x05, 0x59, 3}}}},
      {0, {"308", "1", "0,*,15,*,7,30,1", "1,12,*,6,23,5,2"},
       {{54, {0}}, {52, {0, 170, 0x15, 170, 0x07, 0x30, 1}}, {52, {1, 0x12, 170, 0x06, 0x23, 0x05, 2}}, {54, {1}}}},
      {0, {"308", "0"}, {{54, {0}}}},
      {0, {"112"}, {{54, {2}}, {53, {0}}}},
      {0, {"400"}, {{14, {0}}}},
      {0, {"401", "1"}, {{14, {1}}, {3, {}}}},
      {0, {"401", "0"}, {{14, {2}}, {3, {}}}},
      {0, {"113"}, {{36, {2}}}},
      {0, {"306", "1"}, {{36, {1}}}},
      {0, {"109"}, {{7, {}}}},
      {2, {"109"}, {{46, {0}}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Frames(c.protocol, c.fields), c.frames) << "P " << c.protocol << " request " << c.fields.front();
  }
  EXPECT_FALSE(Request(0, {"131"}));
  EXPECT_FALSE(Request(0, {"402"}));
}

TEST_F(HalvoraDriverTest, OnlyTheShortBatteryTestWaitsTheLongReplyTime) {
  Request(0, {"400"});
  Next();
  EXPECT_EQ(reply_timeout_, 30000);
  Request(0, {"401", "1"});
  Next();
  EXPECT_EQ(reply_timeout_, 3000);
}

TEST_F(HalvoraDriverTest, StatusOutputAndIdentificationRepliesStoreTheirValues) {
  Request(0, {"100"});
  ASSERT_TRUE(Answer(0, Data().Byte(3, 1).Byte(6, 2).Byte(7, 105).Text(8, " HV-00123    ").Through(19)));
  EXPECT_EQ(ups_.Info.InstalledModules, "1");
  EXPECT_EQ(ups_.Info.FirmwareVersion, "2.05");
  EXPECT_EQ(ups_.Info.SerialNumber, "HV-00123");
  EXPECT_EQ(ups_.Info.ModelName, "Keep LineGuard 1000");

  ups_.Info.ActiveNominalPower = "3000";
  ups_.Info.ModuleCount = "1";
  ups_.Hardware.FaultyModules = "0";
  Request(0, {"101"});
  ASSERT_TRUE(Answer(3, Status(1, 4, 160)));
  EXPECT_EQ(ups_.Main.UpsStatus, "1");
  EXPECT_EQ(ups_.Main.Anomaly, "4");
  EXPECT_EQ(ups_.Main.Temperature, "32");
  ASSERT_TRUE(Answer(27, Data().Byte(2, 0).Byte(3, 0)));
  ASSERT_TRUE(Answer(1, Data().Word(2, 1500).Word(4, 230).Word(6, 65).Word(8, 0xFFFE)));
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, 50.0f);
  EXPECT_EQ(ups_.Output.PhaseR.ActivePower, "1500");
  EXPECT_EQ(ups_.Output.PhaseR.ApparentPower, "1495");
  EXPECT_EQ(ups_.Output.PhaseR.PeakCurrent, "&");

  Request(0, {"101"});
  ASSERT_TRUE(Answer(3, Status(7, 9, 0)));
  EXPECT_EQ(ups_.Main.UpsStatus, "3");
  EXPECT_EQ(ups_.Main.Anomaly, "4");  // a code it does not know leaves the anomaly as it was
  EXPECT_EQ(ups_.Main.Temperature, "0");
}

TEST_F(HalvoraDriverTest, LoadCountsOnlyTheModulesThatWork) {
  struct Case {
    const char* power;
    const char* nominal;
    const char* modules;
    const char* faulty;
    float load;
  };
  for (const Case& c : {Case{"1500", "3000", "1", "0", 50.0f}, Case{"1500", "3000", "2", "1", 100.0f},
                        Case{"1500", "3000", "&", "0", 0.0f}, Case{"&", "3000", "1", "0", 0.0f},
                        Case{"1500", "3000", "0", "0", 0.0f}, Case{"3", "3000", "1", "1", 300.0f}}) {
    TUpsInfoData info;
    info.ActiveNominalPower = c.nominal;
    info.ModuleCount = c.modules;
    EXPECT_FLOAT_EQ(HalvoraLoad(c.power, info, c.faulty), c.load) << c.power << " " << c.modules << " " << c.faulty;
  }
}

TEST_F(HalvoraDriverTest, TheBatteryTestResultComesOnlyFromTheShortTest) {
  Request(0, {"401", "1"});
  ASSERT_TRUE(Answer(14, Data().Byte(2, 3)));
  EXPECT_EQ(ups_.Test.BatteryTestResult, "");
  for (const auto& [raw, result] : std::vector<std::pair<uint8_t, std::string>>{
           {3, "60"}, {5, "100"}, {254, "255"}, {255, "@"}, {0, "0"}, {9, "0"}}) {
    Request(0, {"400"});
    ASSERT_TRUE(Answer(14, Data().Byte(2, raw)));
    EXPECT_EQ(ups_.Test.BatteryTestResult, result) << int{raw};
  }
  Request(0, {"400"});
  std::string refusal = Refusal();
  ASSERT_TRUE(Answer(refusal));
  EXPECT_EQ(ups_.Test.BatteryTestResult, "&");
}

TEST_F(HalvoraDriverTest, TheSwitchOffIsAnsweredOnceAndNotSentAgain) {
  Request(0, {"2", "180", "60"});
  ASSERT_TRUE(Answer(10, Data().Dword(2, 180).Dword(6, 60)));
  EXPECT_TRUE(command_.Exchange.Queue.empty());
}

TEST_F(HalvoraDriverTest, RefusalsMarkWhatTheUpsWouldNotTell) {
  Request(0, {"102"});
  std::string buffer = Reply(1, Data().Word(2, 700).Word(4, 230).Word(6, 30).Word(8, 50)) + Refusal() + Refusal() +
                       Reply(26, Data().Byte(2, 1).Byte(3, 0).Byte(4, 1).Byte(5, 0));
  ASSERT_TRUE(Answer(buffer));
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "230");
  ASSERT_TRUE(Answer(buffer));
  EXPECT_EQ(ups_.Output.LoadWaitingThreshold, "&");
  ASSERT_TRUE(Answer(buffer));
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "&");
  EXPECT_EQ(ups_.Input.PllEnabled, "&");
  ASSERT_TRUE(Answer(buffer));
  EXPECT_EQ(ups_.Output.OffLineMode, "1");
  EXPECT_EQ(buffer, "");
  EXPECT_TRUE(command_.Exchange.Queue.empty());
}

TEST_F(HalvoraDriverTest, FramingKeepsWhatIsIncompleteAndDropsWhatIsWrong) {
  const std::string status = Reply(3, Status(0, 0, 150));
  Request(0, {"101"});
  // Split at every byte, after wake-up noise.
  std::string buffer = std::string(3, '\0');
  for (size_t i = 0; i + 1 < status.size(); ++i) {
    buffer += status[i];
    ASSERT_FALSE(Answer(buffer)) << i;
  }
  buffer += status.back();
  ASSERT_TRUE(Answer(buffer));
  EXPECT_EQ(ups_.Main.Temperature, "22");
  EXPECT_EQ(buffer, "");

  // A bad checksum, a reply to another command and a command beyond the table are all dropped.
  Request(0, {"101"});
  std::string bad = status;
  bad.back() = static_cast<char>(bad.back() + 1);
  for (const std::string& dropped : {bad, Reply(4, Data().Word(2, 1).Through(7)), Reply(55, Data().Byte(2, 1))}) {
    buffer = dropped;
    EXPECT_FALSE(Answer(buffer));
    EXPECT_EQ(buffer, "");
  }
  // A reply too short for its layout stores nothing.
  buffer = Reply(3, Data().Byte(2, 1));
  EXPECT_FALSE(Answer(buffer));
  EXPECT_EQ(ups_.Main.UpsStatus, "0");
}

TEST_F(HalvoraDriverTest, ProtocolTwoPagesItsEventListAndLaterAddsOnlyNewerEvents) {
  const auto event = [](uint8_t day, uint8_t code, uint8_t extra) {
    return Data().Byte(2, 0x26).Byte(3, 0x12).Byte(4, day).Byte(5, 0x10).Byte(6, 0x30).Byte(7, code).Byte(10, extra);
  };
  const auto codes = [this] {
    std::string text;
    for (const TUpsEventRecord& e : ups_.Events.Items) text += e.Day + ":" + e.Code + " ";
    return text;
  };
  server_.ProtocolReset = true;
  Request(2, {"109"});
  ASSERT_TRUE(Answer(46, event(0x09, 5, 3)));
  ASSERT_EQ(command_.Exchange.Queue, TStringList{"46,1"});
  EXPECT_EQ(Next().second, Bytes{1});
  ASSERT_TRUE(Answer(46, event(0x08, 6, 2)));
  ASSERT_TRUE(Answer(46, event(0x07, 7, 1)));
  ASSERT_TRUE(Answer(46, Data().Through(10)));  // the end of the UPS's list
  EXPECT_TRUE(command_.Exchange.Queue.empty());
  EXPECT_EQ(codes(), "09:5 08:6 07:7 ");
  EXPECT_EQ(ups_.Events.Count, "3");
  EXPECT_FALSE(server_.ProtocolReset);

  // Two new events, then the newest one already held ends the read.
  Request(2, {"109"});
  ASSERT_TRUE(Answer(46, event(0x11, 9, 5)));
  ASSERT_TRUE(Answer(46, event(0x10, 8, 4)));
  ASSERT_TRUE(Answer(46, event(0x09, 5, 3)));
  EXPECT_TRUE(command_.Exchange.Queue.empty());
  EXPECT_EQ(codes(), "11:9 10:8 09:5 08:6 07:7 ");
  EXPECT_EQ(ups_.Events.Count, "5");

  // A fresh read from a UPS that comes round to its first event again stops there.
  server_.ProtocolReset = true;
  Request(2, {"109"});
  ASSERT_TRUE(Answer(46, event(0x11, 9, 5)));
  ASSERT_TRUE(Answer(46, event(0x10, 8, 5)));
  EXPECT_EQ(codes(), "11:9 ");
}

TEST_F(HalvoraDriverTest, OtherProtocolsReadTheirEventCodesAtOnce) {
  ups_.Events.Items.resize(4);
  Request(5, {"109"});
  ASSERT_TRUE(Answer(7, Data().Byte(2, 3).Byte(3, 12).Byte(4, 40).Byte(5, 7)));
  ASSERT_EQ(ups_.Events.Items.size(), 3u);
  EXPECT_EQ(ups_.Events.Items[1].Code, "40");
  EXPECT_EQ(ups_.Events.Items[1].Year, "&");
  EXPECT_EQ(ups_.Events.Count, "3");
}

TEST_F(HalvoraDriverTest, TheCalendarIsReadStepByStepAndAnEndlessOneIsCut) {
  const auto step = [](uint8_t index, uint8_t code) {
    return Data().Byte(2, index).Byte(3, 170).Byte(4, 0x15).Byte(5, 170).Byte(6, 0x07).Byte(7, 0x30).Byte(8, code);
  };
  Request(0, {"112"});
  ASSERT_TRUE(Answer(54, Data().Byte(2, 1)));
  EXPECT_EQ(ups_.Calendar.Enabled, "1");
  ASSERT_TRUE(Answer(53, step(0, 1)));
  EXPECT_EQ(Next().second, Bytes{1});
  ASSERT_TRUE(Answer(53, step(1, 2)));
  ASSERT_TRUE(Answer(53, step(2, 255)));
  EXPECT_TRUE(command_.Exchange.Queue.empty());
  ASSERT_EQ(ups_.Calendar.StepCount, 2);
  const TUpsCalendarStepData& first = ups_.Calendar.Steps[0];
  EXPECT_EQ(first.Index + "," + first.Bcd1 + "," + first.Bcd2 + "," + first.Mark + "," + first.Bcd3 + "," +
                first.Bcd4 + "," + first.Code,
            "0,*,15,*,07,30,1");

  // A UPS that answers the same index again cannot keep the read going.
  Request(0, {"112"});
  ASSERT_TRUE(Answer(54, Data().Byte(2, 0)));
  ASSERT_TRUE(Answer(53, step(0, 1)));
  ASSERT_TRUE(Answer(53, step(0, 1)));
  EXPECT_TRUE(command_.Exchange.Queue.empty());
  EXPECT_EQ(ups_.Calendar.StepCount, 2);
}

TEST_F(HalvoraDriverTest, ClockAndSettingsRepliesReadBack) {
  Request(0, {"111"});
  ASSERT_TRUE(Answer(49, Data().Byte(2, 0x26).Byte(3, 0x12).Byte(4, 0x09).Byte(5, 0x18).Byte(6, 0x05).Byte(7, 0x59)
                             .Byte(8, 3)));
  EXPECT_EQ(ups_.Clock.Year + "-" + ups_.Clock.Month + "-" + ups_.Clock.Day + " " + ups_.Clock.Hour + ":" +
                ups_.Clock.Minute + ":" + ups_.Clock.Second + " " + ups_.Clock.DayOfWeek,
            "26-12-09 18:05:59 03");

  Request(0, {"106"});
  ASSERT_TRUE(Answer(4, Data().Word(2, 272).Word(4, 230).Word(6, 210)));
  ASSERT_TRUE(Answer(8, Data().Word(2, 0xFFFE).Word(4, 600).Byte(6, 1)));
  ASSERT_TRUE(Answer(33, Data().Byte(2, 0).Byte(3, 1)));
  EXPECT_EQ(ups_.Battery.Voltage, "272");
  EXPECT_EQ(ups_.Battery.MaxTimeOnBattery, "&");
  EXPECT_EQ(ups_.Battery.MaxTimeAfterReserve, "600");
  EXPECT_EQ(ups_.Battery.ThresholdsMode, "0");

  Request(5, {"101"});
  for (uint8_t cmd : {3, 27, 1}) ASSERT_TRUE(Answer(cmd, Data().Through(9))) << int{cmd};
  ASSERT_TRUE(Answer(37, Data().Byte(2, 0).Word(3, 1800).Byte(5, 87)));
  ASSERT_TRUE(Answer(41, Data().Word(2, 4)));
  EXPECT_EQ(ups_.Main.AutonomyFromUps, 1);
  EXPECT_EQ(ups_.Main.AutonomyTime, 1800);
  EXPECT_FLOAT_EQ(setup_.UpsSetup.UpsBatteryCapacity, 87.0f);
  EXPECT_EQ(ups_.Main.AutonomyReserveTime, "4");
}

}  // namespace
}  // namespace keep::server
