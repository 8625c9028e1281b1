#include "server/services/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

#include "common/scrambling.h"
#include "server/records/error_codes.h"
#include "tests/support/fake_registry.h"
#include "tests/support/temp_dir.h"

namespace keep::server {
namespace {

namespace fs = std::filesystem;

// Value names are spelled out here rather than taken from registry_keys.h, so a misspelt constant
// cannot hide behind the same misspelling in the test.
constexpr const char* kGlobals = "Software\\Corvane\\Voltrena\\Globals";
constexpr const char* kServer = "Software\\Corvane\\Voltrena\\Powerkeep";

// A registry with a valid install folder and language file, and an empty server key.
class LoadSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "languages");
    test::WriteFileText((root_ / "languages" / "english.lng").string(), "[ERRORS]\n");
    ResetRegistry();
  }
  void ResetRegistry() {
    registry_ = test::FakeRegistry();
    registry_.SetString(kGlobals, "InstallPath", root_.string() + "/");
    registry_.SetString(kGlobals, "LanguageFile", "english.lng");
  }
  bool ServerKeyWasRead() const {
    for (const auto& access : registry_.reads()) {
      if (access.key == kServer) return true;
    }
    return false;
  }

  TSetupData Load() {
    TSetupData setup;
    EXPECT_EQ(LoadSettings(registry_, setup), kErrorOk);
    return setup;
  }

  test::TempDir dir_;
  const fs::path root_ = dir_.path();
  test::FakeRegistry registry_;
};

TEST_F(LoadSettingsTest, EmptyServerKeyGivesEveryDefault) {
  const TSetupData s = Load();
  EXPECT_EQ(s.InstallPath, root_.string() + "/");
  EXPECT_EQ(s.LanguageFile, root_.string() + "/languages/english.lng");
  const TUpsSetup& u = s.UpsSetup;
  EXPECT_EQ(u.UpsModelName, "");
  EXPECT_FALSE(u.UpsOffEnabled);
  EXPECT_EQ(u.UpsOffDelay, 180);
  EXPECT_FALSE(u.UpsOnEnabled);
  EXPECT_EQ(u.UpsOnDelay, 60);
  EXPECT_TRUE(u.Events.empty());
  EXPECT_FALSE(u.UpsSmartAutonomy);
  EXPECT_EQ(u.UpsAutonomyTime, 300);
  EXPECT_FLOAT_EQ(u.UpsLoadPercent, -1.0f);
  EXPECT_FLOAT_EQ(u.UpsBatteryCapacity, 100.0f);
  EXPECT_EQ(u.UpsRechargeTime, -1);
  const TServerSetup& v = s.ServerSetup;
  EXPECT_EQ(v.UpsManType, 0);
  EXPECT_EQ(v.SrvListenPort, 5769);
  EXPECT_EQ(v.SrvPollingUps, 5);
  EXPECT_TRUE(v.SrvDownEnabled);
  EXPECT_FALSE(v.SrvDownFromMonitor);
  EXPECT_EQ(v.SrvDownTime, 180);
  EXPECT_EQ(v.UpsFixedTime, 300);
  EXPECT_EQ(v.SrvDownWarningTime, 300);
  EXPECT_EQ(v.SrvBroadcast, 60);
  EXPECT_EQ(v.SrvMainPassword, "");
  EXPECT_FALSE(v.RsAliveEnabled);
  EXPECT_EQ(v.RsAlivePort, 65000);
  EXPECT_EQ(v.RsTimeoutConnection, 5);
  EXPECT_EQ(v.NutListenPort, 0) << "the plain-text protocol's listener is off unless named";
  EXPECT_EQ(v.NutListenAddress, "127.0.0.1");
  EXPECT_EQ(v.NutUpsName, "ups");
  EXPECT_EQ(v.NutMonitorUser, "");
  const TRecordingSetup& r = s.RecordingSetup;
  EXPECT_TRUE(r.LogEnabled);
  EXPECT_EQ(r.LogMaxSize, 2147483647);
  EXPECT_TRUE(r.DataEnabled);
  EXPECT_EQ(r.DataMaxSize, 2147483647);
  EXPECT_EQ(r.DataRate, 300);
  EXPECT_EQ(r.DataSeparator, ',');
  for (const TPhaseColumnFlags& phase : r.PhaseColumns) {
    EXPECT_TRUE(phase.InputVoltage && phase.OutputVoltage && phase.OutputPower);
  }
  EXPECT_TRUE(r.BatteryVoltageColumn && r.BatteryChargeColumn && r.AutonomyTimeColumn);
  EXPECT_EQ(s.EmailSetup.EmailPort, 25);
  EXPECT_FALSE(s.EmailSetup.EmailUseAuth);
  EXPECT_TRUE(registry_.writes().empty()) << "loading must never create values";
}

TEST_F(LoadSettingsTest, StaleProtocolAndEventsAreReplaced) {
  TSetupData setup;
  setup.UpsSetup.ProtocolSetup = {7, "2400,8,N,1"};
  setup.UpsSetup.Events = {{"6", "$LOG"}};
  registry_.SetDword(kServer, "EventCounter", 1);
  registry_.SetString(kServer, "Event0", "9|$POPUP");
  ASSERT_EQ(LoadSettings(registry_, setup), kErrorOk);
  EXPECT_EQ(setup.UpsSetup.ProtocolSetup.ProtocolNumber, 0);
  EXPECT_EQ(setup.UpsSetup.ProtocolSetup.ProtocolParams, "");
  EXPECT_EQ(setup.UpsSetup.Events, (std::vector<TStringList>{{"9", "$POPUP"}}));
}

TEST_F(LoadSettingsTest, MissingInstallPathOrLanguageFileStopsBeforeTheServerKey) {
  const std::vector<std::function<void()>> breakages = {
      [&] { registry_.SetDword(kGlobals, "InstallPath", 1); },  // wrong type reads as missing
      [&] { registry_.SetString(kGlobals, "InstallPath", ""); },
      [&] { registry_.SetString(kGlobals, "LanguageFile", ""); },
      [&] { registry_.SetString(kGlobals, "LanguageFile", "german.lng"); },  // no such file
      [&] { registry_.SetString(kGlobals, "LanguageFile", "."); },           // a folder, not a file
  };
  for (std::size_t i = 0; i < breakages.size(); ++i) {
    ResetRegistry();
    breakages[i]();
    registry_.ClearLog();
    TSetupData setup;
    setup.ServerSetup.SrvListenPort = 1;
    EXPECT_EQ(LoadSettings(registry_, setup), kErrorInvalidSetup) << "case " << i;
    EXPECT_FALSE(ServerKeyWasRead()) << "case " << i;
    EXPECT_EQ(setup.ServerSetup.SrvListenPort, 1) << "case " << i;
    EXPECT_EQ(setup.LanguageFile, "") << "case " << i;
  }
}

TEST_F(LoadSettingsTest, InstallPathWithoutFinalSlashGetsOne) {
  registry_.SetString(kGlobals, "InstallPath", root_.string());
  const TSetupData s = Load();
  EXPECT_EQ(s.InstallPath, root_.string() + "/");
  EXPECT_EQ(s.LanguageFile, root_.string() + "/languages/english.lng");
  EXPECT_EQ(GetInstallPath(registry_), root_.string() + "/");
  registry_.SetString(kGlobals, "InstallPath", "");
  EXPECT_EQ(GetInstallPath(registry_), "");
}

TEST_F(LoadSettingsTest, EveryStoredValueReachesItsField) {
  // Names in other letter cases, as a hand-edited hive may have them.
  registry_.SetString(kServer, "upsmodelname", "Alpha 1000");
  registry_.SetDword(kServer, "UpsOffEnabled", 2);  // any non-zero number is true
  registry_.SetDword(kServer, "UpsOffDelay", 30);
  registry_.SetDword(kServer, "UpsOnEnabled", 1);
  registry_.SetDword(kServer, "UpsOnDelay", 45);
  registry_.SetDword(kServer, "UpsSmartAutonomy", 1);
  registry_.SetDword(kServer, "UpsRechargeTime", 0xFFFFFFF6u);  // two's complement
  registry_.SetDword(kServer, "UpsAutonomyTime", 1234);
  registry_.SetDword(kServer, "UPSMANTYPE", 2);
  registry_.SetString(kServer, "UpsNetCardAddress", "10.0.0.9");
  registry_.SetString(kServer, "SrvLocation", "Rack 4");
  registry_.SetString(kServer, "UpsDevice", "/dev/ttyUSB0");
  registry_.SetDword(kServer, "SrvPollingUps", 3);
  registry_.SetDword(kServer, "SrvListenPort", 6000);
  registry_.SetDword(kServer, "SrvDownEnabled", 0);
  registry_.SetDword(kServer, "SrvDownFromMonitor", 1);
  registry_.SetDword(kServer, "SrvDownTime", 90);
  registry_.SetDword(kServer, "UpsFixedTime", 120);
  registry_.SetDword(kServer, "SrvBroadcast", 30);
  registry_.SetDword(kServer, "SrvAsService", 1);
  registry_.SetDword(kServer, "RsAliveEnabled", 1);
  registry_.SetDword(kServer, "RsAlivePort", 65001);
  registry_.SetDword(kServer, "RsTimeoutConnection", 9);
  registry_.SetDword(kServer, "LogEnabled", 0);
  registry_.SetDword(kServer, "LogMaxSize", 1000);
  registry_.SetDword(kServer, "DataEnabled", 0);
  registry_.SetDword(kServer, "DataMaxSize", 2000);
  registry_.SetDword(kServer, "DataRate", 60);
  registry_.SetString(kServer, "DataSeparator", ";tail");
  registry_.SetString(kServer, "EmailSender", "ups@example.org");
  registry_.SetString(kServer, "EmailServer", "mail.example.org");
  registry_.SetDword(kServer, "EmailUseAuth", 1);
  registry_.SetString(kServer, "EmailLogin", "ups");
  registry_.SetDword(kServer, "EmailPort", 587);
  const TSetupData s = Load();
  EXPECT_EQ(s.UpsSetup.UpsModelName, "Alpha 1000");
  EXPECT_EQ(GetUpsModelName(registry_), "Alpha 1000");
  EXPECT_TRUE(s.UpsSetup.UpsOffEnabled);
  EXPECT_EQ(s.UpsSetup.UpsOffDelay, 30);
  EXPECT_TRUE(s.UpsSetup.UpsOnEnabled);
  EXPECT_EQ(s.UpsSetup.UpsOnDelay, 45);
  EXPECT_TRUE(s.UpsSetup.UpsSmartAutonomy);
  EXPECT_EQ(s.UpsSetup.UpsRechargeTime, -10);
  EXPECT_EQ(s.UpsSetup.UpsAutonomyTime, 1234);
  const TServerSetup& v = s.ServerSetup;
  EXPECT_EQ(v.UpsManType, 2);
  EXPECT_EQ(v.UpsNetCardAddress, "10.0.0.9");
  EXPECT_EQ(v.SrvLocation, "Rack 4");
  EXPECT_EQ(v.UpsDevice, "/dev/ttyUSB0");
  EXPECT_EQ(v.SrvPollingUps, 3);
  EXPECT_EQ(v.SrvListenPort, 6000);
  EXPECT_FALSE(v.SrvDownEnabled);
  EXPECT_TRUE(v.SrvDownFromMonitor);
  EXPECT_EQ(v.SrvDownTime, 90);
  EXPECT_EQ(v.UpsFixedTime, 120);
  EXPECT_EQ(v.SrvBroadcast, 30);
  EXPECT_TRUE(v.SrvAsService);
  EXPECT_TRUE(v.RsAliveEnabled);
  EXPECT_EQ(v.RsAlivePort, 65001);
  EXPECT_EQ(v.RsTimeoutConnection, 9);
  const TRecordingSetup& r = s.RecordingSetup;
  EXPECT_FALSE(r.LogEnabled);
  EXPECT_EQ(r.LogMaxSize, 1000);
  EXPECT_FALSE(r.DataEnabled);
  EXPECT_EQ(r.DataMaxSize, 2000);
  EXPECT_EQ(r.DataRate, 60);
  EXPECT_EQ(r.DataSeparator, ';');
  const TEmailSetup& e = s.EmailSetup;
  EXPECT_EQ(e.EmailSender, "ups@example.org");
  EXPECT_EQ(e.EmailServer, "mail.example.org");
  EXPECT_TRUE(e.EmailUseAuth);
  EXPECT_EQ(e.EmailLogin, "ups");
  EXPECT_EQ(e.EmailPort, 587);
}

TEST_F(LoadSettingsTest, EachColumnFlagHasItsOwnName) {
  struct Case {
    const char* name;
    std::function<bool(const TRecordingSetup&)> flag;
  };
  const std::vector<Case> cases = {
      {"DataReadVinPhaseR", [](const auto& r) { return r.PhaseColumns[kPhaseR].InputVoltage; }},
      {"DataReadVoutPhaseR", [](const auto& r) { return r.PhaseColumns[kPhaseR].OutputVoltage; }},
      {"DataReadPoutPhaseR", [](const auto& r) { return r.PhaseColumns[kPhaseR].OutputPower; }},
      {"DataReadVinPhaseS", [](const auto& r) { return r.PhaseColumns[kPhaseS].InputVoltage; }},
      {"DataReadVoutPhaseS", [](const auto& r) { return r.PhaseColumns[kPhaseS].OutputVoltage; }},
      {"DataReadPoutPhaseS", [](const auto& r) { return r.PhaseColumns[kPhaseS].OutputPower; }},
      {"DataReadVinPhaseT", [](const auto& r) { return r.PhaseColumns[kPhaseT].InputVoltage; }},
      {"DataReadVoutPhaseT", [](const auto& r) { return r.PhaseColumns[kPhaseT].OutputVoltage; }},
      {"DataReadPoutPhaseT", [](const auto& r) { return r.PhaseColumns[kPhaseT].OutputPower; }},
      {"DataReadVbatt", [](const auto& r) { return r.BatteryVoltageColumn; }},
      {"DataReadBattChg", [](const auto& r) { return r.BatteryChargeColumn; }},
      {"DataReadAutTime", [](const auto& r) { return r.AutonomyTimeColumn; }},
  };
  for (const Case& off : cases) {
    ResetRegistry();
    registry_.SetDword(kServer, off.name, 0);
    const TSetupData s = Load();
    for (const Case& c : cases) {
      EXPECT_EQ(c.flag(s.RecordingSetup), c.name != off.name) << c.name << " with " << off.name << " off";
    }
  }
}

TEST_F(LoadSettingsTest, NumbersKeepOnlyTheirLowBits) {
  registry_.SetDword(kServer, "UpsManType", 0x1FF);
  registry_.SetDword(kServer, "SrvPollingUps", 0x105);
  registry_.SetDword(kServer, "SrvListenPort", 0x11234);
  registry_.SetDword(kServer, "UpsOffDelay", 0x10000);
  registry_.SetDword(kServer, "UpsOnDelay", 0xFFFFFFFFu);
  registry_.SetDword(kServer, "SrvBroadcast", 0x2003C);
  registry_.SetDword(kServer, "RsAlivePort", 0x1FDE8);
  registry_.SetDword(kServer, "DataRate", 0x1012C);
  registry_.SetDword(kServer, "EmailPort", 0x10019);
  const TSetupData s = Load();
  EXPECT_EQ(s.ServerSetup.UpsManType, 0xFF);
  EXPECT_EQ(s.ServerSetup.SrvPollingUps, 5);
  EXPECT_EQ(s.ServerSetup.SrvListenPort, 0x1234);
  EXPECT_EQ(s.UpsSetup.UpsOffDelay, 0);
  EXPECT_EQ(s.UpsSetup.UpsOnDelay, 0xFFFF);
  EXPECT_EQ(s.ServerSetup.SrvBroadcast, 60);
  EXPECT_EQ(s.ServerSetup.RsAlivePort, 65000);
  EXPECT_EQ(s.RecordingSetup.DataRate, 300);
  EXPECT_EQ(s.EmailSetup.EmailPort, 25);
}

TEST_F(LoadSettingsTest, ShutdownWarningIsAtLeastOneMinute) {
  for (const auto& [stored, used] : {std::pair{30u, 60}, {60u, 60}, {61u, 61}, {0xFFFFFFFBu, 60}, {900u, 900}}) {
    registry_.SetDword(kServer, "SrvDownWarningTime", stored);
    EXPECT_EQ(Load().ServerSetup.SrvDownWarningTime, used) << "stored " << stored;
  }
}

TEST_F(LoadSettingsTest, ValueOfTheWrongTypeGivesTheDefault) {
  registry_.SetString(kServer, "SrvListenPort", "1234");
  registry_.SetString(kServer, "SrvDownEnabled", "0");
  registry_.SetDword(kServer, "UpsModelName", 5);
  registry_.SetDword(kServer, "UpsBatteryCapacity", 50);
  registry_.SetString(kServer, "DataSeparator", "");
  const TSetupData s = Load();
  EXPECT_EQ(s.ServerSetup.SrvListenPort, 5769);
  EXPECT_TRUE(s.ServerSetup.SrvDownEnabled);
  EXPECT_EQ(s.UpsSetup.UpsModelName, "");
  EXPECT_FLOAT_EQ(s.UpsSetup.UpsBatteryCapacity, 100.0f);
  EXPECT_EQ(s.RecordingSetup.DataSeparator, ',');  // an empty text must not give a NUL separator
}

TEST_F(LoadSettingsTest, PasswordsAreStoredScrambledAndLoadedPlain) {
  registry_.SetString(kServer, "SrvMainPassword", ScrambleText("main secret"));
  registry_.SetString(kServer, "SrvMonitorPassword", ScrambleText("look|only"));
  registry_.SetString(kServer, "EmailPassword", ScrambleText("p@ss \"word\""));
  const TSetupData s = Load();
  EXPECT_EQ(s.ServerSetup.SrvMainPassword, "main secret");
  EXPECT_EQ(s.ServerSetup.SrvMonitorPassword, "look|only");
  EXPECT_EQ(s.EmailSetup.EmailPassword, "p@ss \"word\"");
}

TEST_F(LoadSettingsTest, EventCounterDecidesHowManyEventListsAreRead) {
  registry_.SetString(kServer, "Event0", " 6 | $POPUP | $R_SHUT,host,65000 ");
  registry_.SetString(kServer, "Event2", "10|$SHUTDOWN|");
  registry_.SetString(kServer, "Event3", "never read");

  registry_.SetDword(kServer, "EventCounter", 0);
  EXPECT_TRUE(Load().UpsSetup.Events.empty());
  EXPECT_FALSE(registry_.WasRead("Event0"));

  registry_.SetDword(kServer, "EventCounter", 256);  // low 8 bits are 0
  EXPECT_TRUE(Load().UpsSetup.Events.empty());
  EXPECT_FALSE(registry_.WasRead("Event0"));

  registry_.SetDword(kServer, "EventCounter", 0x103);  // 3
  const std::vector<TStringList> events = Load().UpsSetup.Events;
  const std::vector<TStringList> expected = {{"6", "$POPUP", "$R_SHUT,host,65000"}, {}, {"10", "$SHUTDOWN"}};
  EXPECT_EQ(events, expected);
  EXPECT_FALSE(registry_.WasRead("Event3"));
}

TEST_F(LoadSettingsTest, PercentagesAreDecimalTextWithDefaults) {
  const struct {
    const char* text;
    float capacity;  // default 100, always within 0 .. 100
    float load;      // default -1
  } cases[] = {{"85.25", 85.25f, 85.25f}, {" 42.5\t", 42.5f, 42.5f}, {"+7", 7.0f, 7.0f},      {"-2", 0.0f, -2.0f},
               {"abc", 100.0f, -1.0f},    {"12abc", 100.0f, -1.0f},  {"75,5", 100.0f, -1.0f}, {"", 100.0f, -1.0f},
               {"nan", 100.0f, -1.0f},    {"1e99", 100.0f, -1.0f},   {"1e30", 100.0f, 1e30f}, {"-5", 0.0f, -5.0f},
               {"100.5", 100.0f, 100.5f}};
  for (const auto& c : cases) {
    registry_.SetString(kServer, "UpsBatteryCapacity", c.text);
    registry_.SetString(kServer, "UpsLoadPercent", c.text);
    const TSetupData s = Load();
    EXPECT_FLOAT_EQ(s.UpsSetup.UpsBatteryCapacity, c.capacity) << '"' << c.text << '"';
    EXPECT_FLOAT_EQ(s.UpsSetup.UpsLoadPercent, c.load) << '"' << c.text << '"';
  }
}

class RegistryHelpersTest : public ::testing::Test {
 protected:
  test::FakeRegistry registry_;
};

TEST_F(RegistryHelpersTest, CreateWritesTheDefaultOnlyForAValueThatDoesNotExist) {
  EXPECT_EQ(ReadRegInteger(registry_, kServer, "A", -7, false), -7);
  EXPECT_TRUE(registry_.writes().empty());
  EXPECT_EQ(ReadRegInteger(registry_, kServer, "A", -7, true), -7);
  EXPECT_EQ(registry_.StoredDword(kServer, "A"), 0xFFFFFFF9u);
  EXPECT_EQ(ReadRegInteger(registry_, kServer, "A", 3, true), -7);  // now present: read, not rewritten
  EXPECT_EQ(registry_.writes().size(), 1u);

  EXPECT_TRUE(ReadRegBool(registry_, kServer, "B", true, true));
  EXPECT_EQ(registry_.StoredDword(kServer, "B"), 1u);
  EXPECT_EQ(ReadRegString(registry_, kServer, "C", "x", true), "x");
  EXPECT_EQ(registry_.StoredString(kServer, "C"), "x");

  // A value of another type reads as the default but is not overwritten.
  registry_.SetString(kServer, "D", "keep me");
  EXPECT_EQ(ReadRegInteger(registry_, kServer, "D", 5, true), 5);
  EXPECT_EQ(registry_.StoredString(kServer, "D"), "keep me");

  registry_.FailWrites(true);
  EXPECT_EQ(ReadRegString(registry_, kServer, "E", "dflt", true), "dflt");
  EXPECT_FALSE(registry_.StoredString(kServer, "E").has_value());
}

TEST_F(RegistryHelpersTest, WritesReportFailureAndLeaveTheStoreAlone) {
  EXPECT_TRUE(WriteRegInteger(registry_, kServer, "N", -1));
  EXPECT_EQ(registry_.StoredDword(kServer, "N"), 0xFFFFFFFFu);
  EXPECT_TRUE(WriteRegString(registry_, kServer, "S", "one"));
  registry_.FailWrites(true);
  EXPECT_FALSE(WriteRegString(registry_, kServer, "S", "two"));
  EXPECT_FALSE(WriteRegInteger(registry_, kServer, "N", 4));
  EXPECT_EQ(registry_.StoredString(kServer, "S"), "one");
  EXPECT_EQ(registry_.StoredDword(kServer, "N"), 0xFFFFFFFFu);
  EXPECT_FALSE(SaveBatteryCapacity(registry_, 50.0f));
  EXPECT_FALSE(SaveAutonomyTime(registry_, 600));
}

TEST(SettingDecimalTest, FormatsWithDotAndAtMostFourDecimals) {
  EXPECT_EQ(FormatSettingDecimal(85.25f), "85.25");
  EXPECT_EQ(FormatSettingDecimal(100.0f), "100");
  EXPECT_EQ(FormatSettingDecimal(1.0f / 3.0f), "0.3333");
  EXPECT_EQ(FormatSettingDecimal(2.0f / 3.0f), "0.6667");
  EXPECT_EQ(FormatSettingDecimal(-1.0f), "-1");
  EXPECT_EQ(FormatSettingDecimal(0.0f), "0");
  EXPECT_EQ(FormatSettingDecimal(-0.00001f), "0");
  EXPECT_EQ(FormatSettingDecimal(99.99999f), "100");
  EXPECT_EQ(FormatSettingDecimal(0.1f), "0.1");
  EXPECT_EQ(FormatSettingDecimal(1e9f), "1000000000");
  EXPECT_EQ(FormatSettingDecimal(std::nanf("")), "");
}

TEST_F(RegistryHelpersTest, WriteBackStoresTheThreeAutonomyValues) {
  EXPECT_TRUE(SaveBatteryCapacity(registry_, 85.25f));
  EXPECT_TRUE(SaveLoadPercent(registry_, 1.0f / 3.0f));
  EXPECT_TRUE(SaveAutonomyTime(registry_, 1800));
  EXPECT_EQ(registry_.StoredString(kServer, "UpsBatteryCapacity"), "85.25");
  EXPECT_EQ(registry_.StoredString(kServer, "UpsLoadPercent"), "0.3333");
  EXPECT_EQ(registry_.StoredDword(kServer, "UpsAutonomyTime"), 1800u);

  // A value that is not a number would read back as the default: keep the last good one instead.
  EXPECT_FALSE(SaveBatteryCapacity(registry_, INFINITY));
  EXPECT_FALSE(SaveLoadPercent(registry_, NAN));
  EXPECT_EQ(registry_.StoredString(kServer, "UpsBatteryCapacity"), "85.25");
  EXPECT_EQ(registry_.StoredString(kServer, "UpsLoadPercent"), "0.3333");

  // A charge outside 0 .. 100 is stored as the nearest one inside.
  EXPECT_TRUE(SaveBatteryCapacity(registry_, 1e30f));
  EXPECT_EQ(registry_.StoredString(kServer, "UpsBatteryCapacity"), "100");
  EXPECT_TRUE(SaveBatteryCapacity(registry_, -5.0f));
  EXPECT_EQ(registry_.StoredString(kServer, "UpsBatteryCapacity"), "0");
}

}  // namespace
}  // namespace keep::server
