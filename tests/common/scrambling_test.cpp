#include "common/scrambling.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <string>

#include "tests/support/temp_folder_test.h"

namespace keep {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string AllByteValues() {
  std::string text;
  for (int i = 0; i < 256; ++i) text += static_cast<char>(i);
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Worked by hand. Start key 37159 = 0x9127, high byte 0x91; "A" = 0x41; 0x41 XOR 0x91 = 0xD0.
// Key step with B = 0xD0 = 208: (37159 + 208) * 28411 - 6829 = 1 061 627 008, mod 65536 = 9344
// = 0x2480, high byte 0x24; "B" = 0x42; 0x42 XOR 0x24 = 0x66.
TEST(ScrambleTextTest, MatchesHandComputedVector) {
  EXPECT_EQ(ScrambleText("A"), "D0");
  EXPECT_EQ(ScrambleText("AB"), "D066");
  EXPECT_EQ(NextScrambleKey(kScrambleStartKey, 0xD0), 0x2480);
  EXPECT_EQ(ScrambleText(""), "");
}

TEST(ScrambleTextTest, OutputIsUpperCaseHexTwiceAsLongAndSharesPrefixes) {
  const std::string a = ScrambleText("<|101|>");
  const std::string b = ScrambleText("<|102|>");
  EXPECT_EQ(a.size(), 14u);
  EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(a.substr(0, 8), b.substr(0, 8));
  EXPECT_NE(a.substr(8), b.substr(8));
  EXPECT_EQ(a, ScrambleText("<|101|>"));
}

TEST(ScrambleTextTest, RoundTripKeepsEveryByteValueAndLineBreaks) {
  const std::string all = AllByteValues();
  EXPECT_EQ(UnscrambleText(ScrambleText(all)), all);
  std::string reversed(all.rbegin(), all.rend());
  const std::string text = std::string("line 1\r\nline 2\n\0end", 19) + reversed + all;
  EXPECT_EQ(UnscrambleText(ScrambleText(text)), text);
}

TEST(UnscrambleTextTest, AcceptsLowerCaseDigits) {
  const std::string plain = "<|131|1|0|42|>" + AllByteValues();
  EXPECT_EQ(UnscrambleText(Lower(ScrambleText(plain))), plain);
}

TEST(UnscrambleTextTest, IgnoresTrailingOddCharacter) {
  const std::string s = ScrambleText("abc");
  EXPECT_EQ(UnscrambleText(s + "F"), "abc");
  EXPECT_EQ(UnscrambleText("D"), "");
  EXPECT_EQ(UnscrambleText(""), "");
}

TEST(UnscrambleTextTest, NonHexPairIsByteZeroWithKeySteppedByZero) {
  const std::string tail = ScrambleText("xyz").substr(2);
  EXPECT_EQ(UnscrambleText("ZZ" + tail), UnscrambleText("00" + tail));
  EXPECT_EQ(UnscrambleText("ZZ"), std::string(1, '\x91'));
  EXPECT_EQ(UnscrambleText("0G"), std::string(1, '\x91'));
  EXPECT_EQ(UnscrambleText("G0"), std::string(1, '\x91'));
}

TEST(UnscrambleTextTest, DamagedPairGarblesFromThatPlaceOn) {
  const std::string plain = "<|101|>";
  std::string s = ScrambleText(plain);
  s[4] = s[4] == '0' ? '1' : '0';
  const std::string got = UnscrambleText(s);
  ASSERT_EQ(got.size(), plain.size());
  EXPECT_EQ(got.substr(0, 2), "<|");
  EXPECT_NE(got[2], plain[2]);
}

using ReadScrambledFileTest = test::TempFolderTest;

TEST_F(ReadScrambledFileTest, ReadsEachLineScrambledOnItsOwn) {
  WriteFile("upsdb.ups",
            ScrambleText("model one") + "\r\n" + ScrambleText("model|two") + "\n\n" + ScrambleText("last"));
  TStringList list{"stale"};
  EXPECT_EQ(ReadScrambledFile(list, PathOf("upsdb.ups")), 0);
  EXPECT_THAT(list, ElementsAre("model one", "model|two", "", "last"));
}

TEST_F(ReadScrambledFileTest, FinalLineEndAddsNoEmptyLine) {
  WriteFile("a.ups", ScrambleText("x") + "\r\n");
  TStringList list;
  EXPECT_EQ(ReadScrambledFile(list, PathOf("a.ups")), 0);
  EXPECT_THAT(list, ElementsAre("x"));
}

TEST_F(ReadScrambledFileTest, EmptyFileGivesEmptyListAndSuccess) {
  WriteFile("empty.ups", "");
  TStringList list{"stale"};
  EXPECT_EQ(ReadScrambledFile(list, PathOf("empty.ups")), 0);
  EXPECT_THAT(list, IsEmpty());
}

TEST_F(ReadScrambledFileTest, MissingFileOrFolderGivesErrorAndEmptyList) {
  TStringList list{"stale"};
  EXPECT_EQ(ReadScrambledFile(list, PathOf("none.ups")), ENOENT);
  EXPECT_THAT(list, IsEmpty());
  EXPECT_NE(ReadScrambledFile(list, folder_.string()), 0);
}

TEST_F(ReadScrambledFileTest, OverlongLineFailsKeepingEarlierLines) {
  std::string content = ScrambleText("kept") + "\n";
  content.append(kScrambledLineLimit + 1, 'A');
  content += "\n" + ScrambleText("never");
  WriteFile("long.ups", content);
  TStringList list;
  EXPECT_NE(ReadScrambledFile(list, PathOf("long.ups")), 0);
  EXPECT_THAT(list, ElementsAre("kept"));
}

TEST_F(ReadScrambledFileTest, LineAtTheLimitIsAccepted) {
  const std::string plain(kScrambledLineLimit / 2, 'p');
  WriteFile("limit.ups", ScrambleText(plain) + "\n");
  TStringList list;
  EXPECT_EQ(ReadScrambledFile(list, PathOf("limit.ups")), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], plain);
}

}  // namespace
}  // namespace keep
