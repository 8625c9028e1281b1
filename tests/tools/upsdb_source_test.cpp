#include "tools/mkupsdb/upsdb_source.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/scrambling.h"
#include "common/text_lists.h"
#include "server/records/error_codes.h"
#include "server/services/model_database.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_registry.h"
#include "tests/support/install_tree.h"
#include "tests/support/temp_folder_test.h"

namespace keep::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A valid record of `name`: protocol 1, times 3 and 10 s, every other field "-" or empty.
std::string Record(const std::string& name, const std::string& protocol = "1") {
  std::vector<std::string> f(kModelRecordFields, "-");
  f[0] = name;
  f[4] = protocol;
  f[9] = "";
  f[23] = "0";
  f[26] = "3";
  f[27] = "10";
  return JoinText(f, '|');
}

// The lines of a database text, each unscrambled.
TStringList Unscrambled(const std::string& database) {
  TStringList lines;
  SplitText('\n', database, lines, true);
  for (std::string& line : lines) line = UnscrambleText(line);
  return lines;
}

TEST(BuildModelDatabaseTest, ScramblesEachRecordOnItsOwnLineAndSkipsCommentsAndBlankLines) {
  const std::string source = "# models\r\n\r\n" + Record("Alpha") + "\r\n   # indented comment\n  " +
                             Record("Beta", "4") + "  \n" + Record("Gamma");  // no line end at the end
  const ModelDatabase database = BuildModelDatabase(source);
  ASSERT_THAT(database.errors, IsEmpty());
  EXPECT_EQ(database.records, 3u);
  EXPECT_EQ(database.text.back(), '\n');
  EXPECT_EQ(database.text.find('\r'), std::string::npos);
  EXPECT_THAT(Unscrambled(database.text), ElementsAre(Record("Alpha"), Record("Beta", "4"), Record("Gamma")));
}

TEST(BuildModelDatabaseTest, RefusesWrongFieldCountsNamingLineAndCountFound) {
  const std::string good = Record("Alpha");
  const std::string source =
      "# header\n" + good.substr(0, good.rfind('|')) + "\n" + Record("Beta") + "|x\n" + Record("Gamma") + "\n";
  const ModelDatabase database = BuildModelDatabase(source);
  ASSERT_EQ(database.errors.size(), 2u);
  EXPECT_EQ(database.errors[0].line, 2u);
  EXPECT_THAT(database.errors[0].message, HasSubstr("39 fields"));
  EXPECT_EQ(database.errors[1].line, 3u);
  EXPECT_THAT(database.errors[1].message, HasSubstr("41 fields"));
  EXPECT_THAT(database.text, IsEmpty());
}

TEST(BuildModelDatabaseTest, BlankLastFieldCountsAsMissingAsTheServerReadsIt) {
  std::vector<std::string> f(kModelRecordFields, "1");
  f[39] = " ";
  const ModelDatabase database = BuildModelDatabase(JoinText(f, '|'));
  ASSERT_EQ(database.errors.size(), 1u);
  EXPECT_THAT(database.errors[0].message, HasSubstr("39 fields"));
}

TEST(BuildModelDatabaseTest, RefusesEmptyModelName) {
  const ModelDatabase database = BuildModelDatabase(Record("Alpha") + "\n" + Record("  "));
  ASSERT_EQ(database.errors.size(), 1u);
  EXPECT_EQ(database.errors[0].line, 2u);
  EXPECT_THAT(database.errors[0].message, HasSubstr("empty model name"));
}

TEST(BuildModelDatabaseTest, RefusesDuplicateNameBecauseTheFirstWouldHideIt) {
  const ModelDatabase database =
      BuildModelDatabase(Record("Alpha") + "\n" + Record("Beta") + "\n" + Record(" Alpha", "3") + "\n");
  ASSERT_EQ(database.errors.size(), 1u);
  EXPECT_EQ(database.errors[0].line, 3u);
  EXPECT_THAT(database.errors[0].message, HasSubstr("already defined on line 1"));
  EXPECT_THAT(database.text, IsEmpty());
}

TEST(BuildModelDatabaseTest, RefusesARecordTheServerWouldRefuse) {
  std::string bad = Record("Alpha");
  bad.replace(bad.find("|3|10|"), 6, "|3|-10|");  // a negative second time
  const ModelDatabase database = BuildModelDatabase(bad);
  ASSERT_EQ(database.errors.size(), 1u);
  EXPECT_THAT(database.errors[0].message, HasSubstr("field 27"));
}

TEST(BuildModelDatabaseTest, SourceWithoutRecordsIsRefused) {
  EXPECT_EQ(BuildModelDatabase("").errors.size(), 1u);
  EXPECT_EQ(BuildModelDatabase("# only a comment\n\n").errors.size(), 1u);
}

// The source the installation ships: it must build, and offer a model for every protocol.
TEST(DistributedModelSourceTest, BuildsAndCoversEveryProtocolNumber) {
  const std::string source = test::ReadFileText(test::SourceFolder() + "/dist/bin/upsdb.txt");
  const ModelDatabase database = BuildModelDatabase(source);
  ASSERT_THAT(database.errors, IsEmpty()) << database.errors[0].line << ": " << database.errors[0].message;
  std::set<int32_t> protocols;
  bool modular_with_modules = false;
  for (const std::string& line : Unscrambled(database.text)) {
    const ModelRecordResult converted = ConvertModelRecord(line);
    ASSERT_TRUE(converted.record.has_value()) << converted.error;
    protocols.insert(converted.record->ProtocolNumber);
    const int32_t protocol = converted.record->ProtocolNumber;
    if (protocol == 4) {
      modular_with_modules = std::stoi(converted.record->ModuleCount) > 0;
    } else if (protocol == 0 || protocol == 2 || protocol == 5 || protocol == 6) {
      // Their load is reckoned from the nominal active power, which a count of -1 leaves unread.
      EXPECT_EQ(converted.record->ModuleCount, "1") << line;
      EXPECT_NE(converted.record->ActiveNominalPower, "") << line;
    } else {
      EXPECT_EQ(converted.record->ModuleCount, "-1") << line;
    }
  }
  EXPECT_EQ(protocols, (std::set<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(modular_with_modules);
}

// Every USB unit the database lists must be reachable by the service: the udev rule names its pair.
TEST(DistributedModelSourceTest, TheUdevRuleCoversEveryUsbPair) {
  const ModelDatabase database = BuildModelDatabase(test::ReadFileText(test::SourceFolder() + "/dist/bin/upsdb.txt"));
  const std::string rules = test::ReadFileText(test::SourceFolder() + "/dist/udev/60-keepd-ups.rules");
  size_t pairs = 0;
  for (const std::string& line : Unscrambled(database.text)) {
    const ModelRecordResult converted = ConvertModelRecord(line);
    ASSERT_TRUE(converted.record.has_value()) << converted.error;
    for (const TUsbDeviceId& device : converted.record->UsbDevices) {
      char match[96];
      std::snprintf(match, sizeof match, "ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\"", device.VendorId,
                    device.ProductId);
      EXPECT_NE(rules.find(match), std::string::npos) << match;
      ++pairs;
    }
  }
  EXPECT_GE(pairs, 4u) << "the report-mode and feature-mode models have USB pairs";
}

// The database the build made, as an installation of the tests holds it.
TEST(InstalledModelDatabaseTest, ServerLoadsTheMegatecModelFromIt) {
  const test::InstallTree tree;
  test::FakeRegistry registry;
  registry.SetString("Software\\Corvane\\Voltrena\\Powerkeep", "UpsModelName", "Keep LineGuard 1000");
  server::TSetupData setup;
  setup.InstallPath = tree.InstallPath();
  server::TUpsData ups;
  server::TServerData data;
  ASSERT_EQ(server::LoadModelRecord(registry, setup, ups, data), server::kErrorOk);
  EXPECT_EQ(setup.UpsSetup.ProtocolSetup.ProtocolNumber, 1);
  EXPECT_EQ(setup.UpsSetup.ProtocolSetup.ProtocolParams, "2400,8,N,1");
  EXPECT_GT(data.ModelTime1, 0);
}

class MkupsdbProgramTest : public test::TempFolderTest {
 protected:
  int Run(const std::string& source, const std::string& output) {
    test::ChildProcess child(test::BuiltProgram("mkupsdb"), {PathOf(source), PathOf(output)}, {}, folder_.string());
    const std::optional<int> status = child.WaitForExit(std::chrono::seconds(30));
    stderr_ = child.StandardError();
    return status.value_or(-1);
  }
  std::string stderr_;
};

TEST_F(MkupsdbProgramTest, WritesTheDatabase) {
  WriteFile("models.txt", "# two models\n" + Record("Alpha") + "\n" + Record("Beta") + "\n");
  ASSERT_EQ(Run("models.txt", "upsdb.ups"), 0) << stderr_;
  EXPECT_EQ(ReadFile("upsdb.ups"), BuildModelDatabase(ReadFile("models.txt")).text);
}

TEST_F(MkupsdbProgramTest, RefusedSourceFailsNamingFileAndLineAndKeepsTheOldOutput) {
  WriteFile("upsdb.ups", "previous");
  WriteFile("models.txt", Record("Alpha") + "\nAlpha|only|three\n");
  EXPECT_EQ(Run("models.txt", "upsdb.ups"), 1);
  EXPECT_THAT(stderr_, HasSubstr("models.txt:2: 3 fields"));
  EXPECT_EQ(ReadFile("upsdb.ups"), "previous");
}

TEST_F(MkupsdbProgramTest, MissingSourceFails) {
  EXPECT_EQ(Run("missing.txt", "upsdb.ups"), 1);
  EXPECT_THAT(stderr_, HasSubstr("cannot read"));
  EXPECT_FALSE(std::filesystem::exists(PathOf("upsdb.ups")));
}

}  // namespace
}  // namespace keep::tools
