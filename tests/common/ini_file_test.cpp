#include "common/ini_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_folder_test.h"

namespace keep {
namespace {

constexpr std::string_view kLanguage =
    "; english texts\r\n"
    "[LOGS]\r\n"
    "  6 = Mains failure  \r\n"
    "NewSessionStart=New session\r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single=' x '\r\n"
    "Mixed=\"x'\r\n"
    "Lone=\"\r\n"
    "Empty=\r\n"
    "Equals=a=b\r\n"
    "  ;6=commented\r\n"
    "[ Errors ]\n"
    "100000=Cannot start\n"
    "6=from errors\n"
    "[logs]\n"
    "Late=second section\n";

TEST(LookupIniValueTest, MatchesSectionAndKeyWithoutCaseAndTrimsValue) {
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "6"), "Mains failure");
  EXPECT_EQ(LookupIniValue(kLanguage, "logs", "newsessionstart"), "New session");
  EXPECT_EQ(LookupIniValue(kLanguage, " errors ", "100000"), "Cannot start");
  EXPECT_EQ(LookupIniValue(kLanguage, "ERRORS", "6"), "from errors");
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Equals"), "a=b");
}

TEST(LookupIniValueTest, RemovesOnlyAMatchingPairOfQuotes) {
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Quoted"), "  spaced  ");
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Single"), " x ");
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Mixed"), "\"x'");
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Lone"), "\"");
  EXPECT_EQ(LookupIniValue("[s]\nk=\"\"\n", "s", "k"), "");
}

TEST(LookupIniValueTest, MissingPiecesAndCommentsGiveEmptyText) {
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Empty"), "");
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Missing"), "");
  EXPECT_EQ(LookupIniValue(kLanguage, "NoSuch", "6"), "");
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", ";6"), "");
  EXPECT_EQ(LookupIniValue("", "LOGS", "6"), "");
  // Keys before any section header belong to no section.
  EXPECT_EQ(LookupIniValue("6=orphan\n[LOGS]\n", "LOGS", "6"), "");
}

TEST(LookupIniValueTest, FirstSectionAndFirstKeyWin) {
  EXPECT_EQ(LookupIniValue(kLanguage, "LOGS", "Late"), "");
  EXPECT_EQ(LookupIniValue("[a]\nk=1\nk=2\n[A]\nk=3\n", "a", "k"), "1");
}

TEST(LookupIniValueTest, LastLineWithoutLineEndIsRead) {
  EXPECT_EQ(LookupIniValue("[a]\nk=last", "a", "k"), "last");
  EXPECT_EQ(LookupIniValue("[a]\r\nk=cr\r", "a", "k"), "cr");
}

TEST(LookupIniValueTest, ValueIsCutTo2047Characters) {
  const std::string long_value(5000, 'v');
  const std::string value = LookupIniValue("[a]\nk=" + long_value + "\n", "a", "k");
  EXPECT_EQ(value, std::string(kIniMaxValueLength, 'v'));
  const std::string exact(kIniMaxValueLength, 'w');
  EXPECT_EQ(LookupIniValue("[a]\nk=\"" + exact + "\"\n", "a", "k"), exact);
}

using ReadIniValueTest = test::TempFolderTest;

TEST_F(ReadIniValueTest, ReadsTheFileAnewOnEveryCall) {
  WriteFile("english.msg", "[Messages]\n6=first\n");
  EXPECT_EQ(ReadIniValue(PathOf("english.msg"), "Messages", "6"), "first");
  WriteFile("english.msg", "[Messages]\n6=changed\n");
  EXPECT_EQ(ReadIniValue(PathOf("english.msg"), "messages", "6"), "changed");
}

TEST_F(ReadIniValueTest, MissingFileOrFolderGivesEmptyText) {
  EXPECT_EQ(ReadIniValue(PathOf("none.lng"), "LOGS", "6"), "");
  EXPECT_EQ(ReadIniValue(PathOf(""), "LOGS", "6"), "");
}

TEST_F(ReadIniValueTest, EntriesPastTheReadLimitAreNotFound) {
  std::string content = "[a]\nnear=yes\n";
  content.append(kIniMaxFileSize, ' ');
  content += "\nfar=no\n";
  WriteFile("big.ini", content);
  EXPECT_EQ(ReadIniValue(PathOf("big.ini"), "a", "near"), "yes");
  EXPECT_EQ(ReadIniValue(PathOf("big.ini"), "a", "far"), "");
}

}  // namespace
}  // namespace keep
