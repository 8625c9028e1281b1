// The real registry below HKEY_LOCAL_MACHINE, each test in a key of its own that it removes again.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "tests/platform/win/helper_program.h"

namespace keep::platform {
namespace {

class WindowsRegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    const std::wstring key(key_.begin(), key_.end());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  }

  // Stores a value the interface cannot write, as another program could.
  void WriteRaw(const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    const std::wstring path(key_.begin(), key_.end());
    const std::wstring value(name.begin(), name.end());
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(key, value.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    ::RegCloseKey(key);
  }

  const std::string key_ = "Software\\KeepTest\\" + wintest::UniqueName("registry");
  std::unique_ptr<Registry> registry_ = Registry::CreateSystem();
};

TEST_F(WindowsRegistryTest, ValuesReadBackAsWrittenWhateverTheLetterCase) {
  EXPECT_FALSE(registry_->KeyExists(key_));
  ASSERT_TRUE(registry_->WriteString(key_ + "\\Sub", "InstallPath", "C:\\Program Files\\Keep\\"));
  ASSERT_TRUE(registry_->WriteDword(key_ + "\\Sub", "Port", 3551));
  ASSERT_TRUE(registry_->WriteDword(key_ + "\\Sub", "Largest", 0xFFFFFFFFu));
  // Letters other than ASCII survive the trip through the wide-character calls.
  ASSERT_TRUE(registry_->WriteString(key_ + "\\Sub", "Place",
                                     "Z\xC3\xBCrich \xC2\xB0"
                                     "C"));
  ASSERT_TRUE(registry_->WriteString(key_ + "\\Sub", "Empty", ""));

  EXPECT_TRUE(registry_->KeyExists(key_));
  EXPECT_TRUE(registry_->KeyExists(key_ + "\\SUB"));
  EXPECT_EQ(registry_->ReadString(key_ + "\\sub", "installpath"), "C:\\Program Files\\Keep\\");
  EXPECT_EQ(registry_->ReadDword(key_ + "\\Sub", "PORT"), 3551u);
  EXPECT_EQ(registry_->ReadDword(key_ + "\\Sub", "Largest"), 0xFFFFFFFFu);
  EXPECT_EQ(registry_->ReadString(key_ + "\\Sub", "Place"),
            "Z\xC3\xBCrich \xC2\xB0"
            "C");
  EXPECT_EQ(registry_->ReadString(key_ + "\\Sub", "Empty"), "");

  // Writing again replaces the value, of whichever type it was.
  ASSERT_TRUE(registry_->WriteDword(key_ + "\\Sub", "InstallPath", 7));
  EXPECT_EQ(registry_->ReadDword(key_ + "\\Sub", "InstallPath"), 7u);
  EXPECT_EQ(registry_->ReadString(key_ + "\\Sub", "InstallPath"), std::nullopt);
}

TEST_F(WindowsRegistryTest, WrongTypeAndMissingReadAsMissing) {
  ASSERT_TRUE(registry_->WriteString(key_, "Text", "300"));
  ASSERT_TRUE(registry_->WriteDword(key_, "Number", 300));
  const uint64_t quad = 300;
  WriteRaw("Quad", REG_QWORD, &quad, sizeof quad);
  const unsigned char bytes[] = {0x2c, 0x01, 0x00, 0x00};
  WriteRaw("Binary", REG_BINARY, bytes, sizeof bytes);
  // A DWORD-typed value of the wrong length is damaged, not a number.
  WriteRaw("ShortDword", REG_DWORD, bytes, 2);
  const wchar_t lines[] = L"a\0b\0";
  WriteRaw("Lines", REG_MULTI_SZ, lines, sizeof lines);

  EXPECT_EQ(registry_->ReadDword(key_, "Text"), std::nullopt);
  EXPECT_EQ(registry_->ReadString(key_, "Number"), std::nullopt);
  for (const char* name : {"Quad", "Binary", "ShortDword", "Lines", "Missing"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(registry_->ReadDword(key_, name), std::nullopt);
    EXPECT_EQ(registry_->ReadString(key_, name), std::nullopt);
  }
  EXPECT_EQ(registry_->ReadString(key_ + "\\NoSuchKey", "Text"), std::nullopt);
  EXPECT_EQ(registry_->ReadDword(key_ + "\\NoSuchKey", "Number"), std::nullopt);
}

TEST_F(WindowsRegistryTest, StringsStoredByOthersAreReadSafely) {
  // Without a terminating NUL, with an odd byte count, and as an expandable string.
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  WriteRaw("Unterminated", REG_SZ, unterminated, sizeof unterminated);
  WriteRaw("OddLength", REG_SZ, L"xyz", 5);
  WriteRaw("Expand", REG_EXPAND_SZ, L"%TEMP%\\x", sizeof L"%TEMP%\\x");
  WriteRaw("EmbeddedNul", REG_SZ, L"one\0two", sizeof L"one\0two");

  EXPECT_EQ(registry_->ReadString(key_, "Unterminated"), "abc");
  EXPECT_EQ(registry_->ReadString(key_, "OddLength"), "xy");
  EXPECT_EQ(registry_->ReadString(key_, "Expand"), "%TEMP%\\x");
  EXPECT_EQ(registry_->ReadString(key_, "EmbeddedNul"), "one");
}

TEST_F(WindowsRegistryTest, NamesWithNulAreRefusedNotCutShort) {
  using namespace std::string_literals;
  ASSERT_TRUE(registry_->WriteString(key_, "Name", "kept"));
  EXPECT_FALSE(registry_->WriteString(key_, "Name\0Other"s, "changed"));
  EXPECT_FALSE(registry_->WriteString(key_, "Name", "changed\0tail"s));
  EXPECT_FALSE(registry_->CreateKey(key_ + "\0Other"s));
  EXPECT_EQ(registry_->ReadString(key_, "Name\0Other"s), std::nullopt);
  EXPECT_EQ(registry_->ReadString(key_, "Name"), "kept");
  EXPECT_TRUE(registry_->CreateKey(key_ + "\\Created"));
  EXPECT_TRUE(registry_->KeyExists(key_ + "\\Created"));
}

}  // namespace
}  // namespace keep::platform
