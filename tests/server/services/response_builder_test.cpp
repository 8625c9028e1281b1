#include "server/services/response_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "tests/server/server_test_env.h"

namespace keep::test {
namespace {

using server::BuildResponse;
using server::LoadText;
using server::RoundedWholeText;
using server::TenthsText;

class ResponseBuilderTest : public ::testing::Test {
 protected:
  ResponseBuilderTest() : context_(env_.context()), ups_(context_.Ups) {}

  std::string Build(int code) { return BuildResponse(code, nullptr, context_); }
  std::string Build(int code, const std::string& parameter) { return BuildResponse(code, &parameter, context_); }

  ServerTestEnv env_;
  server::ServerContext& context_;
  server::TUpsData& ups_;
};

TEST(AnswerFieldForms, TenthsRoundTheBinaryValueHalvesToEven) {
  EXPECT_EQ("955", TenthsText(95.5f));
  EXPECT_EQ("1000", TenthsText(100.0f));
  EXPECT_EQ("2", TenthsText(0.25f)) << "0.25 is an exact half: to even";
  EXPECT_EQ("8", TenthsText(0.75f)) << "0.75 is an exact half: to even";
  EXPECT_EQ("12", TenthsText(1.25f));
  EXPECT_EQ("3", TenthsText(0.35f)) << "0.35f lies just below 0.35";
  EXPECT_EQ("2", TenthsText(0.15f)) << "0.15f lies just above 0.15";
  EXPECT_EQ("0", TenthsText(-0.04f)) << "no negative zero";
  EXPECT_EQ("-15", TenthsText(-1.5f));
  EXPECT_EQ("&", TenthsText(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_EQ("&", TenthsText(std::numeric_limits<float>::infinity()));
  // Either side of the switch from integer to floating-point formatting: the exact digits both ways.
  EXPECT_EQ("899999995002880", TenthsText(9e13f));
  EXPECT_EQ("2000000007536640", TenthsText(2e14f));
  EXPECT_EQ(40u, TenthsText(std::numeric_limits<float>::max()).size()) << "no overflow for the largest float";
}

TEST(AnswerFieldForms, LoadsMarkUnavailableAndOverrange) {
  EXPECT_EQ("&", LoadText(-1.0f));
  EXPECT_EQ("@", LoadText(-2.0f));
  EXPECT_EQ("-10", LoadText(-1.04f));
  EXPECT_EQ("0", LoadText(0.0f));
}

TEST(AnswerFieldForms, ApparentPowerRoundsDecimalTextHalvesToEven) {
  EXPECT_EQ("1234", RoundedWholeText("1234.5"));
  EXPECT_EQ("1236", RoundedWholeText("1235.5"));
  EXPECT_EQ("3", RoundedWholeText("2.51"));
  EXPECT_EQ("3", RoundedWholeText("2.500001"));
  EXPECT_EQ("2", RoundedWholeText("2.49999"));
  EXPECT_EQ("100", RoundedWholeText("99.9"));
  EXPECT_EQ("1000", RoundedWholeText("999.5"));
  EXPECT_EQ("0", RoundedWholeText("-0.4"));
  EXPECT_EQ("-3", RoundedWholeText("-2.6"));
  EXPECT_EQ("7", RoundedWholeText("007"));
  for (const char* kept : {"&", "@", "", "-", "1e3", "12.", ".5", "1.2.3", "1,5", "abc"}) {
    EXPECT_EQ(kept, RoundedWholeText(kept)) << kept;
  }
}

using ResponseFrames = ResponseBuilderTest;

TEST_F(ResponseFrames, CodesHaveAtLeastThreeDigitsAndNoticesNoFields) {
  EXPECT_EQ("<|001|>", Build(1));
  EXPECT_EQ("<|500|>", Build(500));
  EXPECT_EQ("<|501|>", Build(501));
  EXPECT_EQ("<|502|>", Build(502));
  EXPECT_EQ("<|999|>", Build(999));
  EXPECT_EQ("<|1234|>", Build(1234));
}

TEST_F(ResponseFrames, IdentificationHidesTheModelUntilTheUpsAnswered) {
  ups_.Info.ModelName = "LG 1000";
  ups_.Info.FamilyName = "LineGuard";
  ups_.Info.InstalledModules = "1";
  ups_.Info.ActiveNominalPower = "600";
  ups_.Info.ApparentNominalPower = "1000";
  ups_.Info.FirmwareVersion = "2.1";
  ups_.Info.SerialNumber = "SN0123456789XYZ";
  ups_.Info.ModelCode = "M7";
  ups_.Info.UpsType = "2";
  context_.Setup.ServerSetup.SrvLocation = "Rack 4";
  context_.Setup.ServerSetup.SrvMonitorPassword = "pw";

  EXPECT_EQ("<|100|&|LineGuard|1|600|1000|2.1|SN0123456789|M7|2|Rack 4|pw|>", Build(100)) << "no UPS manager";
  context_.Manager = std::make_unique<server::UpsManager>(server::UpsManagerContextOf(context_));
  EXPECT_EQ(0u, Build(100).find("<|100|&|"));
  context_.Manager->Connected = true;
  context_.Server.Info.UpsConnecting = true;
  EXPECT_EQ(0u, Build(100).find("<|100|&|"));
  context_.Server.Info.UpsConnecting = false;
  EXPECT_EQ(0u, Build(100).find("<|100|LG 1000|LineGuard|"));
}

TEST_F(ResponseFrames, StatusCarriesTenthsAndTheCalibrationField) {
  ups_.Main.UpsStatus = "0";
  ups_.Main.Anomaly = "1";
  ups_.Main.LoadR = 95.5f;
  ups_.Main.Temperature = "31";
  ups_.Main.AutonomyTime = 1200;
  ups_.Main.CalibrationState = "@";
  context_.Setup.UpsSetup.UpsBatteryCapacity = 87.25f;
  EXPECT_EQ("<|101|0|1|955|31|1200|872|@|>", Build(101));

  ups_.Main.LoadR = -1.0f;
  ups_.Test.AutonomyTestState = "3";
  EXPECT_EQ("<|101|0|1|&|31|1200|872|0|>", Build(101)) << "a finished test reads as done";

  context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 5;
  EXPECT_EQ("<|101|0|1|&|31|1200|872|0|>", Build(101)) << "the UPS does not report autonomy";
  ups_.Main.AutonomyFromUps = 1;
  EXPECT_EQ("<|101|0|1|&|31|1200|872|&|>", Build(101));
  context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  EXPECT_EQ("<|101|0|1|&|31|1200|872|0|>", Build(101));
}

TEST_F(ResponseFrames, ThreePhaseStatusMarksEachLoad) {
  ups_.Main.UpsStatus = "1";
  ups_.Main.Anomaly = "0";
  ups_.Main.LoadR = 12.0f;
  ups_.Main.LoadS = -1.0f;
  ups_.Main.LoadT = -2.0f;
  ups_.Main.Temperature = "&";
  ups_.Main.AutonomyTime = 0;
  ups_.Main.AutonomyReserveTime = "5";
  EXPECT_EQ("<|131|1|0|120|&|@|&|0|5|1000|>", Build(131));
}

TEST_F(ResponseFrames, OutputAndInputRoundTheApparentPowerOfPhaseR) {
  server::TUpsOutputPhase& out = ups_.Output.PhaseR;
  out.Voltage = "230";
  out.ActivePower = "410.5";
  out.ApparentPower = "512.5";
  out.Current = "2.2";
  out.PeakCurrent = "6.0";
  out.Frequency = "50.0";
  ups_.Output.BypassEnabled = "1";
  ups_.Output.ForcedBypass = "0";
  ups_.Output.BypassDipSpeed = "2";
  ups_.Output.OffLineMode = "0";
  ups_.Output.LoadWaitingMode = "&";
  ups_.Output.LoadWaitingThreshold = "40";
  EXPECT_EQ("<|102|230|410.5|512|2.2|6.0|50.0|1|0|2|0|&|40|>", Build(102));
  EXPECT_EQ("<|301|230|50.0|1|0|2|0|&|40|>", Build(301));

  server::TUpsInputPhase& in = ups_.Input.PhaseR;
  in.Voltage = "229";
  in.ActivePower = "1";
  in.ApparentPower = "&";
  in.Current = "2";
  in.PeakCurrent = "3";
  ups_.Input.StabiliserLevel = "2";
  ups_.Input.NeutralSenseEnabled = "1";
  ups_.Input.NeutralSenseWhileRunning = "0";
  ups_.Input.PllEnabled = "1";
  ups_.Input.PllExtendedRange = "0";
  EXPECT_EQ("<|103|229|1|&|2|3|2|1|0|1|0|>", Build(103));
  EXPECT_EQ("<|300|2|1|0|1|0|>", Build(300));
}

TEST_F(ResponseFrames, ThreePhaseDataIsOrderedByQuantity) {
  ups_.Output.PhaseR.Voltage = "R";
  ups_.Output.PhaseS.Voltage = "S";
  ups_.Output.PhaseT.Frequency = "fT";
  ups_.Output.EpsMode = "1";
  const std::string frame = Build(132);
  TStringList fields;
  SplitText('|', frame, fields, true);
  ASSERT_EQ(27u, fields.size());  // "<", code, 18 phase values, 6 flags, ">"
  EXPECT_EQ("R", fields[2]);
  EXPECT_EQ("S", fields[3]);
  EXPECT_EQ("fT", fields[19]);
  EXPECT_EQ("1", fields[25]);
}

TEST_F(ResponseFrames, EventListSendsAtMostTheEntriesItHolds) {
  ups_.Events.Items = {{"2024", "03", "05", "14", "07", "12", "x"}, {"2024", "&", "01", "&", "00", "3", ""}};
  ups_.Events.Count = "2";
  EXPECT_EQ("<|109|2|05/03/2024,14:07,12|&,&,3|>", Build(109));
  ups_.Events.Count = "1";
  EXPECT_EQ("<|109|1|05/03/2024,14:07,12|>", Build(109));
  ups_.Events.Count = "9";
  EXPECT_EQ("<|109|9|05/03/2024,14:07,12|&,&,3|>", Build(109));
  ups_.Events.Count = "x";
  EXPECT_EQ("<|109|x|>", Build(109));
  ups_.Events.Count = "-1";
  EXPECT_EQ("<|109|-1|>", Build(109));
  EXPECT_EQ(2u, ups_.Events.Items.size()) << "the event list is not a one-time table";
}

TEST_F(ResponseFrames, TablesAreDeliveredOnce) {
  ups_.AlarmTexts.Count = "2";
  ups_.AlarmTexts.Items = {{"7", "Overload"}, {"9", "Fan"}};
  EXPECT_EQ("<|136|2|7,Overload|9,Fan|>", Build(136));
  EXPECT_EQ("<|136|0|>", Build(136));

  ups_.ModuleAlarms.Count = "abc";
  ups_.ModuleAlarms.Items = {{"1", "4"}};
  EXPECT_EQ("<|137|abc|>", Build(137));
  EXPECT_EQ("<|137|0|>", Build(137));

  ups_.EventTexts.Count = "3";
  ups_.EventTexts.Items = {{"1", "Start"}};
  EXPECT_EQ("<|140|3|1,Start|>", Build(140));
  EXPECT_EQ("<|140|0|>", Build(140));

  ups_.EventLog.Selector = "2";
  ups_.EventLog.Count = "1";
  ups_.EventLog.Items = {{"01/02/2025", "10:11:12", "44"}, {"x", "y", "z"}};
  EXPECT_EQ("<|139|2|1|01/02/2025,10:11:12,44|>", Build(139));
  EXPECT_EQ("<|139|2|0|>", Build(139));
}

TEST_F(ResponseFrames, ModulesCalendarAndClockJoinTheirEntries) {
  ups_.Info.ModuleCount = "3";
  EXPECT_EQ("<|130|3|>", Build(130));
  ups_.Info.ModuleIds = {"1", "2", "5"};
  EXPECT_EQ("<|130|3|1,2,5|>", Build(130));

  ups_.Calendar.Enabled = "1";
  ups_.Calendar.StepCount = 2;
  ups_.Calendar.Steps = {{"1", "*", "*", "6", "10", "0", "1"}, {"2", "12", "31", "*", "23", "59", "4"}};
  EXPECT_EQ("<|112|1|2|1,*,*,6,10,0,1|2,12,31,*,23,59,4|>", Build(112));
  EXPECT_EQ(Build(112), "<|112|" + Build(308).substr(6));

  ups_.Clock = {"2024", "12", "31", "23", "59", "58", "2"};
  EXPECT_EQ("<|111|2024|12|31|23|59|58|2|>", Build(111));
  EXPECT_EQ("<|307|2024|12|31|23|59|58|2|>", Build(307));
}

TEST_F(ResponseFrames, ModuleBlocksStartWithIdAndState) {
  ups_.Module.Hardware.ModuleId = "4";
  ups_.Module.Hardware.ModuleState = '0';
  ups_.Module.Battery.Voltage = "270";
  ups_.Module.Main.ChargerStatus = "1";
  ups_.Module.Battery.Current = "3";
  ups_.Module.Hardware.PositiveBus = "400";
  ups_.Module.Hardware.NegativeBus = "-400";
  ups_.Module.Hardware.InverterHeatsinkTemp = "41";
  ups_.Module.Hardware.BoosterHeatsinkTemp = "39";
  ups_.Module.Hardware.FanSpeed = "80";
  EXPECT_EQ("<|155|4|0|270|1|3|400|-400|41|39|80|>", Build(155));
  EXPECT_EQ("<|150" + std::string(10, '|') + ">", Build(150)) << "an unread block has empty fields, no control bytes";
}

TEST_F(ResponseFrames, ParameterAnswersAndTestAnswers) {
  EXPECT_EQ("<|202|3|>", Build(202, "3"));
  EXPECT_EQ("<|202|2|a|b|>", Build(202, "2|a|b"));
  EXPECT_EQ("<|200|@|>", Build(200, "@"));
  EXPECT_EQ("<|203|1|>", Build(203, "1"));
  EXPECT_EQ("<|309|0|>", Build(309, "0"));
  EXPECT_EQ("<|309|>", Build(309));

  context_.Setup.UpsSetup.UpsAutonomyTime = 1234;
  ups_.Test.AutonomyTestState = "0";
  EXPECT_EQ("<|401|3|1234|>", Build(401, "3"));
  EXPECT_EQ("<|401|4|1234|>", Build(401, "4"));
  EXPECT_EQ("<|401|0|&|>", Build(401, "1"));
  EXPECT_EQ("<|401|0|&|>", Build(401));

  ups_.Test.BatteryTestState = "1";
  ups_.Test.BatteryTestResult = "87";
  EXPECT_EQ("<|400|87|>", Build(400));
  EXPECT_EQ("<|402|1|87|>", Build(402));
}

TEST_F(ResponseFrames, SamplesSendBothWavesOfTheirSet) {
  ups_.Samples.Samples1.Wave1[0] = "out";
  ups_.Samples.Samples2.Wave1[0] = "in";
  ups_.Samples.Samples2.Wave2[31] = "last";
  TStringList fields;
  SplitText('|', Build(104), fields, true);
  ASSERT_EQ(67u, fields.size());
  EXPECT_EQ("in", fields[2]);
  EXPECT_EQ("last", fields[65]);
  EXPECT_EQ(0u, Build(105).find("<|105|out|"));
}

}  // namespace
}  // namespace keep::test
