#include "server/ups/megatec_driver.h"

#include <gtest/gtest.h>

#include <string>

#include "server/ups/protocol_driver.h"

namespace keep::server {
namespace {

class MegatecDriverTest : public ::testing::Test {
 protected:
  DriverContext Context() { return DriverContext{command_, reply_timeout_, ups_, setup_, server_}; }

  // BuildCommand for a client command, as the manager starts it: queue emptied, fields kept.
  bool Build(MegatecDriver& driver, const TStringList& args) {
    command_ = TUpsManCommandRecord{};
    command_.Code = std::stoi(args.at(0));
    command_.Args = args;
    DriverContext context = Context();
    return driver.BuildCommand(context);
  }

  // Parse with `head` as the exchange on the wire.
  bool ParseFor(MegatecDriver& driver, const std::string& head, std::string& buffer) {
    command_.Exchange.Queue = {head};
    DriverContext context = Context();
    return driver.Parse(context, buffer);
  }

  bool ParseStatus(MegatecDriver& driver, std::string line) { return ParseFor(driver, driver.PollCmd(), line); }

  // BuildNext for `head`; the frame is left in command_.
  void Next(MegatecDriver& driver, const std::string& head, uint8_t& expect, int32_t& delay) {
    command_.Exchange.Queue = {head};
    DriverContext context = Context();
    driver.BuildNext(context, expect, delay);
  }

  TUpsManCommandRecord command_;
  uint16_t reply_timeout_ = 10000;
  TUpsData ups_;
  TSetupData setup_;
  TServerData server_;
};

constexpr char kExampleStatus[] = "(230.4 140.0 229.9 034 50.1 2.27 35.0 00000001\r";

TEST_F(MegatecDriverTest, StoresTheStatusAnswerOfAnOnLineModel) {
  MegatecDriver driver(3);
  ups_.Battery.NominalVoltage = 24.0f;
  ups_.Main.UpsStatus = "1";
  ups_.Main.Anomaly = "3";
  std::string buffer = kExampleStatus;
  ASSERT_TRUE(ParseFor(driver, "Q1", buffer));
  EXPECT_EQ(buffer, "");
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "230");
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "230");
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, 34.0f);
  EXPECT_EQ(ups_.Main.UpsStatus, "0");
  EXPECT_EQ(ups_.Main.Anomaly, "0");
  EXPECT_EQ(ups_.Main.Temperature, "35");
  EXPECT_EQ(ups_.Hardware.BuzzerEnabled, "1");
  // Volts per cell: 2.27 x 10 x 6 cells x 2 blocks = 272.4.
  EXPECT_EQ(ups_.Battery.Voltage, "272");

  // A standby model reports the battery voltage itself.
  ASSERT_TRUE(ParseStatus(driver, "(230.4 140.0 229.9 034 50.1 2.27 35.0 00001000\r"));
  EXPECT_EQ(ups_.Battery.Voltage, "23");
  EXPECT_EQ(ups_.Hardware.BuzzerEnabled, "0");
}

TEST_F(MegatecDriverTest, RoundsVoltagesHalfToEven) {
  MegatecDriver driver(3);
  ASSERT_TRUE(ParseStatus(driver, "(230.5 0 231.5 10 50 2.25 35,5 00001001\r"));
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "230");
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "232");
  EXPECT_EQ(ups_.Battery.Voltage, "22");  // 22.5
  EXPECT_EQ(ups_.Main.Temperature, "35");
  ASSERT_TRUE(ParseStatus(driver, "(-0.4 0 +12 10 50 x 35 00001001\r"));
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "0");
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "12");
  EXPECT_EQ(ups_.Battery.Voltage, "&");
}

TEST_F(MegatecDriverTest, DropsNoiseBeforeTheMarkerAndKeepsWhatFollowsTheLine) {
  MegatecDriver driver(3);
  std::string buffer = std::string("\x00\xff junk\r", 8) + kExampleStatus + "(next";
  ASSERT_TRUE(ParseFor(driver, "Q1", buffer));
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "230");
  EXPECT_EQ(buffer, "(next");
}

TEST_F(MegatecDriverTest, WaitsForTheCarriageReturnOfASplitReply) {
  MegatecDriver driver(3);
  std::string buffer = "noise(230.4 140.0 229.9";
  EXPECT_FALSE(ParseFor(driver, "Q1", buffer));
  EXPECT_EQ(buffer, "(230.4 140.0 229.9");
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "");
  buffer += " 034 50.1 2.27 35.0";
  EXPECT_FALSE(ParseFor(driver, "Q1", buffer));
  buffer += " 00000001\r";
  EXPECT_TRUE(ParseFor(driver, "Q1", buffer));
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "230");
  EXPECT_EQ(buffer, "");
}

TEST_F(MegatecDriverTest, LeavesTheBufferAloneWithoutMarkerOrExchange) {
  MegatecDriver driver(3);
  std::string buffer = "no marker here\r";
  EXPECT_FALSE(ParseFor(driver, "Q1", buffer));
  EXPECT_EQ(buffer, "no marker here\r");

  buffer = std::string("xx") + kExampleStatus;
  command_.Exchange.Queue.clear();
  DriverContext context = Context();
  EXPECT_FALSE(driver.Parse(context, buffer));
  EXPECT_EQ(buffer, std::string("xx") + kExampleStatus);
}

TEST_F(MegatecDriverTest, ConsumesMalformedStatusLinesWithoutStoring) {
  MegatecDriver driver(3);
  for (const char* line : {"(230.4 140.0 229.9 034 50.1 2.27 00000001\r",           // 7 fields
                           "(230.4 140.0 229.9 034 50.1 2.27 35.0 0000001\r",       // 7 bits
                           "(230.4 140.0 229.9 034 50.1 2.27 35.0 000000011\r",     // 9 bits
                           "(230.4  140.0 229.9 034 50.1 2.27 35.0 00000001\r"}) {  // double blank
    std::string buffer = std::string(line) + "#";
    EXPECT_FALSE(ParseFor(driver, "Q1", buffer)) << line;
    EXPECT_EQ(buffer, "#") << line;
    EXPECT_EQ(ups_.Main.UpsStatus, "") << line;
    EXPECT_EQ(ups_.Input.PhaseR.Voltage, "") << line;
  }
  // The answer to a query that expects none is not taken either.
  std::string buffer = kExampleStatus;
  EXPECT_FALSE(ParseFor(driver, "Q", buffer));
  EXPECT_EQ(buffer, "");
  EXPECT_EQ(ups_.Main.UpsStatus, "");
}

TEST_F(MegatecDriverTest, StopsStoringAtAStatusFieldThatIsNoNumber) {
  MegatecDriver driver(3);
  EXPECT_FALSE(ParseStatus(driver, "(230.4 140.0 abc 034 50.1 2.27 35.0 10000001\r"));
  EXPECT_EQ(ups_.Main.UpsStatus, "1");
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, 34.0f);
  EXPECT_EQ(ups_.Input.PhaseR.Voltage, "230");
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "");
  EXPECT_EQ(ups_.Battery.Voltage, "");

  ups_.Main.Anomaly = "";
  EXPECT_FALSE(ParseStatus(driver, "(230.4 140.0 229.9 nan 50.1 2.27 35.0 00000001\r"));
  EXPECT_EQ(ups_.Main.UpsStatus, "0");  // stored before the load was read
  EXPECT_EQ(ups_.Main.Anomaly, "");
  EXPECT_FALSE(ParseStatus(driver, "(230.4 140.0 229.9 1e39 50.1 2.27 35.0 00000001\r"));
  EXPECT_EQ(ups_.Main.Anomaly, "");
}

TEST_F(MegatecDriverTest, DecidesOverloadByTheLoadValue) {
  MegatecDriver driver(3);
  ASSERT_TRUE(ParseStatus(driver, "(230 0 230 100.9 50 2 35 00000000\r"));
  EXPECT_EQ(ups_.Main.Anomaly, "0");
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, 100.9f);
  ASSERT_TRUE(ParseStatus(driver, "(230 0 230 101 50 2 35 00000000\r"));
  EXPECT_EQ(ups_.Main.Anomaly, "1");
  ASSERT_TRUE(ParseStatus(driver, "(230 0 230 150 50 2 35 00010000\r"));
  EXPECT_EQ(ups_.Main.Anomaly, "3");
}

TEST_F(MegatecDriverTest, DerivesTheStatusFromTheBits) {
  MegatecDriver driver(3);
  struct Case {
    const char* bits;
    const char* status;
  };
  for (const Case& c : {Case{"10000000", "1"}, Case{"11000000", "2"}, Case{"01000000", "0"}, Case{"00100000", "3"},
                        Case{"00101000", "0"}, Case{"X1000000", "2"}}) {
    ASSERT_TRUE(ParseStatus(driver, std::string("(230 0 230 10 50 2 35 ") + c.bits + "\r")) << c.bits;
    EXPECT_EQ(ups_.Main.UpsStatus, c.status) << c.bits;
  }
}

TEST_F(MegatecDriverTest, KeepsStatusAndAnomalyWhileATestRuns) {
  MegatecDriver driver(3);
  ups_.Main.UpsStatus = "0";
  ups_.Main.Anomaly = "0";
  ASSERT_TRUE(ParseStatus(driver, "(230 0 231 150 50 2 35 11010100\r"));
  EXPECT_EQ(ups_.Main.UpsStatus, "0");
  EXPECT_EQ(ups_.Main.Anomaly, "0");
  EXPECT_EQ(ups_.Output.PhaseR.Voltage, "231");
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, 150.0f);
}

TEST_F(MegatecDriverTest, ReadsFieldSixAsAFrequencyCodeForProtocolOne) {
  MegatecDriver driver(1);
  ups_.Main.Temperature = "&";
  ups_.Hardware.BuzzerEnabled = "1";
  ASSERT_TRUE(ParseStatus(driver, "(230 0 230 10 60 2 59.6 00000000\r"));
  EXPECT_EQ(ups_.Output.PhaseR.Frequency, "1");
  EXPECT_EQ(ups_.Main.Temperature, "&");
  EXPECT_EQ(ups_.Hardware.BuzzerEnabled, "1");
  ASSERT_TRUE(ParseStatus(driver, "(230 0 230 10 50 2 50.0 00000000\r"));
  EXPECT_EQ(ups_.Output.PhaseR.Frequency, "0");
}

TEST_F(MegatecDriverTest, ProtocolEightHasNoLoadField) {
  MegatecDriver driver(8);
  DriverContext context = Context();
  driver.Init(context);
  ups_.Main.Anomaly = "1";
  std::string buffer = "(230 0 230 --- 50 13.1 35 00001001\r";
  ASSERT_TRUE(ParseFor(driver, "QS", buffer));
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, -1.0f);
  EXPECT_EQ(ups_.Main.Anomaly, "1");  // no load to judge it by
  EXPECT_EQ(ups_.Main.UpsStatus, "0");
  EXPECT_EQ(ups_.Main.Temperature, "&");
  EXPECT_EQ(ups_.Hardware.BuzzerEnabled, "1");
  EXPECT_EQ(ups_.Battery.Voltage, "131");
  buffer = "(230 0 230 --- 50 13.1 35 00011000\r";
  ASSERT_TRUE(ParseFor(driver, "QS", buffer));
  EXPECT_EQ(ups_.Main.Anomaly, "3");
}

TEST_F(MegatecDriverTest, TakesTheFirmwareVersionFromTheFieldsOrTheColumnsOfAnInformationAnswer) {
  struct Case {
    const char* line;
    const char* version;  // nullptr: rejected
  };
  const Case cases[] = {
      {"#MakerCo        Model-X    V1.2      ", "V1.2"},
      {"#-------------   ------     VT12046Q  ", "VT12046Q"},
      // Blanks inside a name or the version: only the columns tell the fields apart.
      {"#ACME UPS CO     Line 650   V1.00     ", "V1.00"},
      {"#ACME UPS CO     Line 650   V1.00", "V1.00"},
      {"#MakerCo         Model-X    V 1.2     ", "V 1.2"},
      {"#                Model-X    V1.2      ", "V1.2"},  // no company: columns count from "#"
      {"#Maker Co     Model-X  V1.2", nullptr},            // too short for the columns
      {"#ACME UPS CO     Line 650", nullptr},
      {"#ACME UPS CO     Line 650             ", nullptr},  // blank version column
      {"#", nullptr},
  };
  for (const Case& c : cases) {
    MegatecDriver driver(1);
    ups_.Info.FirmwareVersion = "&";
    std::string buffer = std::string(c.line) + "\r(";
    EXPECT_EQ(ParseFor(driver, "I", buffer), c.version != nullptr) << c.line;
    EXPECT_EQ(buffer, "(") << c.line;
    EXPECT_EQ(ups_.Info.FirmwareVersion, c.version != nullptr ? c.version : "&") << c.line;
  }
}

TEST_F(MegatecDriverTest, ReportsNoBatteryVoltageForAnOnLineModelWithoutANominalVoltage) {
  struct Case {
    int protocol;
    const char* rating;  // the answer to "F" before the status, if any
    const char* bits;
    const char* voltage;
  };
  const Case cases[] = {
      {1, nullptr, "00000000", "&"},  // volts per cell, no nominal voltage to scale them by
      {3, nullptr, "00000001", "&"},
      {3, nullptr, "00001001", "23"},  // a standby model reports the whole battery
      {1, nullptr, "10001000", "23"},
      {7, "#220.0 003 024.0 50.0\r", "00000001", "272"},
      {8, "#220.0 003 012.0 50.0\r", "00000001", "136"},
      {7, "#220.0 003 --.- 50.0\r", "00000001", "&"},  // a rating without the voltage
  };
  for (const Case& c : cases) {
    MegatecDriver driver(c.protocol);
    ups_ = TUpsData{};
    ups_.Battery.Voltage = "999";
    if (c.rating != nullptr) {
      std::string rating = c.rating;
      ASSERT_TRUE(ParseFor(driver, "F", rating)) << c.rating;
    }
    ASSERT_TRUE(ParseStatus(driver, std::string("(230 0 230 10 50 2.27 50 ") + c.bits + "\r"))
        << c.protocol << " " << c.bits;
    EXPECT_EQ(ups_.Battery.Voltage, c.voltage) << c.protocol << " " << c.bits;
  }
}

TEST_F(MegatecDriverTest, TakesTheNominalBatteryVoltageFromARatingAnswer) {
  MegatecDriver driver(7);
  std::string buffer = "#220.0 003 024.04 50.0\r";
  ASSERT_TRUE(ParseFor(driver, "F", buffer));
  EXPECT_FLOAT_EQ(ups_.Battery.NominalVoltage, 24.0f);
  buffer = "#220.0 003 --.- 50.0\r";
  ASSERT_TRUE(ParseFor(driver, "F", buffer));
  EXPECT_FLOAT_EQ(ups_.Battery.NominalVoltage, 0.0f);
  ups_.Battery.NominalVoltage = 12.0f;
  buffer = "#220.0 003 024.0\r";
  EXPECT_FALSE(ParseFor(driver, "F", buffer));
  EXPECT_FLOAT_EQ(ups_.Battery.NominalVoltage, 12.0f);
}

TEST_F(MegatecDriverTest, QueuesTheQueriesOfEveryCommandForEveryVariant) {
  struct Case {
    int protocol;
    const char* code;
    TStringList queue;
  };
  const Case cases[] = {
      {1, "100", {"I", "Q1"}}, {3, "100", {"Q1"}},      {7, "100", {"F", "Q1"}}, {8, "100", {"F", "QS"}},
      {1, "1", {"Q1"}},        {8, "101", {"QS"}},      {3, "102", {"Q1"}},      {7, "103", {"Q1"}},
      {8, "106", {"QS"}},      {1, "2", {"S%sR%s"}},    {8, "2", {"S%sR%s"}},    {1, "110", {}},
      {3, "110", {"Q1"}},      {8, "110", {"QS"}},      {1, "303", {}},          {7, "303", {"Q", "Q1"}},
      {8, "303", {"Q", "QS"}}, {1, "400", {"T", "Q1"}}, {8, "400", {"T", "QS"}}, {3, "104", {}},
      {8, "999", {}},
  };
  for (const Case& c : cases) {
    MegatecDriver driver(c.protocol);
    ups_.Main.UpsStatus = "0";
    ups_.Battery.Voltage = "130";
    EXPECT_EQ(Build(driver, {c.code}), !c.queue.empty()) << c.protocol << " " << c.code;
    EXPECT_EQ(command_.Exchange.Queue, c.queue) << c.protocol << " " << c.code;
  }
}

TEST_F(MegatecDriverTest, RefusesABatteryTestTheUpsCannotRun) {
  MegatecDriver qs(8);
  ups_.Main.UpsStatus = "0";
  for (const char* volts : {"129", "129.9", "&"}) {
    ups_.Battery.Voltage = volts;
    ups_.Test.BatteryTestResult = "x";
    EXPECT_FALSE(Build(qs, {"400"})) << volts;
    EXPECT_TRUE(command_.Exchange.Queue.empty());
    EXPECT_EQ(ups_.Test.BatteryTestResult, "@") << volts;
  }
  ups_.Battery.Voltage = "130";
  EXPECT_TRUE(Build(qs, {"400"}));
  EXPECT_EQ(ups_.Test.BatteryTestResult, "0");

  MegatecDriver q1(3);
  ups_.Battery.Voltage = "100";  // only the QS models care
  EXPECT_TRUE(Build(q1, {"400"}));
  ups_.Main.UpsStatus = "1";  // never on battery
  EXPECT_FALSE(Build(q1, {"400"}));
  EXPECT_EQ(ups_.Test.BatteryTestResult, "@");
}

TEST_F(MegatecDriverTest, BuildsFramesAndReplyExpectations) {
  MegatecDriver driver(3);
  server_.ModelTime1 = 3000;
  uint8_t expect = 9;
  int32_t delay = -1;
  for (const char* head : {"I", "F", "Q1"}) {
    Next(driver, head, expect, delay);
    EXPECT_EQ(expect, 1) << head;
    EXPECT_EQ(delay, 0) << head;
    EXPECT_EQ(command_.Exchange.Frame, std::string(head) + "\r");
  }
  EXPECT_EQ(reply_timeout_, 3000);
  Next(driver, "T", expect, delay);
  EXPECT_EQ(expect, 0);
  EXPECT_EQ(delay, 12000);
  EXPECT_EQ(command_.Exchange.Frame, "T\r");
  Next(driver, "Q", expect, delay);
  EXPECT_EQ(expect, 0);
  EXPECT_EQ(delay, 0);
  EXPECT_EQ(command_.Exchange.Frame, "Q\r");
}

TEST_F(MegatecDriverTest, FormatsTheShutdownDelaysInMinutes) {
  MegatecDriver driver(3);
  uint8_t expect = 1;
  int32_t delay = -1;
  command_.Args = {"2", "120", "600"};
  Next(driver, "S%sR%s", expect, delay);
  EXPECT_EQ(command_.Exchange.Frame, "S02R0010\r");
  EXPECT_EQ(expect, 0);
  EXPECT_EQ(delay, 0);

  EXPECT_EQ(MegatecShutdownQuery({"2", "abc", "30"}), "S01R0001");
  EXPECT_EQ(MegatecShutdownQuery({"2"}), "S01R0001");
  EXPECT_EQ(MegatecShutdownQuery({"2", "-600", "99999999999999999999"}), "S01R0001");
  EXPECT_EQ(MegatecShutdownQuery({"2", "7200", "600000"}), "S120R10000");
  EXPECT_EQ(MegatecShutdownQuery({"2", "119", "179"}), "S01R0002");
}

TEST_F(MegatecDriverTest, WrapsQueriesInUsbReportsForProtocolSeven) {
  setup_.ServerSetup.UpsManType = 1;
  MegatecDriver driver(7);
  uint8_t expect = 0;
  int32_t delay = 0;
  Next(driver, "Q1", expect, delay);
  EXPECT_EQ(command_.Exchange.Frame, std::string("\x05\x00\x03Q1\r", 6));
  Next(driver, "Q", expect, delay);
  EXPECT_EQ(command_.Exchange.Frame, std::string("\x05\x02\x02Q\r", 5));

  MegatecDriver q1(3);  // only protocol 7 wraps
  Next(q1, "Q1", expect, delay);
  EXPECT_EQ(command_.Exchange.Frame, "Q1\r");
  setup_.ServerSetup.UpsManType = 0;
  Next(driver, "Q1", expect, delay);
  EXPECT_EQ(command_.Exchange.Frame, "Q1\r");
}

TEST_F(MegatecDriverTest, InitResetsWhatTheProtocolNeverReports) {
  setup_.UpsSetup.UpsModelName = "Model X";
  TUpsData& u = ups_;
  u.Info.SerialNumber = "SN";
  u.Info.FirmwareVersion = "V1";
  u.Output.PhaseR.Frequency = "1";
  u.Output.PhaseR.PeakCurrent = "5";
  u.Output.LoadWaitingThreshold = "9";
  u.Input.PhaseR.Frequency = "50";
  u.Input.FrequencyAutoselect = "1";
  u.Samples.Samples2.Wave2[31] = "7";
  u.Battery.MaxTimeAfterReserve = "4";
  u.History.Overheatings = "2";
  u.History.ChargerOperatingTime = "8";
  u.Hardware.Bus.Negative = "-400";
  u.Events.Items.resize(3);
  u.Clock.DayOfWeek = "3";
  u.Calendar.StepCount = 4;
  u.Calendar.Steps.resize(4);
  u.Main.LoadR = 20.0f;
  u.Input.PhaseR.Voltage = "230";

  MegatecDriver driver(3);
  DriverContext context = Context();
  EXPECT_EQ(driver.Init(context), "\r");
  EXPECT_EQ(u.Info.ModelName, "Model X");
  for (const std::string* text :
       {&u.Info.FirmwareVersion, &u.Info.InstalledModules, &u.Info.ModuleCount, &u.Output.PhaseR.Frequency,
        &u.Output.PhaseR.PeakCurrent, &u.Output.LoadWaitingThreshold, &u.Input.PhaseR.Frequency,
        &u.Battery.MaxTimeAfterReserve, &u.History.Overheatings, &u.Hardware.Bus.Negative,
        &u.Hardware.Converters.Output.Current, &u.Events.Count, &u.Clock.DayOfWeek, &u.Clock.Year}) {
    EXPECT_EQ(*text, "&");
  }
  EXPECT_EQ(u.Info.SerialNumber, "&");
  EXPECT_EQ(u.Input.FrequencyAutoselect, "&");
  EXPECT_EQ(u.Input.StabiliserLevel, "&");
  EXPECT_EQ(u.Output.BypassDipSpeed, "&");
  EXPECT_EQ(u.Battery.Autorestart, "&");
  EXPECT_EQ(u.Events.ResetResult, "&");
  EXPECT_EQ(u.Calendar.Enabled, "&");
  int samples = 0;
  for (const TUpsSamplesData* s : {&u.Samples.Samples1, &u.Samples.Samples2}) {
    for (const auto* wave : {&s->Wave1, &s->Wave2}) {
      for (const std::string& text : *wave) samples += text == "&" ? 1 : 0;
    }
  }
  EXPECT_EQ(samples, 128);
  EXPECT_TRUE(u.Events.Items.empty());
  EXPECT_TRUE(u.Calendar.Steps.empty());
  EXPECT_EQ(u.Calendar.StepCount, 0);
  // Measured or reported elsewhere: left alone.
  EXPECT_EQ(u.History.ChargerOperatingTime, "8");
  EXPECT_FLOAT_EQ(u.Main.LoadR, 20.0f);
  EXPECT_EQ(u.Input.PhaseR.Voltage, "230");
  EXPECT_EQ(driver.PollCmd(), "Q1");
}

TEST_F(MegatecDriverTest, InitResetsTheFieldsOfEachVariant) {
  MegatecDriver p1(1);
  ups_.Info.FirmwareVersion = "V1";
  ups_.Output.PhaseR.Frequency = "0";
  DriverContext context = Context();
  p1.Init(context);
  EXPECT_EQ(ups_.Main.Temperature, "&");
  EXPECT_EQ(ups_.Hardware.BuzzerEnabled, "1");
  EXPECT_EQ(ups_.Info.FirmwareVersion, "V1");
  EXPECT_EQ(ups_.Output.PhaseR.Frequency, "0");

  MegatecDriver p8(8);
  ups_.Main.LoadR = 20.0f;
  ups_.Main.Temperature = "30";
  p8.Init(context);
  EXPECT_EQ(p8.PollCmd(), "QS");
  EXPECT_FLOAT_EQ(ups_.Main.LoadR, -1.0f);
  EXPECT_EQ(ups_.Main.Temperature, "&");
  EXPECT_EQ(ups_.Info.FirmwareVersion, "&");
}

TEST(CreateProtocolDriverTest, GivesTheQueryDriverItsProtocolNumbers) {
  for (int32_t number : {1, 3, 7, 8}) {
    std::unique_ptr<ProtocolDriver> driver = CreateProtocolDriver(number);
    auto* megatec = dynamic_cast<MegatecDriver*>(driver.get());
    ASSERT_NE(megatec, nullptr) << number;
    EXPECT_EQ(megatec->ProtocolNumber(), number);
  }
  for (int32_t number : {-1, 9}) EXPECT_EQ(CreateProtocolDriver(number), nullptr) << number;
}

}  // namespace
}  // namespace keep::server
