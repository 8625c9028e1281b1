// The battery estimate on a server context with an in-memory registry.
#include "server/services/battery_estimate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "tests/server/server_test_env.h"

namespace keep::server {
namespace {

using test::kServerKey;

class BatteryEstimateTest : public ::testing::Test {
 protected:
  ServerContext& context() { return env_.context(); }
  TUpsSetup& ups_setup() { return context().Setup.UpsSetup; }
  TUpsMainData& main() { return context().Ups.Main; }
  float& charge() { return ups_setup().UpsBatteryCapacity; }
  void UseProtocol(int32_t number) { ups_setup().ProtocolSetup.ProtocolNumber = number; }

  test::ServerTestEnv env_;
};

TEST_F(BatteryEstimateTest, WithoutCalibrationAFullBatteryLastsTheFixedTimeAndDrainsLinearly) {
  UseProtocol(0);
  main().CalibrationState = "&";
  context().Setup.ServerSetup.UpsFixedTime = 300;
  charge() = 100.0f;
  UpdateAutonomy(context());
  EXPECT_EQ(300, main().AutonomyTime);

  int32_t left = 0;
  for (int second = 0; second < 60; ++second) left = DischargeStep(context());
  EXPECT_EQ(240, left);
  EXPECT_EQ(240, main().AutonomyTime);
  EXPECT_FLOAT_EQ(80.0f, charge());

  main().AutonomyTime = 1;
  EXPECT_EQ(0, DischargeStep(context()));
  EXPECT_FLOAT_EQ(0.0f, charge());
  EXPECT_EQ(0, DischargeStep(context())) << "an exhausted estimate stays at zero";
  EXPECT_EQ(0, main().AutonomyTime);
}

TEST_F(BatteryEstimateTest, AStoredCalibrationOrTheSmartSettingScalesTheCalibratedAutonomy) {
  UseProtocol(7);
  ups_setup().UpsAutonomyTime = 600;
  ups_setup().UpsLoadPercent = 40.0f;
  main().CalibrationState = "0";
  charge() = 50.0f;
  UpdateAutonomy(context());
  EXPECT_EQ(300, main().AutonomyTime);

  // The UPS cannot tell the load: the calibration is of no use, unless the user trusts it anyway.
  main().CalibrationState = "&";
  UpdateAutonomy(context());
  EXPECT_EQ(150, main().AutonomyTime) << "half of the fixed 300 s";
  ups_setup().UpsSmartAutonomy = true;
  UpdateAutonomy(context());
  EXPECT_EQ(300, main().AutonomyTime);

  main().AutonomyTime = 450;
  CapacityFromAutonomy(context());
  EXPECT_FLOAT_EQ(75.0f, charge());
}

TEST_F(BatteryEstimateTest, TheAutonomyIsRoundedHalvesToEvenAndKeptInRange) {
  UseProtocol(0);
  main().CalibrationState = "&";
  charge() = 50.0f;
  context().Setup.ServerSetup.UpsFixedTime = 5;
  UpdateAutonomy(context());
  EXPECT_EQ(2, main().AutonomyTime);
  context().Setup.ServerSetup.UpsFixedTime = 7;
  UpdateAutonomy(context());
  EXPECT_EQ(4, main().AutonomyTime);
  context().Setup.ServerSetup.UpsFixedTime = -100;
  UpdateAutonomy(context());
  EXPECT_EQ(0, main().AutonomyTime) << "never negative";
  context().Setup.ServerSetup.UpsFixedTime = 300;
  charge() = 1e30f;  // a damaged hive value
  UpdateAutonomy(context());
  EXPECT_EQ(std::numeric_limits<int32_t>::max(), main().AutonomyTime);
}

TEST_F(BatteryEstimateTest, OnMainsTheChargeRisesByTheRechargeRateUpToFull) {
  UseProtocol(1);
  main().CalibrationState = "&";
  ups_setup().UpsRechargeTime = 3600;
  charge() = 50.0f;
  RechargeStep(context());
  EXPECT_FLOAT_EQ(50.0f + 100.0f / 3600.0f, charge());
  EXPECT_EQ(150, main().AutonomyTime) << "the autonomy follows the charge";

  charge() = 99.99f;
  RechargeStep(context());
  EXPECT_FLOAT_EQ(100.0f, charge());
  RechargeStep(context());
  EXPECT_FLOAT_EQ(100.0f, charge());
  EXPECT_EQ(300, main().AutonomyTime);
}

// Regression: the unset recharge time (-1) drained the charge by 100 points a second on mains.
TEST_F(BatteryEstimateTest, AnUnsetZeroOrNegativeRechargeTimeMeansEightHours) {
  UseProtocol(0);
  for (const int32_t configured : {-1, 0, -3600}) {
    ups_setup().UpsRechargeTime = configured;
    charge() = 50.0f;
    RechargeStep(context());
    EXPECT_FLOAT_EQ(50.0f + 100.0f / 28800.0f, charge()) << configured;
  }
  EXPECT_EQ(28800, RechargeSeconds(-1));
  EXPECT_EQ(60, RechargeSeconds(60));
}

TEST_F(BatteryEstimateTest, GroupBEstimatesOnlyWhileTheUpsReportsNoAutonomy) {
  UseProtocol(5);
  ups_setup().UpsRechargeTime = 100;
  charge() = 50.0f;
  main().AutonomyTime = 10;
  EXPECT_EQ(9, DischargeStep(context()));
  RechargeStep(context());
  EXPECT_NE(50.0f, charge());

  main().AutonomyFromUps = 1;
  charge() = 50.0f;
  main().AutonomyTime = 200;
  main().AutonomyReserveTime = "30";
  EXPECT_EQ(170, DischargeStep(context()));
  RechargeStep(context());
  UpdateAutonomy(context());
  EXPECT_EQ(200, main().AutonomyTime) << "the UPS's figure is left alone";
  EXPECT_FLOAT_EQ(50.0f, charge());
}

TEST_F(BatteryEstimateTest, AReportingUpsLeavesItsAutonomyLessTheReserve) {
  UseProtocol(4);
  main().AutonomyTime = 200;
  main().AutonomyReserveTime = "&";
  EXPECT_EQ(200, DischargeStep(context())) << "no reserve reported";
  main().AutonomyReserveTime = "250";
  EXPECT_EQ(0, DischargeStep(context()));
  main().AutonomyReserveTime = "65537";
  EXPECT_EQ(199, DischargeStep(context())) << "only the low 16 bits count";
  EXPECT_EQ(200, main().AutonomyTime);

  EXPECT_EQ(0, ReserveSeconds("12x"));
  EXPECT_EQ(0, ReserveSeconds(""));
  EXPECT_EQ(65535, ReserveSeconds("-1"));
}

TEST_F(BatteryEstimateTest, AnUnknownProtocolEstimatesNothing) {
  UseProtocol(9);
  charge() = 40.0f;
  main().AutonomyTime = 50;
  EXPECT_EQ(0, DischargeStep(context()));
  RechargeStep(context());
  UpdateAutonomy(context());
  EXPECT_EQ(50, main().AutonomyTime);
  EXPECT_FLOAT_EQ(40.0f, charge());
}

class VoltageEstimateTest : public BatteryEstimateTest {
 protected:
  void SetUp() override {
    UseProtocol(8);
    context().Ups.Battery.NominalVoltage = 12.0f;
    context().Setup.ServerSetup.UpsFixedTime = 300;
  }
  void Volts(const char* tenths) { context().Ups.Battery.Voltage = tenths; }
};

TEST_F(VoltageEstimateTest, AChargedBatteryIsJudgedBetween104And130PercentOfNominal) {
  charge() = 60.0f;
  Volts("117");  // 10.4 V .. 13.0 V
  RechargeStep(context());
  EXPECT_FLOAT_EQ(50.0f, charge());
  EXPECT_EQ(150, main().AutonomyTime);
  Volts("200");
  CapacityFromVoltage(context());
  EXPECT_FLOAT_EQ(100.0f, charge());
  Volts("90");
  CapacityFromVoltage(context());
  EXPECT_FLOAT_EQ(0.0f, charge());
}

TEST_F(VoltageEstimateTest, AnEmptyBatteryIsJudgedBetweenNominalAnd115Percent) {
  charge() = 0.0f;
  Volts("129");  // 12.0 V .. 13.8 V
  main().AutonomyTime = 20;
  EXPECT_EQ(19, DischargeStep(context()));
  EXPECT_FLOAT_EQ(50.0f, charge());
  EXPECT_EQ(19, main().AutonomyTime) << "the count goes on without the charge";
}

TEST_F(VoltageEstimateTest, WithoutANominalVoltageOrAReadingTheChargeStays) {
  charge() = 42.0f;
  Volts("&");
  CapacityFromVoltage(context());
  EXPECT_FLOAT_EQ(42.0f, charge());
  Volts("12a");
  CapacityFromVoltage(context());
  EXPECT_FLOAT_EQ(42.0f, charge());
  Volts("117");
  context().Ups.Battery.NominalVoltage = 0.0f;
  CapacityFromVoltage(context());
  EXPECT_FLOAT_EQ(42.0f, charge());
  context().Ups.Battery.NominalVoltage = 0.01f;  // no range left after rounding
  CapacityFromVoltage(context());
  EXPECT_FLOAT_EQ(42.0f, charge());
}

TEST_F(BatteryEstimateTest, ACalibrationTestStoresTheMeasuredAutonomyWithItsLoad) {
  UseProtocol(0);
  charge() = 90.0f;
  main().AutonomyTime = 270;
  StartCalibrationTest(context());
  EXPECT_EQ("1", main().CalibrationState);
  EXPECT_EQ(0, main().AutonomyTime);
  EXPECT_FLOAT_EQ(0.0f, charge());

  main().AutonomyTime = 1234;  // the main cycle's count of seconds on battery
  main().LoadR = 42.5f;
  EndCalibrationTest(context());
  EXPECT_EQ(1234, ups_setup().UpsAutonomyTime);
  EXPECT_FLOAT_EQ(42.5f, ups_setup().UpsLoadPercent);
  EXPECT_EQ(0, main().AutonomyTime);
  EXPECT_FLOAT_EQ(0.0f, charge());
  EXPECT_EQ("3", context().Ups.Test.AutonomyTestState);
  EXPECT_EQ(1234u, env_.registry().StoredDword(kServerKey, "UpsAutonomyTime"));
  EXPECT_EQ("42.5", env_.registry().StoredString(kServerKey, "UpsLoadPercent"));
  EXPECT_EQ("0", env_.registry().StoredString(kServerKey, "UpsBatteryCapacity"));
}

TEST_F(BatteryEstimateTest, TheChargeIsSavedAndARefusedWriteChangesNothing) {
  charge() = 85.25f;
  SaveBatteryCapacity(context());
  EXPECT_EQ("85.25", env_.registry().StoredString(kServerKey, "UpsBatteryCapacity"));

  env_.registry().FailWrites(true);
  charge() = 10.0f;
  SaveBatteryCapacity(context());
  EXPECT_EQ("85.25", env_.registry().StoredString(kServerKey, "UpsBatteryCapacity"));
  EXPECT_FLOAT_EQ(10.0f, charge());

  // The refused value is written once the store takes writes again; an unchanged one not again.
  env_.registry().FailWrites(false);
  const size_t writes = env_.registry().writes().size();
  for (int second = 0; second < 3; ++second) SaveBatteryCapacity(context());
  EXPECT_EQ("10", env_.registry().StoredString(kServerKey, "UpsBatteryCapacity"));
  EXPECT_EQ(writes + 1, env_.registry().writes().size());
  charge() = 10.5f;
  SaveBatteryCapacity(context());
  EXPECT_EQ("10.5", env_.registry().StoredString(kServerKey, "UpsBatteryCapacity"));
}

}  // namespace
}  // namespace keep::server
