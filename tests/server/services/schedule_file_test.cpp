#include "server/services/schedule_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/scrambling.h"
#include "tests/support/temp_folder_test.h"

namespace keep::test {
namespace {

using server::ReceiveScheduleFile;
using server::ValidScheduleLine;

TEST(ValidScheduleLineTest, AcceptsEveryKindAndFrequency) {
  EXPECT_TRUE(ValidScheduleLine("SR|D|0|81000|-1|-1"));
  EXPECT_TRUE(ValidScheduleLine("BT|W|3|0|-1|-1"));
  EXPECT_TRUE(ValidScheduleLine("AT|O|46000|86399|46001|0"));
  EXPECT_TRUE(ValidScheduleLine("SR|D|0|100|-1|200|extra")) << "more than six fields";
}

TEST(ValidScheduleLineTest, RejectsWrongKindsFrequenciesAndNumbers) {
  EXPECT_FALSE(ValidScheduleLine("XX|D|0|81000|-1|-1"));
  EXPECT_FALSE(ValidScheduleLine("SR|M|0|81000|-1|-1"));
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|81000|-1"));
  EXPECT_FALSE(ValidScheduleLine("SR|D|x|81000|-1|-1"));
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|8.5|-1|-1"));
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|81000|-1|99999999999999999999"));
  EXPECT_FALSE(ValidScheduleLine(""));
}

TEST(ValidScheduleLineTest, RejectsTimesNoClockShows) {
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|86400|-1|-1"));
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|-1|-1|-1")) << "only the restart time may be -1";
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|100|1|86400"));
  EXPECT_FALSE(ValidScheduleLine("SR|D|0|100|1|-2"));
}

class ReceiveScheduleFileTest : public TempFolderTest {
 protected:
  std::string Target() const { return PathOf("sch_data.dat"); }
  std::string Temp() const { return PathOf("srvtemp") + "/"; }
  static std::string Upload(std::initializer_list<const char*> lines) {
    std::string bytes;
    for (const char* line : lines) bytes += ScrambleText(line) + "\r\n";
    return bytes;
  }
};

TEST_F(ReceiveScheduleFileTest, StoresPlainLinesAndDropsTheBackup) {
  WriteFile("sch_data.dat", "BT|D|0|100|-1|-1\r\n");
  const auto receipt = ReceiveScheduleFile(Upload({"SR|D|0|81000|-1|-1", "AT|W|2|3600|-1|-1"}), 203, Target(), Temp());
  EXPECT_TRUE(receipt.stored);
  EXPECT_EQ("1", receipt.answer);
  EXPECT_EQ("SR|D|0|81000|-1|-1\r\nAT|W|2|3600|-1|-1\r\n", ReadFile("sch_data.dat"));
  EXPECT_FALSE(std::filesystem::exists(Temp() + "sch_data.dat"));
}

TEST_F(ReceiveScheduleFileTest, ALastLineWithoutLineEndCounts) {
  const auto receipt = ReceiveScheduleFile(ScrambleText("SR|D|0|81000|-1|-1"), 203, Target(), Temp());
  EXPECT_TRUE(receipt.stored);
  EXPECT_EQ("SR|D|0|81000|-1|-1\r\n", ReadFile("sch_data.dat"));
}

TEST_F(ReceiveScheduleFileTest, ABadLineKeepsThePreviousFile) {
  WriteFile("sch_data.dat", "BT|D|0|100|-1|-1\r\n");
  const auto receipt = ReceiveScheduleFile(Upload({"SR|D|0|81000|-1|-1", "SR|D|0|90000|-1|-1"}), 203, Target(), Temp());
  EXPECT_FALSE(receipt.stored);
  EXPECT_EQ("0", receipt.answer);
  EXPECT_EQ("BT|D|0|100|-1|-1\r\n", ReadFile("sch_data.dat"));
}

TEST_F(ReceiveScheduleFileTest, AFailedWriteRestoresThePreviousFile) {
  WriteFile("sch_data.dat", "BT|D|0|100|-1|-1\r\n");
  std::filesystem::create_directories(Target() + ".new");  // the new file cannot be written
  const auto receipt = ReceiveScheduleFile(Upload({"SR|D|0|81000|-1|-1"}), 203, Target(), Temp());
  EXPECT_FALSE(receipt.stored);
  EXPECT_EQ("0", receipt.answer);
  EXPECT_EQ("BT|D|0|100|-1|-1\r\n", ReadFile("sch_data.dat"));
  EXPECT_FALSE(std::filesystem::exists(Temp() + "sch_data.dat"));
}

TEST_F(ReceiveScheduleFileTest, NoBytesDeleteTheFile) {
  WriteFile("sch_data.dat", "BT|D|0|100|-1|-1\r\n");
  const auto receipt = ReceiveScheduleFile("", 203, Target(), Temp());
  EXPECT_FALSE(receipt.stored);
  EXPECT_EQ("1", receipt.answer);
  EXPECT_FALSE(std::filesystem::exists(Target()));
}

}  // namespace
}  // namespace keep::test
