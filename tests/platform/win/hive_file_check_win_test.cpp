// The start-up check of the configuration on Windows: a key of the real registry, named in full.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "platform/hive_file_check.h"
#include "platform/hive_registry.h"
#include "platform/registry.h"
#include "tests/platform/win/helper_program.h"

namespace keep::platform {
namespace {

class WindowsHiveFileCheckTest : public ::testing::Test {
 protected:
  void TearDown() override {
    const std::wstring key(key_.begin(), key_.end());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  }

  const std::string key_ = "Software\\KeepTest\\" + wintest::UniqueName("check");
};

TEST_F(WindowsHiveFileCheckTest, MissingKeyIsMissingAndAppearsOnceCreated) {
  const std::string full = "HKEY_LOCAL_MACHINE\\" + key_;
  const HiveFileCheck missing = CheckHiveFile(full);
  EXPECT_EQ(missing.state, HiveFileState::kFileMissing);
  EXPECT_FALSE(missing.reason.empty());

  ASSERT_TRUE(Registry::CreateSystem()->CreateKey(key_));
  const HiveFileCheck present = CheckHiveFile(full);
  EXPECT_EQ(present.state, HiveFileState::kReadable) << present.reason;
  // The root is named without regard to letter case, as the system does.
  EXPECT_EQ(CheckHiveFile("hkey_local_machine\\" + key_).state, HiveFileState::kReadable);
}

TEST_F(WindowsHiveFileCheckTest, NamesOutsideTheMachineRootAreRefusedNotOpened) {
  ASSERT_TRUE(Registry::CreateSystem()->CreateKey(key_));
  for (const std::string& name : {std::string("HKEY_CURRENT_USER\\") + key_, key_, std::string("HKEY_LOCAL_MACHINE"),
                                  std::string("HKEY_LOCAL_MACHINE\\"), std::string("HKEY_LOCAL_MACHINEX\\") + key_,
                                  std::string("HKEY_LOCAL_MACHINE\\") + key_ + std::string("\0tail", 5)}) {
    EXPECT_EQ(CheckHiveFile(name).state, HiveFileState::kUnreadable) << name;
  }
}

TEST(WindowsSettingsStore, IsTheRegistryWithoutFileOrFolder) {
  EXPECT_TRUE(SettingsInSystemRegistry());
  EXPECT_EQ(HivePathFromEnvironment(), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(HiveFolderOf(HivePathFromEnvironment()), "");
}

}  // namespace
}  // namespace keep::platform
