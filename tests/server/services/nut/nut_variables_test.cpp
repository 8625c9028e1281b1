// The UPS record in the protocol's variable names: status words, units and scales of each family,
// and values the UPS does not report left out.
#include "server/services/nut/nut_variables.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace keep::server::nut {
namespace {

std::map<std::string, std::string> Values(const NutSource& source) {
  std::map<std::string, std::string> values;
  std::string previous;
  for (const NutVariable& variable : NutVariables(source)) {
    EXPECT_LT(previous, variable.name) << "sorted, each name once";
    previous = variable.name;
    values[variable.name] = variable.value;
  }
  return values;
}

// A single-phase unit as the serial dialects fill the record.
void FillSinglePhase(TUpsData& ups, TSetupData& setup) {
  setup.UpsSetup.ProtocolSetup.ProtocolNumber = 1;
  setup.UpsSetup.UpsBatteryCapacity = 87.46f;
  ups.Info.ModelName = "Keep LineGuard 1000";
  ups.Info.FamilyName = "LineGuard";
  ups.Info.SerialNumber = "&";
  ups.Info.FirmwareVersion = "V1.00";
  ups.Info.ActiveNominalPower = "600";
  ups.Main.UpsStatus = "0";
  ups.Main.Anomaly = "0";
  ups.Main.LoadR = 23.0f;
  ups.Main.Temperature = "&";
  ups.Main.AutonomyTime = 1260;
  ups.Battery.Voltage = "273";  // tenths
  ups.Battery.NominalVoltage = 24.0f;
  ups.Input.PhaseR.Voltage = "229";
  ups.Input.PhaseR.Frequency = "&";
  ups.Output.PhaseR.Voltage = "230";
  ups.Output.PhaseR.Frequency = "1";  // the 60 Hz code
  ups.Hardware.BuzzerEnabled = "1";
}

TEST(NutVariablesTest, MapsASinglePhaseRecordAndLeavesOutWhatItDoesNotReport) {
  TUpsData ups;
  TSetupData setup;
  FillSinglePhase(ups, setup);
  setup.UpsSetup.UpsOffEnabled = true;
  setup.UpsSetup.UpsOffDelay = 180;
  const std::map<std::string, std::string> expected = {
      {"battery.charge", "87.5"},
      {"battery.runtime", "1260"},
      {"battery.voltage", "27.3"},
      {"battery.voltage.nominal", "24"},
      {"device.mfr", "Keep"},
      {"device.model", "Keep LineGuard 1000"},
      {"device.type", "ups"},
      {"driver.name", "keepd"},
      {"driver.version", "1.2.3"},
      {"input.voltage", "229"},
      {"output.frequency", "60"},
      {"output.voltage", "230"},
      {"ups.beeper.status", "enabled"},
      {"ups.delay.shutdown", "180"},
      {"ups.firmware", "V1.00"},
      {"ups.load", "23"},
      {"ups.mfr", "Keep"},
      {"ups.model", "Keep LineGuard 1000"},
      {"ups.realpower.nominal", "600"},
      {"ups.status", "OL"},
  };
  EXPECT_EQ(expected, Values(NutSource{ups, setup, false, "1.2.3"}));
}

TEST(NutVariablesTest, MarkersAndTextsThatAreNoNumberGiveNoValue) {
  TUpsData ups;
  TSetupData setup;
  FillSinglePhase(ups, setup);
  ups.Main.UpsStatus = "&";
  ups.Main.LoadR = -2.0f;  // overrange
  ups.Main.AutonomyTime = -1;
  ups.Battery.Voltage = "@";
  ups.Input.PhaseR.Voltage = "";
  ups.Output.PhaseR.Voltage = "23O";
  ups.Output.PhaseR.Frequency = "&";
  ups.Main.Temperature = "nan";
  ups.Hardware.BuzzerEnabled = "&";
  ups.Info.ModelName = "Custom 1000";  // no family name in it: no maker to tell
  const std::map<std::string, std::string> values = Values(NutSource{ups, setup, false, "1.2.3"});
  for (const char* absent : {"ups.status", "ups.load", "battery.runtime", "battery.voltage", "input.voltage",
                             "output.voltage", "output.frequency", "ups.temperature", "ups.beeper.status",
                             "device.mfr", "ups.serial", "ups.delay.shutdown", "ups.delay.start"}) {
    EXPECT_EQ(0u, values.count(absent)) << absent << " = " << values.at(absent);
  }
}

TEST(NutVariablesTest, TheModularFamilyReportsHundredthsAndTheBusiestPhase) {
  TUpsData ups;
  TSetupData setup;
  setup.UpsSetup.ProtocolSetup.ProtocolNumber = 4;
  ups.Main.UpsStatus = "1";
  ups.Main.LoadR = 31.0f;
  ups.Main.LoadS = 64.5f;
  ups.Main.LoadT = -1.0f;
  ups.Battery.Voltage = "24050";
  ups.Input.PhaseR.Frequency = "4998";
  ups.Output.PhaseR.Frequency = "5000";
  ups.Main.Temperature = "31";
  const std::map<std::string, std::string> values = Values(NutSource{ups, setup, false, "1"});
  EXPECT_EQ("240.5", values.at("battery.voltage"));
  EXPECT_EQ("49.98", values.at("input.frequency"));
  EXPECT_EQ("50", values.at("output.frequency"));
  EXPECT_EQ("64.5", values.at("ups.load"));
  EXPECT_EQ("31", values.at("ups.temperature"));
  EXPECT_EQ("OB", values.at("ups.status"));
}

TEST(NutVariablesTest, StatusWordsFollowThePowerSourceAndTheConditions) {
  const struct {
    const char* status;
    const char* anomaly;
    const char* calibration;
    const char* test_result;
    bool shutdown;
    const char* words;
  } cases[] = {
      {"0", "0", "0", "0", false, "OL"},
      {"1", "0", "0", "0", false, "OB"},
      {"2", "0", "0", "0", false, "OB LB"},
      {"3", "0", "0", "0", false, "OL BYPASS"},
      {"4", "0", "0", "0", false, "OL BYPASS"},
      {"5", "0", "0", "0", false, "OFF"},
      {"6", "0", "0", "0", false, "OL CAL"},
      {"1", "0", "1", "0", false, "OB CAL"},
      {"0", "1", "0", "0", false, "OL OVER"},
      {"0", "5", "0", "0", false, "OL RB"},
      {"0", "0", "0", "255", false, "OL RB"},
      {"0", "3", "0", "0", false, "OL ALARM"},
      {"2", "0", "0", "0", true, "OB LB FSD"},
      {"&", "0", "0", "0", false, ""},
      {"9", "0", "0", "0", false, ""},
  };
  for (const auto& c : cases) {
    TUpsData ups;
    TSetupData setup;
    ups.Main.UpsStatus = c.status;
    ups.Main.Anomaly = c.anomaly;
    ups.Main.CalibrationState = c.calibration;
    ups.Test.BatteryTestResult = c.test_result;
    EXPECT_EQ(c.words, NutStatusWords(NutSource{ups, setup, c.shutdown, ""})) << c.status << "/" << c.anomaly;
  }
}

}  // namespace
}  // namespace keep::server::nut
