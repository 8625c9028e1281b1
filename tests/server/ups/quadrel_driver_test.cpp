#include "server/ups/quadrel_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ups/protocol_driver.h"
#include "server/ups/quadrel_frame.h"
#include "server/ups/quadrel_identification.h"
#include "server/ups/quadrel_replies.h"
#include "server/ups/quadrel_tables.h"
#include "tests/support/reply_bytes.h"

namespace keep::server {
namespace {

using Data = test::ReplyBytes;

std::string Reply(uint8_t cmd, const Data& data) { return BuildQuadrelFrame(cmd, data.bytes()); }

class QuadrelDriverTest : public ::testing::Test {
 protected:
  QuadrelDriverTest() {
    setup_.UpsSetup.UpsModelName = "Modular";
    ups_.Info.ModuleCount = "-1";
  }

  DriverContext Context() { return DriverContext{command_, reply_timeout_, ups_, setup_, server_}; }

  // Parse with `head` on the wire, as BuildNext left it.
  bool Parse(const std::string& head, std::string& buffer) {
    command_.Exchange.Queue = {head};
    command_.Exchange.ProtoCmd = QuadrelItemCommand(head);
    DriverContext context = Context();
    return driver_.Parse(context, buffer);
  }
  bool Parse(const std::string& head, uint8_t cmd, const Data& data) {
    std::string buffer = Reply(cmd, data);
    const bool accepted = Parse(head, buffer);
    EXPECT_EQ(buffer, "");
    return accepted;
  }
  // The queue after the reply, without the exchange it answered.
  TStringList Asked() const { return TStringList(command_.Exchange.Queue.begin() + 1, command_.Exchange.Queue.end()); }

  QuadrelDriver driver_;
  TUpsManCommandRecord command_;
  uint16_t reply_timeout_ = 10000;
  TUpsData ups_;
  TSetupData setup_;
  TServerData server_;
};

Data Identification(uint8_t configuration, uint8_t l1, uint8_t l2, uint8_t l3, uint16_t va, uint16_t w) {
  Data data;
  data.Byte(5, configuration).Word(6, va).Word(8, w).Byte(10, l1).Byte(11, l2).Byte(12, l3).Byte(13, 20);
  data.Byte(18, 3).Byte(19, 7).Text(21, "  SN-0042   ").Through(32);
  return data;
}

TEST_F(QuadrelDriverTest, DriverStartsWithTheWakeUpAndSendsEveryExchangeFramed) {
  DriverContext context = Context();
  EXPECT_EQ(driver_.Init(context), std::string(255, '\0'));
  server_.ModelTime1 = 1500;
  command_.Exchange.Queue = {"67,35", "1"};
  uint8_t expect = 0;
  int32_t delay = -1;
  driver_.BuildNext(context, expect, delay);
  EXPECT_EQ(expect, 1);
  EXPECT_EQ(delay, 0);
  EXPECT_EQ(reply_timeout_, 1500);
  EXPECT_EQ(command_.Exchange.ProtoCmd, 67);
  EXPECT_EQ(command_.Exchange.Frame, BuildQuadrelFrame(67, {0, 35, 0}));
  EXPECT_NE(CreateProtocolDriver(4), nullptr);
}

TEST_F(QuadrelDriverTest, IdentificationStoresConfigurationModulesAndModelName) {
  ups_.Input.PhaseS.Voltage = "230";
  ups_.Output.PhaseS.Voltage = "231";
  // 2 + 3 modules (254 on L3 counts none) of 25000 VA: 125000 VA, 12.5 rounded to even, 120 kVA.
  ASSERT_TRUE(Parse("1", 1, Identification(1, 2, 3, 254, 25000, 22500)));
  EXPECT_EQ(ups_.Info.UpsType, "4");
  EXPECT_EQ(ups_.Input.InputConfig, "0");
  EXPECT_EQ(ups_.Output.OutputConfig, "2");
  EXPECT_EQ(ups_.Input.PhaseS.Voltage, "&");
  EXPECT_EQ(ups_.Output.PhaseS.Voltage, "231");
  EXPECT_EQ(ups_.Hardware.ModulesL3, "&");
  EXPECT_EQ(ups_.Info.InstalledModules, "5");
  EXPECT_EQ(ups_.Info.ModuleCount, "5");
  EXPECT_EQ(ups_.Info.ApparentNominalPower, "125000");
  EXPECT_EQ(ups_.Info.ActiveNominalPower, "112500");
  EXPECT_EQ(ups_.Info.ModelName, "Modular 120 kVA");
  EXPECT_EQ(ups_.Info.BatteryBlocks, 20);
  EXPECT_EQ(ups_.Info.FirmwareVersion, "3.07");
  EXPECT_EQ(ups_.Info.SerialNumber, "SN-0042");

  // Later identifications keep the name; a single-phase output counts L1 only.
  ups_.Output.PhaseT.State = "1";
  ASSERT_TRUE(Parse("1", 1, Identification(0, 2, 3, 4, 10000, 9000)));
  EXPECT_EQ(ups_.Info.ModelName, "Modular 120 kVA");
  EXPECT_EQ(ups_.Info.UpsType, "3");
  EXPECT_EQ(ups_.Info.InstalledModules, "2");
  EXPECT_EQ(ups_.Output.PhaseS.Voltage, "&");
  EXPECT_EQ(ups_.Output.PhaseT.State, "1");

  // An unknown configuration code changes none of the three codes.
  ASSERT_TRUE(Parse("1", 1, Identification(2, 1, 1, 1, 10000, 9000)));
  EXPECT_EQ(ups_.Info.UpsType, "3");
  EXPECT_EQ(ups_.Output.OutputConfig, "0");
}

TEST_F(QuadrelDriverTest, ModelNameWithoutPowerKeepsTheConfiguredName) {
  ASSERT_TRUE(Parse("1", 1, Identification(0, 0, 0, 0, 10000, 9000)));
  EXPECT_EQ(ups_.Info.ModelName, "Modular");
  // A model listed with its module count is named as configured, not left nameless.
  ups_ = TUpsData{};
  ups_.Info.ModuleCount = "4";
  ASSERT_TRUE(Parse("1", 1, Identification(0, 4, 0, 0, 10000, 9000)));
  EXPECT_EQ(ups_.Info.ModelName, "Modular");
}

TEST(QuadrelModelPowerTest, RoundsToKvaHalvesToEven) {
  EXPECT_EQ(QuadrelModelPower(2500), 2);
  EXPECT_EQ(QuadrelModelPower(3500), 4);
  EXPECT_EQ(QuadrelModelPower(1000), 1);
  EXPECT_EQ(QuadrelModelPower(99999), 100);
  EXPECT_EQ(QuadrelModelPower(100000), 100);
  EXPECT_EQ(QuadrelModelPower(135000), 140);
  EXPECT_EQ(QuadrelModelPower(999999), 1000);
  EXPECT_EQ(QuadrelModelPower(999), 999);
}

TEST_F(QuadrelDriverTest, ShortRepliesStoreNothing) {
  ups_.Info.UpsType = "x";
  Data identification = Identification(1, 2, 3, 4, 25000, 22500);
  std::vector<uint8_t> cut = identification.bytes();
  cut.pop_back();
  std::string buffer = BuildQuadrelFrame(1, cut);
  EXPECT_FALSE(Parse("1", buffer));
  EXPECT_EQ(buffer, "");
  EXPECT_EQ(ups_.Info.UpsType, "x");
  EXPECT_EQ(ups_.Info.ModelName, "");

  ups_.Main.UpsStatus = "x";
  EXPECT_FALSE(Parse("32", 32, Data().Byte(4, 0x41)));
  EXPECT_EQ(ups_.Main.UpsStatus, "x");
  ups_.Output.PhaseR.Voltage = "x";
  EXPECT_FALSE(Parse("33,0", 33, Data().Byte(3, 0).Through(18)));
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "x");
  EXPECT_FALSE(Parse("96", 96, Data().Byte(3, 2).Byte(4, 1).Byte(5, 7).Byte(6, 2)));
  EXPECT_EQ(ups_.ModuleAlarms.Count, "");
}

TEST_F(QuadrelDriverTest, RefusalsOtherCommandsAndUnknownCommandsAreNotAccepted) {
  ups_.Main.UpsStatus = "x";
  std::string buffer = BuildQuadrelFrame('K', {'o', 0x41, 0, 30});
  EXPECT_FALSE(Parse("32", buffer));
  EXPECT_EQ(buffer, "");
  EXPECT_EQ(ups_.Main.UpsStatus, "x");

  // A late reply to another exchange is not taken for this one.
  EXPECT_FALSE(Parse("35", 32, Data().Byte(3, 0x41).Through(5)));
  EXPECT_EQ(ups_.Main.UpsStatus, "x");
  EXPECT_FALSE(Parse("200", 200, Data().Byte(3, 1)));

  // Nothing is consumed while no exchange is in progress.
  command_.Exchange.Queue.clear();
  buffer = Reply(32, Data().Byte(3, 0x41).Through(5));
  DriverContext context = Context();
  EXPECT_FALSE(driver_.Parse(context, buffer));
  EXPECT_EQ(buffer, Reply(32, Data().Byte(3, 0x41).Through(5)));
}

TEST_F(QuadrelDriverTest, AcceptsASplitReplyAndLeavesASecondOneForTheNextCall) {
  const std::string status = Reply(32, Data().Byte(3, 0x41).Byte(4, 0).Byte(5, 31));
  std::string buffer = status.substr(0, 4);
  EXPECT_FALSE(Parse("32", buffer));
  EXPECT_EQ(buffer, status.substr(0, 4));
  buffer += status.substr(4);
  ASSERT_TRUE(Parse("32", buffer));
  EXPECT_EQ(ups_.Main.UpsStatus, "1");
  EXPECT_EQ(ups_.Main.Temperature, "31");

  const std::string beeper = Reply(68, Data().Byte(3, 1));
  buffer = Reply(32, Data().Byte(3, 0x40).Byte(4, 0).Byte(5, 32)) + beeper;
  ASSERT_TRUE(Parse("32", buffer));
  EXPECT_EQ(ups_.Main.UpsStatus, "0");
  EXPECT_EQ(buffer, beeper);
  ASSERT_TRUE(Parse("68,2", buffer));
  EXPECT_EQ(ups_.Hardware.BuzzerEnabled, "0");

  // A bad checksum drops the frame and lets the next one through on the next call.
  buffer = BuildQuadrelFrame(68, {0});
  buffer.back() = static_cast<char>(buffer.back() + 1);
  buffer += beeper;
  EXPECT_FALSE(Parse("68,2", buffer));
  EXPECT_EQ(buffer, beeper);
}

struct FlagCase {
  uint8_t raw;
  const char* code;
};

TEST_F(QuadrelDriverTest, StatusFlagsGiveTheFirstMatchingCode) {
  const FlagCase status[] = {{0x00, "5"}, {0x3F, "5"}, {0x40, "0"}, {0x64, "6"}, {0x45, "2"},
                             {0x41, "1"}, {0x52, "4"}, {0x42, "3"}, {0xC0, "0"}};
  for (const FlagCase& c : status) {
    ASSERT_TRUE(Parse("32", 32, Data().Byte(3, c.raw).Byte(4, 0).Byte(5, 254)));
    EXPECT_EQ(ups_.Main.UpsStatus, c.code) << int{c.raw};
    EXPECT_EQ(ups_.Battery.ChargerStatus, c.raw >= 0x80 ? "1" : "0");
  }
  EXPECT_EQ(ups_.Main.Temperature, "&");
  const FlagCase anomaly[] = {{0x00, "0"}, {0x05, "1"}, {0x06, "3"}, {0x0A, "2"}, {0x18, "4"}, {0x10, "5"}};
  for (const FlagCase& c : anomaly) {
    ASSERT_TRUE(Parse("32", 32, Data().Byte(3, 0x40).Byte(4, c.raw).Byte(5, 20)));
    EXPECT_EQ(ups_.Main.Anomaly, c.code) << int{c.raw};
  }
}

TEST_F(QuadrelDriverTest, OutputPhaseGivesValuesAndTheLargerLoad) {
  Data phase;
  phase.Byte(3, 1).Word(4, 1000).Word(6, 1200).Word(8, 500).Word(10, 900).Word(12, 230).Word(14, 65535);
  phase.Word(16, 12).Word(18, 50);
  ASSERT_TRUE(Parse("33,1", 33, phase));
  EXPECT_FLOAT_EQ(ups_.Main.LoadS, 75.0f);
  EXPECT_EQ(ups_.Output.PhaseS.Voltage, "230");
  EXPECT_EQ(ups_.Output.PhaseS.Current, "@");
  EXPECT_EQ(ups_.Output.PhaseS.Frequency, "50");

  EXPECT_FLOAT_EQ(QuadrelLoadRatio(10, 65534), -1.0f);
  EXPECT_FLOAT_EQ(QuadrelLoadRatio(65535, 100), -2.0f);
  EXPECT_FLOAT_EQ(QuadrelLoadRatio(10, 0), 0.0f);
  // Not available nominal active against overrange apparent: the larger, -1.
  phase.Byte(3, 2).Word(4, 65534).Word(10, 65535);
  ASSERT_TRUE(Parse("33,2", 33, phase));
  EXPECT_FLOAT_EQ(ups_.Main.LoadT, -1.0f);

  ups_.Main.LoadR = 5.0f;
  EXPECT_FALSE(Parse("33,3", 33, phase.Byte(3, 3)));
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, 5.0f);

  ASSERT_TRUE(Parse("34,2", 34, Data().Byte(3, 2).Word(8, 229).Word(14, 65534)));
  EXPECT_EQ(ups_.Input.PhaseT.Voltage, "229");
  EXPECT_EQ(ups_.Input.PhaseT.Frequency, "&");
}

TEST_F(QuadrelDriverTest, BatteryReplyScalesByBlocksStringsAndCharge) {
  ups_.Info.BatteryBlocks = 20;
  ups_.Battery.BatteryStrings = "2";
  Data battery;
  battery.Word(3, 1350).Word(5, static_cast<uint16_t>(-30)).Byte(7, 80).Dword(8, 3600).Word(12, 600);
  ASSERT_TRUE(Parse("35", 35, battery));
  EXPECT_EQ(ups_.Battery.Voltage, "27000");
  EXPECT_EQ(ups_.Battery.CurrentOnBattery, "60");
  EXPECT_FLOAT_EQ(setup_.UpsSetup.UpsBatteryCapacity, 80.0f);
  EXPECT_EQ(ups_.Main.AutonomyTime, 2880);
  EXPECT_EQ(ups_.Main.AutonomyReserveTime, "10");

  // Half a second rounds to even; sentinels stay marks.
  battery.Byte(7, 50).Dword(8, 5).Word(12, 65535).Word(5, 32766);
  ASSERT_TRUE(Parse("35", 35, battery));
  EXPECT_EQ(ups_.Main.AutonomyTime, 2);
  EXPECT_EQ(ups_.Main.AutonomyReserveTime, "@");
  EXPECT_EQ(ups_.Battery.CurrentOnBattery, "&");

  ups_.Info.BatteryBlocks = 254;
  ASSERT_TRUE(Parse("35", 35, battery));
  EXPECT_EQ(ups_.Battery.Voltage, "&");
}

TEST_F(QuadrelDriverTest, ModuleRepliesDecodeOnlyValidModules) {
  Data info;
  info.Byte(3, 7).Byte(4, 0).Byte(5, 1).Word(7, 25000).Word(9, 22500).Word(11, 6);
  info.Byte(13, 2).Byte(14, 5).Byte(15, 11).Byte(16, 254).Byte(17, 1).Text(18, "MOD7").Through(30);
  ASSERT_TRUE(Parse("8,7", 8, info));
  ASSERT_TRUE(Parse("8,7", 8, info));
  EXPECT_EQ(ups_.Info.ModuleIds, (std::vector<std::string>{"7"}));
  const TPowerModuleInfoData& stored = ups_.Module.Info;
  EXPECT_EQ(stored.ModuleId, "7");
  EXPECT_EQ(stored.ModuleState, '0');
  EXPECT_EQ(stored.Phase, "1");
  EXPECT_EQ(stored.ApparentNominalPower, "25000");
  EXPECT_EQ(stored.FirmwareVersion, "2.05.11");
  EXPECT_EQ(stored.HardwareVersion, "&");
  EXPECT_EQ(stored.SerialNumber, "MOD7");

  // A module that does not answer: state '2', every value "&", not listed; four bytes suffice.
  ASSERT_TRUE(Parse("8,9", 8, Data().Byte(3, 9).Byte(4, 4)));
  EXPECT_EQ(ups_.Module.Info.ModuleState, '2');
  EXPECT_EQ(ups_.Module.Info.ModuleId, "9");
  EXPECT_EQ(ups_.Module.Info.SerialNumber, "&");
  EXPECT_EQ(ups_.Info.ModuleIds.size(), 1u);

  ASSERT_TRUE(Parse("40,7", 40, Data().Byte(3, 7).Byte(4, 0).Word(5, 0x06).Word(7, 0x35)));
  const TPowerModuleMainData& main = ups_.Module.Main;
  EXPECT_EQ(main.WorkMode, "3");
  EXPECT_EQ(main.ChargerStatus, "1");
  EXPECT_EQ(main.BatteryCharger, "1");
  EXPECT_EQ(main.Inverter, "1");
  EXPECT_EQ(main.Booster, "1");
  EXPECT_EQ(main.Overheat, "0");
  EXPECT_EQ(main.Overload, "1");
  ASSERT_TRUE(Parse("40,7", 40, Data().Byte(3, 7).Byte(4, 255)));
  EXPECT_EQ(main.ModuleState, '3');
  EXPECT_EQ(main.WorkMode, "&");
  EXPECT_EQ(main.Overload, "&");

  // Valid state but cut short: nothing stored.
  EXPECT_FALSE(Parse("45,7", 45, Data().Byte(3, 7).Byte(4, 0).Through(27)));
  EXPECT_EQ(ups_.Module.History.ModuleId, "");
  ASSERT_TRUE(Parse("43,7", 43, Data().Byte(3, 7).Byte(4, 1).Word(5, 540)));
  EXPECT_EQ(ups_.Module.Battery.ModuleState, '1');
  EXPECT_EQ(ups_.Module.Battery.Voltage, "&");
}

TEST_F(QuadrelDriverTest, TextTablesAreReadEntryByEntry) {
  ASSERT_TRUE(Parse("97,0", 97, Data().Byte(3, 0).Byte(4, 0).Text(5, "Overload  ")));
  EXPECT_EQ(Asked(), TStringList{"97,1"});
  ASSERT_TRUE(Parse("97,1", 97, Data().Byte(3, 1).Byte(4, 16)));
  EXPECT_EQ(Asked(), TStringList{"97,2"});
  ASSERT_TRUE(Parse("97,2", 97, Data().Byte(3, 2).Byte(4, 64).Text(5, "ignored")));
  EXPECT_EQ(Asked(), TStringList{"97,3"});
  EXPECT_EQ(ups_.AlarmTexts.Count, "");
  ASSERT_TRUE(Parse("97,3", 97, Data().Byte(3, 3).Byte(4, 128)));
  EXPECT_TRUE(Asked().empty());
  EXPECT_EQ(ups_.AlarmTexts.Count, "2");
  ASSERT_EQ(ups_.AlarmTexts.Items.size(), 2u);
  EXPECT_EQ(ups_.AlarmTexts.Items[0].Code, "0");
  EXPECT_EQ(ups_.AlarmTexts.Items[0].Text, "Overload");
  EXPECT_EQ(ups_.AlarmTexts.Items[1].Code, "2");
  EXPECT_EQ(ups_.AlarmTexts.Items[1].Text, "&");

  // Event texts go to their own table; the last index ends the reading.
  ASSERT_TRUE(Parse("100,255", 100, Data().Byte(3, 255).Byte(4, 0).Text(5, "Mains back")));
  EXPECT_TRUE(Asked().empty());
  EXPECT_EQ(ups_.EventTexts.Count, "1");
  EXPECT_EQ(ups_.AlarmTexts.Items.size(), 2u);
  ASSERT_TRUE(Parse("100,0", 100, Data().Byte(3, 0).Byte(4, 255)));
  EXPECT_EQ(ups_.EventTexts.Count, "&");
  EXPECT_TRUE(ups_.EventTexts.Items.empty());
}

TEST_F(QuadrelDriverTest, RepeatingUpsCannotGrowTheListsWithoutEnd) {
  for (size_t n = 1; n <= kQuadrelMaxTableEntries; ++n) {
    ASSERT_TRUE(Parse("97,0", 97, Data().Byte(3, 0).Byte(4, 64)));
    EXPECT_EQ(Asked().empty(), n == kQuadrelMaxTableEntries) << n;
  }
  EXPECT_EQ(ups_.AlarmTexts.Count, std::to_string(kQuadrelMaxTableEntries));

  for (uint32_t n = 1; n <= kQuadrelMaxEventRecords; ++n) {
    ASSERT_TRUE(Parse("98,0,1", 98, Data().Byte(3, 0).Byte(5, 0).Dword(6, n).Byte(10, 1)));
    ASSERT_EQ(Asked().empty(), n == kQuadrelMaxEventRecords) << n;
  }
  EXPECT_EQ(ups_.EventLog.Count, std::to_string(kQuadrelMaxEventRecords));
  EXPECT_EQ(ups_.EventLog.Items.size(), kQuadrelMaxEventRecords);
}

TEST_F(QuadrelDriverTest, EventLogStopsWhereItWraps) {
  // Queued right after the exchange in progress, before what the command still has to do.
  command_.Exchange.Queue = {"98,1,4", "later"};
  command_.Exchange.ProtoCmd = 98;
  std::string buffer;
  for (uint32_t n = 0; n < 5; ++n) {
    buffer = Reply(98, Data().Byte(3, 1).Byte(5, 0).Dword(6, 86400 * 366 + 3661 + n).Byte(10, 40 + n));
    DriverContext context = Context();
    ASSERT_TRUE(driver_.Parse(context, buffer));
    ASSERT_EQ(command_.Exchange.Queue.size(), 3u);
    EXPECT_EQ(command_.Exchange.Queue[1], "98,1,1");
    EXPECT_EQ(command_.Exchange.Queue[2], "later");
    command_.Exchange.Queue.erase(command_.Exchange.Queue.begin());
  }
  ASSERT_TRUE(Parse("98,1,1", 98, Data().Byte(3, 1).Byte(5, 3).Dword(6, 86400 * 366 + 3661).Byte(10, 40)));
  EXPECT_TRUE(Asked().empty());
  const TQuadrelEventsList& log = ups_.EventLog;
  EXPECT_EQ(log.Count, "5");
  EXPECT_EQ(log.Selector, "1");
  ASSERT_EQ(log.Items.size(), 5u);
  EXPECT_EQ(log.Items[0].Date, "01/01/2001");
  EXPECT_EQ(log.Items[0].Time, "01:01:01");
  EXPECT_EQ(log.Items[0].Code, "40");
  EXPECT_EQ(log.Items[4].Time, "01:01:05");

  ASSERT_TRUE(Parse("98,1,1", 98, Data().Byte(3, 1).Byte(5, 1)));
  EXPECT_EQ(log.Count, "&");
  EXPECT_EQ(log.Items.size(), 5u);
  ASSERT_TRUE(Parse("98,1,1", 98, Data().Byte(3, 1).Byte(5, 2)));
  EXPECT_EQ(log.Count, "0");
  EXPECT_TRUE(log.Items.empty());
  // A record status without the record.
  EXPECT_FALSE(Parse("98,1,1", 98, Data().Byte(3, 1).Byte(5, 0).Through(9)));
  EXPECT_TRUE(log.Items.empty());
}

TEST_F(QuadrelDriverTest, BatteryTestRunsThroughItsStates) {
  // Idle before the test: ask it to start, once.
  ASSERT_TRUE(Parse("165,1", 165, Data().Byte(3, 0).Byte(4, 0)));
  EXPECT_EQ(Asked(), TStringList{"165,0"});
  ASSERT_TRUE(Parse("165,0", 165, Data().Byte(3, 0).Byte(4, 0)));
  EXPECT_TRUE(Asked().empty());

  ASSERT_TRUE(Parse("165,0", 165, Data().Byte(3, 1)));
  EXPECT_EQ(ups_.Test.BatteryTestState, "1");
  EXPECT_EQ(ups_.Test.BatteryTestResult, "&");
  EXPECT_EQ(Asked(), TStringList{"165,1"});
  ASSERT_TRUE(Parse("165,1", 165, Data().Byte(3, 0).Byte(4, 93)));
  EXPECT_EQ(ups_.Test.BatteryTestState, "0");
  EXPECT_EQ(ups_.Test.BatteryTestResult, "93");
  EXPECT_TRUE(Asked().empty());

  ASSERT_TRUE(Parse("165,1", 165, Data().Byte(3, 2)));
  EXPECT_EQ(ups_.Test.BatteryTestState, "@");
  ASSERT_TRUE(Parse("165,1", 165, Data().Byte(3, 255)));
  EXPECT_EQ(ups_.Test.BatteryTestState, "&");
  EXPECT_EQ(ups_.Test.BatteryTestResult, "&");
}

struct ParameterCase {
  uint16_t parameter;
  uint32_t value;
  const char* stored;
};

TEST_F(QuadrelDriverTest, ParametersStoreTheirCodedValues) {
  const auto read = [this](uint16_t parameter, uint32_t value, uint8_t status = 0) {
    return Parse("67," + std::to_string(parameter), 67, Data().Word(3, parameter).Byte(5, status).Dword(6, value));
  };
  const ParameterCase cases[] = {
      {2, 0, "1"},  {2, 1, "0"},  {2, 2, "&"},  {3, 1, "1"},  {4, 0, "1"},
      {25, 3, "3"}, {25, 0, "&"}, {44, 1, "0"}, {67, 1, "1"}, {4, 4294967295u, "&"},
  };
  for (const ParameterCase& c : cases) {
    ASSERT_TRUE(read(c.parameter, c.value));
    const TCode& code = c.parameter == 2    ? ups_.Battery.Autorestart
                        : c.parameter == 3  ? ups_.Input.NominalFrequency
                        : c.parameter == 4  ? ups_.Input.TriPllEnabled
                        : c.parameter == 25 ? ups_.Output.BypassDipSpeed
                        : c.parameter == 44 ? ups_.Output.BypassEnabled
                                            : ups_.Output.EpsMode;
    EXPECT_EQ(code, c.stored) << c.parameter << " = " << c.value;
  }

  ASSERT_TRUE(read(35, 3));
  EXPECT_EQ(ups_.Battery.BatteryStrings, "3");
  ASSERT_TRUE(read(63, 4294967294u));
  EXPECT_EQ(ups_.History.BatteryCalibrations, "&");
  ASSERT_TRUE(read(45, 230, 16));
  EXPECT_EQ(ups_.Output.NominalVoltage, "&");
  // A write's echo answers a read as well.
  ASSERT_TRUE(Parse("67,45", 66, Data().Word(3, 45).Byte(5, 0).Dword(6, 400)));
  EXPECT_EQ(ups_.Output.NominalVoltage, "400");

  ASSERT_TRUE(read(12, 0x0A));
  EXPECT_EQ(ups_.Hardware.RelayMainsBattery, "0");
  EXPECT_EQ(ups_.Hardware.RelayBatteryReserve, "1");
  EXPECT_EQ(ups_.Hardware.RelayGeneralAlarm, "0");
  EXPECT_EQ(ups_.Hardware.RelayOverload, "1");
  ASSERT_TRUE(read(12, 0, 128));
  EXPECT_EQ(ups_.Hardware.RelayOverload, "&");
}

TEST_F(QuadrelDriverTest, ClockSwitchingAndAlarmRepliesAreDecoded) {
  ASSERT_TRUE(
      Parse("65,0,0,0,0,0,0,0,0", 65,
            Data().Byte(2, 0x24).Byte(3, 0x12).Byte(4, 0x31).Byte(5, 0x3A).Byte(6, 0x59).Byte(7, 0x08).Byte(8, 3)));
  EXPECT_EQ(ups_.Clock.Year, "24");
  EXPECT_EQ(ups_.Clock.Day, "31");
  EXPECT_EQ(ups_.Clock.Hour, "&");
  EXPECT_EQ(ups_.Clock.Second, "08");
  EXPECT_EQ(ups_.Clock.DayOfWeek, "3");

  ASSERT_TRUE(Parse("164", 164, Data().Byte(3, 1).Byte(4, 0).Byte(5, 7)));
  EXPECT_EQ(ups_.Output.PhaseR.State, "1");
  EXPECT_EQ(ups_.Output.PhaseS.State, "0");
  EXPECT_EQ(ups_.Output.PhaseT.State, "&");
  ASSERT_TRUE(Parse("163,2,1", 163, Data().Byte(3, 2).Byte(4, 1)));
  EXPECT_EQ(ups_.Output.PhaseT.State, "1");
  EXPECT_EQ(ups_.Output.PhaseR.State, "1");
  ASSERT_TRUE(Parse("163,3,1", 163, Data().Byte(3, 3).Byte(4, 1)));
  EXPECT_EQ(ups_.Output.PhaseR.State, "&");
  EXPECT_EQ(ups_.Output.PhaseT.State, "&");

  ASSERT_TRUE(Parse("162,2", 162, Data().Byte(3, 1)));
  EXPECT_EQ(ups_.Output.ForcedBypass, "1");
  ASSERT_TRUE(Parse("162,2", 162, Data().Byte(3, 9)));
  EXPECT_EQ(ups_.Output.ForcedBypass, "&");
  ASSERT_TRUE(Parse("99,2", 99, Data().Byte(3, 2).Byte(4, 0)));
  EXPECT_EQ(ups_.EventResetSelector, "2");
  EXPECT_EQ(ups_.EventResetDone, "1");

  ASSERT_TRUE(Parse("96", 96, Data().Byte(3, 2).Byte(4, 1).Byte(5, 7).Byte(6, 3).Byte(7, 12)));
  EXPECT_EQ(ups_.ModuleAlarms.Count, "2");
  ASSERT_EQ(ups_.ModuleAlarms.Items.size(), 2u);
  EXPECT_EQ(ups_.ModuleAlarms.Items[1].Code, "3");
  EXPECT_EQ(ups_.ModuleAlarms.Items[1].Text, "12");
  ASSERT_TRUE(Parse("96", 96, Data().Byte(3, 255)));
  EXPECT_EQ(ups_.ModuleAlarms.Count, "&");
  EXPECT_TRUE(ups_.ModuleAlarms.Items.empty());
}

}  // namespace
}  // namespace keep::server
