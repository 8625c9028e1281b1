#include "platform/hive_registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hive_format.h"
#include "tests/support/temp_folder_test.h"

namespace keep::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = "Software\\Corvane\\Voltrena\\Powerkeep";

std::string ReadPath(const fs::path& path) { return test::ReadFileText(path.string()); }

void WritePath(const fs::path& path, std::string_view text) { test::WriteFileText(path.string(), std::string(text)); }

class HiveRegistryTest : public test::TempFolderTest {
 protected:
  void SetUp() override { registry_ = OpenHiveFile(hive_.string()); }

  fs::path hive_ = folder_ / "registry.reg";
  std::unique_ptr<Registry> registry_;
};

TEST_F(HiveRegistryTest, MissingFileReadsAsEmptyAndTheFirstWriteCreatesIt) {
  EXPECT_FALSE(registry_->KeyExists(kKey));
  EXPECT_EQ(registry_->ReadString(kKey, "UpsDevice"), std::nullopt);
  EXPECT_FALSE(fs::exists(hive_));  // reading never creates anything

  ASSERT_TRUE(registry_->WriteString(kKey, "UpsDevice", "/dev/ttyS0"));
  ASSERT_TRUE(registry_->WriteDword(kKey, "SrvListenPort", 5769));
  ASSERT_TRUE(registry_->CreateKey("Software\\Corvane\\Empty"));
  EXPECT_EQ(ReadPath(hive_),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\n"
            "\"UpsDevice\"=\"/dev/ttyS0\"\n"
            "\"SrvListenPort\"=dword:00001689\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Empty]\n");
  EXPECT_TRUE(registry_->KeyExists("software\\corvane\\empty"));
  EXPECT_TRUE(fs::exists(folder_ / "registry.reg.lock"));
}

TEST_F(HiveRegistryTest, ValuesRoundTripWithCaseInsensitiveKeysAndNames) {
  const std::string tricky = "C:\\Program Files\\\"quoted\"\\";
  ASSERT_TRUE(registry_->WriteString(kKey, "SrvLocation", tricky));
  ASSERT_TRUE(registry_->WriteDword(kKey, "LogMaxSize", 0xffffffffu));
  ASSERT_TRUE(registry_->WriteString(kKey, "", "default"));
  EXPECT_EQ(registry_->ReadString("SOFTWARE\\corvane\\VOLTRENA\\powerkeep\\", "srvlocation"), tricky);
  EXPECT_EQ(registry_->ReadDword(kKey, "LOGMAXSIZE"), 0xffffffffu);
  EXPECT_EQ(registry_->ReadString(kKey, ""), "default");

  ASSERT_TRUE(registry_->WriteDword("software\\corvane\\voltrena\\powerkeep", "LOGmaxSIZE", 7));
  EXPECT_EQ(registry_->ReadDword(kKey, "LogMaxSize"), 7u);
  EXPECT_NE(ReadPath(hive_).find("\"LogMaxSize\"=dword:00000007"), std::string::npos);
}

TEST_F(HiveRegistryTest, AValueOfTheWrongTypeReadsAsMissing) {
  WritePath(hive_,
            "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\n"
            "\"SrvListenPort\"=\"5769\"\n\"UpsDevice\"=dword:00000001\n\"Bin\"=hex:01,02\n");
  EXPECT_EQ(registry_->ReadDword(kKey, "SrvListenPort"), std::nullopt);
  EXPECT_EQ(registry_->ReadString(kKey, "UpsDevice"), std::nullopt);
  EXPECT_EQ(registry_->ReadString(kKey, "Bin"), std::nullopt);
  EXPECT_EQ(registry_->ReadDword(kKey, "Bin"), std::nullopt);
}

TEST_F(HiveRegistryTest, EveryReadSeesTheFileAsItIsNow) {
  WritePath(hive_, "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=dword:1\n");
  EXPECT_EQ(registry_->ReadDword("K", "V"), 1u);
  WritePath(hive_, "[HKEY_LOCAL_MACHINE\\K]\n\"V\"=dword:2\n");
  EXPECT_EQ(registry_->ReadDword("K", "V"), 2u);
  fs::remove(hive_);
  EXPECT_EQ(registry_->ReadDword("K", "V"), std::nullopt);
}

TEST_F(HiveRegistryTest, ARewriteKeepsOtherRootsRawValuesSpellingOrderAndLineBreaks) {
  WritePath(hive_,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"U\"=\"user\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\r\n"
            "\"SRVLISTENPORT\"=dword:1\r\n\"Bin\"=hex:01,\\\r\n  02\r\n\"Z\"=\"z\"\r\n");
  ASSERT_TRUE(registry_->WriteDword(kKey, "SrvListenPort", 2));
  EXPECT_EQ(ReadPath(hive_),
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"U\"=\"user\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]\r\n"
            "\"SRVLISTENPORT\"=dword:00000002\r\n\"Bin\"=hex:01,\\\r\n  02\r\n\"Z\"=\"z\"\r\n");
}

TEST_F(HiveRegistryTest, ADamagedHiveStillGivesAndKeepsItsIntactValues) {
  WritePath(hive_,
            "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n\"Cut\"=\"no end\n\x01\x02garbage\n\"B\"=\"b\"\n");
  EXPECT_EQ(registry_->ReadDword("K", "A"), 1u);
  EXPECT_EQ(registry_->ReadString("K", "B"), "b");
  ASSERT_TRUE(registry_->WriteDword("K", "C", 3));
  EXPECT_EQ(ReadPath(hive_),
            "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n\"Cut\"=\"no end\n\x01\x02garbage\n\"B\"=\"b\"\n"
            "\"C\"=dword:00000003\n");
}

std::string JoinLines(const std::vector<std::string>& lines, const std::string& line_break) {
  std::string text;
  for (const std::string& line : lines) text += line + line_break;
  return text;
}

TEST_F(HiveRegistryTest, WritesKeepHandEditedLinesInPlace) {
  // What the reader skips: comments, blank lines, deletions, a damaged line; every one must survive.
  const std::vector<std::string> by_hand = {
      "REGEDIT4",
      "; Settings of the UPS server, edited by hand",
      "",
      "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Globals]",
      "\"InstallPath\"=\"/opt/voltrena/\"",
      "   ; the language file lies in languages/",
      "\"LanguageFile\"=\"english.lng\"",
      "[-HKEY_LOCAL_MACHINE\\Software\\Corvane\\Old]",
      "",
      "; the server",
      "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Voltrena\\Powerkeep]",
      "\t\"UpsBatteryCapacity\"=\"100\"  ",
      "this line is damaged",
      "\"SrvPollingUps\"=dword:00000001",
      "\"Obsolete\"=-",
      "",
      "; end of the server key",
  };
  std::vector<std::string> expected = by_hand;
  expected[11] = "\t\"UpsBatteryCapacity\"=\"57.5\"  ";
  expected.insert(expected.begin() + 14, "\"UpsAutonomyTime\"=dword:0000012c");
  expected.insert(expected.end(), {"", "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Notes]", "\"Text\"=\"x\""});

  for (const std::string line_break : {"\n", "\r\n"}) {
    SCOPED_TRACE(line_break.size() == 1 ? "LF" : "CR LF");
    WritePath(hive_, JoinLines(by_hand, line_break));
    ASSERT_TRUE(registry_->WriteString(kKey, "upsbatterycapacity", "57.5"));
    ASSERT_TRUE(registry_->WriteDword(kKey, "UpsAutonomyTime", 300));
    ASSERT_TRUE(registry_->WriteString("Software\\Corvane\\Notes", "Text", "x"));

    const std::string written = ReadPath(hive_);
    EXPECT_EQ(written, JoinLines(expected, line_break));
    EXPECT_EQ(ParseHive(written).damaged_lines, 1u);
    EXPECT_EQ(registry_->ReadString(kKey, "UpsBatteryCapacity"), "57.5");
    EXPECT_EQ(registry_->ReadDword(kKey, "UpsAutonomyTime"), 300u);
    EXPECT_EQ(registry_->ReadDword(kKey, "SrvPollingUps"), 1u);
    EXPECT_EQ(registry_->ReadString("Software\\Corvane\\Voltrena\\Globals", "LanguageFile"), "english.lng");
    EXPECT_EQ(registry_->ReadString("Software\\Corvane\\Notes", "Text"), "x");
  }
}

TEST_F(HiveRegistryTest, AnOversizeHiveIsNeitherReadNorWritten) {
  std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:1\n";
  text.append(kHiveMaxBytes, ';');
  WritePath(hive_, text);
  EXPECT_FALSE(registry_->KeyExists("K"));
  EXPECT_EQ(registry_->ReadDword("K", "A"), std::nullopt);
  EXPECT_FALSE(registry_->WriteDword("K", "A", 2));
  EXPECT_FALSE(registry_->CreateKey("Other"));
  EXPECT_TRUE(ReadPath(hive_) == text);
}

TEST_F(HiveRegistryTest, WritesThatCannotBeStoredFailAndLeaveTheFileAsItWas) {
  ASSERT_TRUE(registry_->WriteString("K", "A", "a"));
  const std::string before = ReadPath(hive_);
  EXPECT_FALSE(registry_->WriteString("K", "A", "two\nlines"));
  EXPECT_FALSE(registry_->WriteString("K", "Bad\rName", "x"));
  EXPECT_FALSE(registry_->CreateKey("Bad\nKey"));
  EXPECT_EQ(ReadPath(hive_), before);

  auto elsewhere = OpenHiveFile((folder_ / "missing" / "registry.reg").string());
  EXPECT_FALSE(elsewhere->WriteString("K", "A", "a"));
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
  fs::create_directory(folder_ / "dir.reg");
  EXPECT_FALSE(OpenHiveFile((folder_ / "dir.reg").string())->WriteDword("K", "A", 1));
}

TEST_F(HiveRegistryTest, ARewriteKeepsPermissionsAndLinksAndLeavesNoTemporaryFiles) {
  fs::create_directory(folder_ / "real");
  const fs::path target = folder_ / "real" / "hive.reg";
  WritePath(target, "[HKEY_LOCAL_MACHINE\\K]\n");
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  fs::create_symlink(target, hive_);
  WritePath(folder_ / "real" / "hive.reg.tmp-AbC123", "left by a writer that died");

  ASSERT_TRUE(registry_->WriteDword("K", "A", 1));
  EXPECT_TRUE(fs::is_symlink(hive_));
  EXPECT_EQ(OpenHiveFile(target.string())->ReadDword("K", "A"), 1u);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_ / "real")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"hive.reg", "hive.reg.lock"}));
}

TEST_F(HiveRegistryTest, WritingTheStoredValueAgainLeavesTheFileUntouched) {
  WritePath(hive_, "[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=dword:1\r\n");
  EXPECT_TRUE(registry_->WriteDword("K", "a", 1));
  EXPECT_TRUE(registry_->CreateKey("k\\"));
  EXPECT_EQ(ReadPath(hive_), "[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=dword:1\r\n");
}

// Changes the process environment; restored on exit so other tests see it as it was.
class HivePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* value = ::getenv(kHivePathVariable);
    if (value != nullptr) saved_ = value;
  }
  void TearDown() override {
    if (saved_) {
      ::setenv(kHivePathVariable, saved_->c_str(), 1);
    } else {
      ::unsetenv(kHivePathVariable);
    }
  }
  std::optional<std::string> saved_;
};

TEST_F(HivePathTest, ComesFromTheEnvironmentWithADefault) {
  ::unsetenv(kHivePathVariable);
  EXPECT_EQ(HivePathFromEnvironment(), "/etc/voltrena/registry.reg");
  EXPECT_EQ(Registry::SystemStoreFolder(), "/etc/voltrena");
  ::setenv(kHivePathVariable, "", 1);
  EXPECT_EQ(HivePathFromEnvironment(), "/etc/voltrena/registry.reg");
  ::setenv(kHivePathVariable, "/tmp/x/test.reg", 1);
  EXPECT_EQ(HivePathFromEnvironment(), "/tmp/x/test.reg");
  EXPECT_EQ(Registry::SystemStoreFolder(), "/tmp/x");
  EXPECT_EQ(HiveFolderOf("local.reg"), ".");
  EXPECT_EQ(HiveFolderOf("/root.reg"), "/");
}

TEST_F(HivePathTest, TheSystemRegistryIsTheHiveNamedByTheEnvironment) {
  std::string folder = (fs::temp_directory_path() / "hive-env-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  ::setenv(kHivePathVariable, (folder + "/system.reg").c_str(), 1);
  EXPECT_TRUE(Registry::CreateSystem()->WriteDword("K", "A", 5));
  EXPECT_EQ(OpenHiveFile(folder + "/system.reg")->ReadDword("K", "A"), 5u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace keep::platform
