#include "server/services/model_database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/scrambling.h"
#include "server/records/error_codes.h"
#include "tests/support/fake_registry.h"
#include "tests/support/temp_folder_test.h"

namespace keep::server {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kServer = "Software\\Corvane\\Voltrena\\Powerkeep";
constexpr const char* kModel = "Keep Test 1000";

// A valid non-modular record of `name` with `fields` (by number) replaced.
std::string Record(const std::string& name, const std::map<int, std::string>& fields = {}) {
  std::vector<std::string> f(kModelRecordFields, "-");
  f[0] = name;
  f[1] = "TestFamily";
  f[2] = "TF-1000";
  f[3] = "0";
  f[4] = "1";
  f[6] = "2400,8,N,1";
  f[9] = "";
  f[10] = "600";
  f[11] = "1000";
  f[12] = "-1";
  f[23] = "0";
  f[24] = "0";
  f[26] = "3";
  f[27] = "10";
  for (const auto& [index, text] : fields) f[static_cast<size_t>(index)] = text;
  std::string line;
  for (size_t i = 0; i < f.size(); ++i) line += (i == 0 ? "" : "|") + f[i];
  return line;
}

// An installation folder with bin/ and a registry naming kModel.
class LoadModelRecordTest : public test::TempFolderTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(folder_ / "bin");
    setup_.InstallPath = folder_.string() + "/";
    registry_.SetString(kServer, "UpsModelName", kModel);
  }

  void WriteDatabase(const std::vector<std::string>& records) {
    std::string text;
    for (const std::string& record : records) text += ScrambleText(record) + "\n";
    WriteFile("bin/upsdb.ups", text);
  }
  int Load() { return LoadModelRecord(registry_, setup_, ups_, server_); }
  int LoadOne(const std::map<int, std::string>& fields) {
    WriteDatabase({Record(kModel, fields)});
    return Load();
  }

  test::FakeRegistry registry_;
  TSetupData setup_;
  TUpsData ups_;
  TServerData server_;
};

TEST_F(LoadModelRecordTest, CopiesEveryListedFieldOfAModularModel) {
  EXPECT_EQ(LoadOne({{1, "ModuFam"},
                     {2, "MF-40"},
                     {3, "4x"},
                     {4, "4"},
                     {6, "9600,8,E,2"},
                     {9, "4660,20480;1,2"},
                     {10, "36000"},
                     {11, "40000"},
                     {12, "4"},
                     {23, "1"},
                     {24, "12"},
                     {26, "2"},
                     {27, "30"}}),
            kErrorOk);
  EXPECT_EQ(setup_.UpsSetup.UpsModelName, kModel);
  EXPECT_EQ(setup_.UpsSetup.ProtocolSetup.ProtocolNumber, 4);
  EXPECT_EQ(setup_.UpsSetup.ProtocolSetup.ProtocolParams, "9600,8,E,2");
  EXPECT_THAT(setup_.UpsSetup.UsbDevices, ElementsAre(TUsbDeviceId{4660, 20480}, TUsbDeviceId{1, 2}));
  EXPECT_EQ(ups_.Info.FamilyName, "ModuFam");
  EXPECT_EQ(ups_.Info.ModelCode, "MF-40");
  EXPECT_EQ(ups_.Info.UpsType, "4");
  EXPECT_EQ(ups_.Info.ModuleCount, "4");
  EXPECT_EQ(ups_.Info.ActiveNominalPower, "36000");
  EXPECT_EQ(ups_.Info.ApparentNominalPower, "40000");
  EXPECT_FLOAT_EQ(ups_.Battery.ModelFactor, 1.2f);
  EXPECT_EQ(server_.ModelTime1, 2000);
  EXPECT_EQ(server_.ModelTime2, 30000);
}

TEST_F(LoadModelRecordTest, SetsTheInitialStatusWhateverWasThereBefore) {
  ups_.Main.UpsStatus = "2";
  ups_.Main.UpsStatusSeen = "1";
  ups_.Main.Anomaly = "3";
  ups_.Main.AnomalySeen = "5";
  ups_.Main.AutonomyFromUps = 1;
  ups_.Main.AutonomyReserveTime = "12";
  ups_.Test.AutonomyTestState = "3";
  ASSERT_EQ(LoadOne({}), kErrorOk);
  EXPECT_EQ(ups_.Main.UpsStatus, "0");
  EXPECT_EQ(ups_.Main.UpsStatusSeen, "0");
  EXPECT_EQ(ups_.Main.Anomaly, "0");
  EXPECT_EQ(ups_.Main.AnomalySeen, "0");
  EXPECT_EQ(ups_.Main.AutonomyFromUps, 0);
  EXPECT_EQ(ups_.Main.AutonomyReserveTime, "&");
  EXPECT_EQ(ups_.Test.AutonomyTestState, "0");
}

TEST_F(LoadModelRecordTest, NonModularModelLeavesTheNominalPowersToTheDriver) {
  ups_.Info.ActiveNominalPower = "&";
  ASSERT_EQ(LoadOne({{10, "600"}, {11, "1000"}, {12, "-1"}}), kErrorOk);
  EXPECT_EQ(ups_.Info.ModuleCount, "-1");
  EXPECT_EQ(ups_.Info.ActiveNominalPower, "&");
  EXPECT_EQ(ups_.Info.ApparentNominalPower, "");
}

TEST_F(LoadModelRecordTest, FirstOfTwoRecordsWithTheSameNameWins) {
  WriteDatabase(
      {Record("Keep Test 100", {{4, "5"}}), Record(" Keep Test 1000 ", {{4, "2"}}), Record(kModel, {{4, "3"}})});
  ASSERT_EQ(Load(), kErrorOk);
  EXPECT_EQ(setup_.UpsSetup.ProtocolSetup.ProtocolNumber, 2);
}

TEST_F(LoadModelRecordTest, NameMustMatchExactlyWithCase) {
  WriteDatabase({Record("keep test 1000"), Record("Keep Test 10000")});
  EXPECT_EQ(Load(), kErrorLinkOrDatabase);
}

TEST_F(LoadModelRecordTest, WrongFieldCountFails) {
  const std::string good = Record(kModel);
  for (const std::string& line : {good.substr(0, good.rfind('|')), good + "|extra",
                                  // A blank last field is not a field, as everywhere else.
                                  good.substr(0, good.rfind('|')) + "| "}) {
    WriteDatabase({line});
    EXPECT_EQ(Load(), kErrorLinkOrDatabase) << line;
  }
}

TEST_F(LoadModelRecordTest, MissingFileFails) { EXPECT_EQ(Load(), kErrorLinkOrDatabase); }

TEST_F(LoadModelRecordTest, NoModelNameConfiguredGivesItsOwnCode) {
  WriteDatabase({Record("")});
  registry_ = test::FakeRegistry();
  EXPECT_EQ(Load(), kErrorModelDatabase);
  registry_.SetString(kServer, "UpsModelName", "");
  EXPECT_EQ(Load(), kErrorModelDatabase);
}

TEST_F(LoadModelRecordTest, CalibrationStateFollowsSupportAndStoredLoad) {
  setup_.UpsSetup.UpsLoadPercent = 45.5f;
  ASSERT_EQ(LoadOne({{23, "1"}}), kErrorOk);
  EXPECT_EQ(ups_.Main.CalibrationState, "0");

  setup_.UpsSetup.UpsLoadPercent = -1.0f;
  ASSERT_EQ(LoadOne({{23, "1"}}), kErrorOk);
  EXPECT_EQ(ups_.Main.CalibrationState, "@");

  ASSERT_EQ(LoadOne({{23, "0"}}), kErrorOk);
  EXPECT_EQ(ups_.Main.CalibrationState, "&");
}

TEST_F(LoadModelRecordTest, CalibrationFieldAcceptsBooleanTextsAndRefusesOthers) {
  setup_.UpsSetup.UpsLoadPercent = 10.0f;
  for (const char* yes : {"TRUE", "true", "2", "-1"}) {
    ups_.Main.CalibrationState.clear();
    ASSERT_EQ(LoadOne({{23, yes}}), kErrorOk) << yes;
    EXPECT_EQ(ups_.Main.CalibrationState, "0") << yes;
  }
  for (const char* no : {"False", "0", "-0"}) {
    ASSERT_EQ(LoadOne({{23, no}}), kErrorOk) << no;
    EXPECT_EQ(ups_.Main.CalibrationState, "&") << no;
  }
  for (const char* bad : {"yes", "", "1.0", "truee"}) EXPECT_EQ(LoadOne({{23, bad}}), kErrorLinkOrDatabase) << bad;
}

TEST_F(LoadModelRecordTest, DeviceListIsParsedAndReplacesTheOldOne) {
  setup_.UpsSetup.UsbDevices = {{9, 9}};
  ASSERT_EQ(LoadOne({{9, "1234,5678; 4660 , 20480 ;"}}), kErrorOk);
  EXPECT_THAT(setup_.UpsSetup.UsbDevices, ElementsAre(TUsbDeviceId{1234, 5678}, TUsbDeviceId{4660, 20480}));
  ASSERT_EQ(LoadOne({{9, ""}}), kErrorOk);
  EXPECT_THAT(setup_.UpsSetup.UsbDevices, IsEmpty());
}

TEST_F(LoadModelRecordTest, DeviceThatIsNotTwoWholeNumbersFails) {
  for (const char* bad : {"1234", "1234,", "12a,5", "1,2;;3,4", "4294967296,1", "0x10,1"}) {
    EXPECT_EQ(LoadOne({{9, bad}}), kErrorLinkOrDatabase) << bad;
  }
}

TEST_F(LoadModelRecordTest, TimesAreMillisecondsClampedTo16Bits) {
  ASSERT_EQ(LoadOne({{26, "65"}, {27, "0"}}), kErrorOk);
  EXPECT_EQ(server_.ModelTime1, 65000);
  EXPECT_EQ(server_.ModelTime2, 0);
  ASSERT_EQ(LoadOne({{26, "66"}, {27, "9000000000"}}), kErrorOk);
  EXPECT_EQ(server_.ModelTime1, 65535);
  EXPECT_EQ(server_.ModelTime2, 65535);
}

TEST_F(LoadModelRecordTest, TimeThatIsNegativeOrNotWholeFails) {
  for (const char* bad : {"-1", "3.5", "", "3s", "99999999999999999999"}) {
    EXPECT_EQ(LoadOne({{26, bad}}), kErrorLinkOrDatabase) << bad;
    EXPECT_EQ(LoadOne({{27, bad}}), kErrorLinkOrDatabase) << bad;
  }
}

TEST_F(LoadModelRecordTest, ProtocolNumberMustBeWhole) {
  for (const char* bad : {"", "one", "1.0", "2147483648"}) EXPECT_EQ(LoadOne({{4, bad}}), kErrorLinkOrDatabase) << bad;
}

TEST_F(LoadModelRecordTest, ModelFactorIsDividedByTenAndRoundedToOneDecimal) {
  const std::map<std::string, float> cases = {{"12", 1.2f},
                                              {"15.5", 1.6f},
                                              {"-15.5", -1.6f},
                                              {"14.49", 1.4f},
                                              {"+8", 0.8f},
                                              {"0.4", 0.0f},
                                              {"abc", 0.0f},
                                              {"1,5", 0.0f},
                                              {"1e3", 0.0f},
                                              {"nan", 0.0f},
                                              {"", 0.0f},
                                              // Beyond the range of a float: no number rather than undefined behaviour.
                                              {std::string(60, '9'), 0.0f}};
  for (const auto& [text, expected] : cases) {
    ASSERT_EQ(LoadOne({{24, text}}), kErrorOk) << text;
    EXPECT_FLOAT_EQ(ups_.Battery.ModelFactor, expected) << text;
  }
}

TEST_F(LoadModelRecordTest, EmptyFamilyDigitLeavesTypeUnset) {
  ups_.Info.UpsType = "9";
  ASSERT_EQ(LoadOne({{3, ""}}), kErrorOk);
  EXPECT_TRUE(ups_.Info.UpsType.empty());
}

TEST_F(LoadModelRecordTest, RefusedRecordChangesNothing) {
  setup_.UpsSetup.UpsModelName = "old";
  setup_.UpsSetup.ProtocolSetup.ProtocolNumber = 7;
  setup_.UpsSetup.UsbDevices = {{1, 1}};
  ups_.Info.FamilyName = "old";
  server_.ModelTime1 = 5;
  ASSERT_EQ(LoadOne({{4, "3"}, {9, "2,2"}, {27, "-5"}}), kErrorLinkOrDatabase);
  EXPECT_EQ(setup_.UpsSetup.UpsModelName, "old");
  EXPECT_EQ(setup_.UpsSetup.ProtocolSetup.ProtocolNumber, 7);
  EXPECT_THAT(setup_.UpsSetup.UsbDevices, ElementsAre(TUsbDeviceId{1, 1}));
  EXPECT_EQ(ups_.Info.FamilyName, "old");
  EXPECT_TRUE(ups_.Main.UpsStatus.empty());
  EXPECT_EQ(server_.ModelTime1, 5);
}

TEST(ConvertModelRecordTest, ErrorNamesTheFieldAndQuotesItsText) {
  EXPECT_THAT(ConvertModelRecord(Record("M", {{26, "soon"}})).error, HasSubstr("field 26"));
  EXPECT_THAT(ConvertModelRecord(Record("M", {{26, "soon"}})).error, HasSubstr("\"soon\""));
  EXPECT_THAT(ConvertModelRecord(Record("M", {{9, "1;2,3"}})).error, HasSubstr("field 9"));
  EXPECT_THAT(ConvertModelRecord("a|b|c").error, HasSubstr("found 3"));
  // A huge field is quoted only in part.
  EXPECT_LT(ConvertModelRecord(Record("M", {{4, std::string(5000, 'x')}})).error.size(), 200u);
}

}  // namespace
}  // namespace keep::server
