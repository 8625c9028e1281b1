#include "console/status_texts.h"

#include <gtest/gtest.h>

namespace keep::console {
namespace {

TEST(StageNameTest, NamesTheStagesByTheBitsOfTheIndex) {
  EXPECT_EQ("Unknown or None", StageName(0));
  EXPECT_EQ("Inverter", StageName(1));
  EXPECT_EQ("P.F.C.", StageName(2));
  EXPECT_EQ("Inverter & Booster", StageName(5));
  EXPECT_EQ("Booster & Overheat", StageName(12));
  EXPECT_EQ("Inverter & P.F.C. & Booster & Overheat", StageName(15));
  EXPECT_EQ("Battery charger", StageName(16));
  EXPECT_EQ("Overheat & Battery charger", StageName(17));
  EXPECT_EQ("???", StageName(18));
  EXPECT_EQ("???", StageName(-1));
}

TEST(FaultyTypeTextTest, NoneOnlyWhenNothingIsFaulty) {
  EXPECT_EQ("None", FaultyTypeText("0", "0"));
  EXPECT_EQ("Unknown or None", FaultyTypeText("1", "0"));
  EXPECT_EQ("Battery charger", FaultyTypeText("1", "16"));
  EXPECT_EQ("???", FaultyTypeText("1", "18"));
  EXPECT_EQ("???", FaultyTypeText("1", "x"));
  EXPECT_EQ("Not available", FaultyTypeText("0", "&"));
  EXPECT_EQ("Overrange", FaultyTypeText("&", "@"));
}

TEST(EventTextTest, CoversCodesOneToThirtyNine) {
  EXPECT_EQ("Odd Turn Off", EventText("1"));
  EXPECT_EQ("Earth Fault", EventText("12"));
  EXPECT_EQ("Hardware Fault:          P.F.C.", EventText("19"));
  EXPECT_EQ("Hardware Fault: Inverter P.F.C. Booster Overheat", EventText("32"));
  EXPECT_EQ("Battery not present or damaged during UPS startup", EventText("38"));
  EXPECT_EQ("Battery Calibration Failed", EventText("39"));
  EXPECT_EQ("Unknown", EventText("0"));
  EXPECT_EQ("Unknown", EventText("40"));
  EXPECT_EQ("Unknown", EventText("twelve"));
}

TEST(StatusTextTest, ModularStatesOnlyForModularAnswers) {
  EXPECT_EQ("Mains", UpsStatusText("0", false));
  EXPECT_EQ("Maintenance Bypass", UpsStatusText("4", false));
  EXPECT_EQ("Unknown", UpsStatusText("5", false));
  EXPECT_EQ("UPS is OFF", UpsStatusText("5", true));
  EXPECT_EQ("A Test is Running", UpsStatusText("6", true));
  EXPECT_EQ("Unknown", UpsStatusText("7", true));
  EXPECT_EQ("Battery fault", AnomalyText("5"));
  EXPECT_EQ("Unknown", AnomalyText("&")) << "the anomaly has no marks";
  EXPECT_EQ("Done", CalibrationText("0"));
  EXPECT_EQ("Not available", CalibrationText("&"));
  EXPECT_EQ("Unknown", CalibrationText("2"));
}

}  // namespace
}  // namespace keep::console
