// The log and data files of a test server's installation, written at the test clock's moment.
#include "server/services/recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

TEST(DataFieldTest, ValuesAreCopiedMarkersEmptiedAndDisabledFieldsLeftAlone) {
  std::string field = "old";
  DataField(true, "230", field);
  EXPECT_EQ(field, "230");
  DataField(true, "&", field);
  EXPECT_EQ(field, "");
  field = "old";
  DataField(true, "@", field);
  EXPECT_EQ(field, "");
  field = "old";
  DataField(false, "230", field);
  EXPECT_EQ(field, "old");
  // Only a whole marker is one.
  DataField(true, "&&", field);
  EXPECT_EQ(field, "&&");
}

struct Power {
  std::string value = "stale";
  std::string unit = "stale";
};

Power PowerOf(bool enabled, const std::string& watts, float percent) {
  Power power;
  PowerField(enabled, watts, power.value, power.unit, percent);
  return power;
}

TEST(PowerFieldTest, WattsWinOverThePercentage) {
  const Power power = PowerOf(true, "1250", 42.34f);
  EXPECT_EQ(power.value, "1250");
  EXPECT_EQ(power.unit, "W");
}

TEST(PowerFieldTest, MarkedWattsFallBackToThePercentageWithOneDecimal) {
  Power power = PowerOf(true, "&", 42.34f);
  EXPECT_EQ(power.value, "42.3");
  EXPECT_EQ(power.unit, "%");
  power = PowerOf(true, "@", 7.0f);
  EXPECT_EQ(power.value, "7.0");
  EXPECT_EQ(power.unit, "%");
}

TEST(PowerFieldTest, PercentagesRoundAsTheyReadNotAsTheirBinaryValue) {
  // 42.35f is stored just below 42.35.
  EXPECT_EQ(PowerOf(true, "&", 42.35f).value, "42.4");
  EXPECT_EQ(PowerOf(true, "&", 42.25f).value, "42.3");
  EXPECT_EQ(PowerOf(true, "&", 99.96f).value, "100.0");
  EXPECT_EQ(PowerOf(true, "&", 0.04f).value, "0.0");
  EXPECT_EQ(PowerOf(true, "&", 0.0f).value, "0.0");
  EXPECT_EQ(PowerOf(true, "&", 0.05f).value, "0.1");
  EXPECT_EQ(PowerOf(true, "&", 9.95f).value, "10.0");
  EXPECT_EQ(PowerOf(true, "&", 150.0f).value, "150.0");
  EXPECT_EQ(PowerOf(true, "&", -3.25f).value, "-3.3");
  EXPECT_EQ(PowerOf(true, "&", -0.01f).value, "0.0");
}

TEST(PowerFieldTest, MarkedLoadsDisabledColumnsAndNonNumbersGiveNothing) {
  for (const float load :
       {-1.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    const Power power = PowerOf(true, "&", load);
    EXPECT_EQ(power.value, "") << load;
    EXPECT_EQ(power.unit, "") << load;
  }
  const Power power = PowerOf(false, "1250", 42.0f);
  EXPECT_EQ(power.value, "");
  EXPECT_EQ(power.unit, "");
}

// A three-phase UPS giving every value, on a test server with ";" as the data separator.
class DataSampleTest : public ::testing::Test {
 protected:
  DataSampleTest() {
    ServerContext& context = env_.context();
    context.Setup.InstallPath = env_.install();
    context.Setup.RecordingSetup.DataSeparator = ';';
    context.Setup.UpsSetup.UpsBatteryCapacity = 85.34f;
    TUpsData& ups = context.Ups;
    ups.Input.PhaseR.Voltage = "229";
    ups.Input.PhaseS.Voltage = "231";
    ups.Input.PhaseT.Voltage = "233";
    ups.Output.PhaseR.Voltage = "230";
    ups.Output.PhaseS.Voltage = "228";
    ups.Output.PhaseT.Voltage = "227";
    ups.Output.PhaseR.ActivePower = "1500";
    ups.Output.PhaseS.ActivePower = "1400";
    ups.Output.PhaseT.ActivePower = "1300";
    ups.Main.LoadR = 42.34f;
    ups.Main.LoadS = 40.0f;
    ups.Main.LoadT = 38.0f;
    ups.Battery.Voltage = "274";
    ups.Main.AutonomyTime = 1234;
  }

  TUpsData& ups() { return env_.context().Ups; }
  TRecordingSetup& recording() { return env_.context().Setup.RecordingSetup; }
  std::string File() const { return test::ReadFileText(env_.install() + kDataFileName); }
  // The row after the date and time of the last sample.
  std::string LastRow() const {
    const std::string file = File();
    const size_t end = file.rfind("\r\n");
    if (end == std::string::npos) return "";
    const size_t start = file.rfind("\r\n", end - 1);
    const std::string line = file.substr(start == std::string::npos ? 0 : start + 2, end - (start + 2));
    return line.substr(std::string("08/12/2026;14:30:05;").size());
  }
  // Field `index` (0 = first measured column) of the last row.
  std::string FieldOfLastRow(size_t index) const {
    TStringList fields;
    SplitText(';', LastRow() + ";", fields, true);
    return index < fields.size() ? fields[index] : "<missing>";
  }

  test::ServerTestEnv env_;
};

constexpr char kWattsHeader[] =
    "Date;Time;InputVoltage_R(V);InputVoltage_S(V);InputVoltage_T(V);OutputVoltage_R(V);OutputVoltage_S(V);"
    "OutputVoltage_T(V);OutputPower_R(W);OutputPower_S(W);OutputPower_T(W);BatteryVoltage(V);BatteryCharge(%);"
    "AutonomyTime(sec)\r\n";

TEST_F(DataSampleTest, ANewFileGetsTheHeaderAndEveryColumnUsesTheSeparator) {
  WriteDataSample(env_.context());
  EXPECT_EQ(File(), std::string(kWattsHeader) +
                        "08/12/2026;14:30:05;229;231;233;230;228;227;1500;1400;1300;27.4;85.3;1234\r\n");
}

TEST_F(DataSampleTest, LaterSamplesAppendRowsOnly) {
  WriteDataSample(env_.context());
  env_.clock().AdvanceMs(300'000);
  ups().Main.AutonomyTime = 1100;
  WriteDataSample(env_.context());
  EXPECT_EQ(File(), std::string(kWattsHeader) +
                        "08/12/2026;14:30:05;229;231;233;230;228;227;1500;1400;1300;27.4;85.3;1234\r\n" +
                        "08/12/2026;14:35:05;229;231;233;230;228;227;1500;1400;1300;27.4;85.3;1100\r\n");
}

TEST_F(DataSampleTest, PercentUnitsOfTheCreatingSampleStayInTheHeader) {
  ups().Output.PhaseR.ActivePower = "&";
  ups().Output.PhaseT.ActivePower = "@";
  ups().Main.LoadT = -1.0f;
  WriteDataSample(env_.context());
  ups().Output.PhaseR.ActivePower = "1500";
  WriteDataSample(env_.context());
  const std::string file = File();
  EXPECT_EQ(file.substr(0, file.find("\r\n")),
            "Date;Time;InputVoltage_R(V);InputVoltage_S(V);InputVoltage_T(V);OutputVoltage_R(V);OutputVoltage_S(V);"
            "OutputVoltage_T(V);OutputPower_R(%);OutputPower_S(W);OutputPower_T();BatteryVoltage(V);"
            "BatteryCharge(%);AutonomyTime(sec)");
  EXPECT_NE(file.find(";227;42.3;1400;;27.4;"), std::string::npos) << file;
  EXPECT_EQ(LastRow(), "229;231;233;230;228;227;1500;1400;;27.4;85.3;1234");
}

TEST_F(DataSampleTest, MissingPhasesAndMarkersGiveEmptyFields) {
  // A single-phase UPS: nothing known about S and T.
  for (TUpsInputPhase* phase : {&ups().Input.PhaseS, &ups().Input.PhaseT}) phase->Voltage = "&";
  for (TUpsOutputPhase* phase : {&ups().Output.PhaseS, &ups().Output.PhaseT}) {
    phase->Voltage = "&";
    phase->ActivePower = "&";
  }
  ups().Main.LoadS = -1.0f;
  ups().Main.LoadT = -2.0f;
  ups().Input.PhaseR.Voltage = "@";
  ups().Battery.Voltage = "&";
  WriteDataSample(env_.context());
  EXPECT_EQ(LastRow(), ";;;230;;;1500;;;;85.3;1234");
}

TEST_F(DataSampleTest, ColumnsSwitchedOffAreEmptyButKeepTheirPlace) {
  for (TPhaseColumnFlags& phase : recording().PhaseColumns) phase = {false, false, false};
  recording().PhaseColumns[kPhaseS].OutputVoltage = true;
  recording().BatteryVoltageColumn = false;
  recording().BatteryChargeColumn = false;
  recording().AutonomyTimeColumn = false;
  WriteDataSample(env_.context());
  EXPECT_EQ(LastRow(), ";;;;228;;;;;;;");
  const std::string file = File();
  // The power columns switched off have no unit in the header.
  EXPECT_NE(file.find("OutputPower_R();OutputPower_S();OutputPower_T();"), std::string::npos) << file;
}

TEST_F(DataSampleTest, BatteryVoltageIsInTenthsOrHundredthsForProtocolFour) {
  ups().Battery.Voltage = "1365";
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(9), "136.5");
  env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(9), "13.7");
  ups().Battery.Voltage = "1364";
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(9), "13.6");
  ups().Battery.Voltage = "5";
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(9), "0.1");
  env_.context().Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 3;
  ups().Battery.Voltage = "7";
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(9), "0.7");
  ups().Battery.Voltage = "-12";
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(9), "-1.2");
}

TEST_F(DataSampleTest, BatteryVoltageThatIsNoWholeNumberIsEmpty) {
  for (const char* text : {"@", "&", "", "27.4", "274V", " 274", "99999999999999999999999"}) {
    ups().Battery.Voltage = text;
    WriteDataSample(env_.context());
    EXPECT_EQ(FieldOfLastRow(9), "") << text;
  }
}

TEST_F(DataSampleTest, BatteryChargeRoundsTiesToEvenInGeneralForm) {
  const struct {
    float charge;
    const char* text;
  } cases[] = {{85.25f, "85.2"}, {85.75f, "85.8"}, {100.0f, "100"}, {99.96f, "100"},  {0.04f, "0"},
               {0.05f, "0.1"},   {12.0f, "12"},    {-0.04f, "0"},   {33.333f, "33.3"}};
  for (const auto& c : cases) {
    env_.context().Setup.UpsSetup.UpsBatteryCapacity = c.charge;
    WriteDataSample(env_.context());
    EXPECT_EQ(FieldOfLastRow(10), c.text) << c.charge;
  }
}

TEST_F(DataSampleTest, BatteryChargeUsesTheFormatsDecimalMark) {
  env_.context().Format.DecimalSeparator = ',';
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(10), "85,3");
}

TEST_F(DataSampleTest, AChargeThatIsNoNumberIsEmpty) {
  env_.context().Setup.UpsSetup.UpsBatteryCapacity = std::nanf("");
  WriteDataSample(env_.context());
  EXPECT_EQ(FieldOfLastRow(10), "");
}

TEST_F(DataSampleTest, ASizeLimitOfZeroRestartsTheFileWithItsHeaderForEveryRow) {
  recording().DataMaxSize = 0;
  WriteDataSample(env_.context());
  ups().Main.AutonomyTime = 99;
  WriteDataSample(env_.context());
  EXPECT_EQ(File(),
            std::string(kWattsHeader) + "08/12/2026;14:30:05;229;231;233;230;228;227;1500;1400;1300;27.4;85.3;99\r\n");
}

TEST_F(DataSampleTest, AFullFileStartsAgainBeforeTheRow) {
  WriteDataSample(env_.context());
  WriteDataSample(env_.context());
  // One byte short of the limit still takes a row; the file is then over it.
  recording().DataMaxSize = static_cast<int32_t>(File().size()) + 1;
  WriteDataSample(env_.context());
  const std::string full = File();
  ASSERT_EQ(std::count(full.begin(), full.end(), '\n'), 4) << full;
  ups().Main.AutonomyTime = 77;
  WriteDataSample(env_.context());
  EXPECT_EQ(File(),
            std::string(kWattsHeader) + "08/12/2026;14:30:05;229;231;233;230;228;227;1500;1400;1300;27.4;85.3;77\r\n");
}

TEST_F(DataSampleTest, TheDataSwitchIsLeftToTheCycleThatAsksForSamples) {
  recording().DataEnabled = false;
  WriteDataSample(env_.context());
  EXPECT_EQ(LastRow(), "229;231;233;230;228;227;1500;1400;1300;27.4;85.3;1234");
}

TEST_F(DataSampleTest, NothingIsWrittenWithoutAnInstallationFolder) {
  env_.context().Setup.InstallPath.clear();
  WriteDataSample(env_.context());
  EXPECT_EQ(File(), "");
}

class LogLineTest : public ::testing::Test {
 protected:
  LogLineTest() { env_.context().Setup.InstallPath = env_.install(); }
  test::ServerTestEnv env_;
};

TEST_F(LogLineTest, LinesCarryDateTimeTwoBlanksAndCrLf) {
  WriteLogLine(env_.context(), "first");
  env_.clock().AdvanceMs(61'000);
  WriteLogLine(env_.context(), "second");
  EXPECT_EQ(env_.LogText(), "08/12/2026 14:30:05  first\r\n08/12/2026 14:31:06  second\r\n");
}

TEST_F(LogLineTest, ASizeLimitOfZeroKeepsOnlyTheLastLine) {
  env_.context().Setup.RecordingSetup.LogMaxSize = 0;
  WriteLogLine(env_.context(), "first");
  WriteLogLine(env_.context(), "second");
  EXPECT_EQ(env_.LogText(), "08/12/2026 14:30:05  second\r\n");
}

TEST_F(LogLineTest, NothingIsWrittenWhenLoggingIsOff) {
  env_.context().Setup.RecordingSetup.LogEnabled = false;
  WriteLogLine(env_.context(), "first");
  EXPECT_EQ(env_.LogText(), "");
}

}  // namespace
}  // namespace keep::server
