#include "common/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder_test.h"

namespace keep {
namespace {

DateTime At(int h, int mi, int s) { return *DateTime::FromCivil({2024, 3, 7, h, mi, s, 0}); }

class AppendLogLineTest : public test::TempFolderTest {
 protected:
  bool Log(std::string_view text, int64_t max_size = 1'000'000) {
    return AppendLogLine(PathOf("ups_log.txt"), "", ';', settings_, false, max_size, text, At(8, 5, 9));
  }
  bool Data(std::string_view text, int64_t max_size, DateTime now) {
    return AppendLogLine(PathOf("ups_data.csv"), "Date;Time;Vin", ';', settings_, true, max_size, text, now);
  }
  TFormatSettings settings_;
};

TEST_F(AppendLogLineTest, BlankFormWithoutHeaderAppendsCrLfLines) {
  ASSERT_TRUE(Log("first"));
  ASSERT_TRUE(Log("second"));
  EXPECT_EQ(ReadFile("ups_log.txt"), "07/03/2024 08:05:09  first\r\n07/03/2024 08:05:09  second\r\n");
}

TEST_F(AppendLogLineTest, SeparatorFormCreatesFileWithHeaderFirst) {
  ASSERT_TRUE(Data("230", 1000, At(23, 59, 58)));
  ASSERT_TRUE(Data("229", 1000, At(0, 0, 1)));
  EXPECT_EQ(ReadFile("ups_data.csv"), "Date;Time;Vin\r\n07/03/2024;23:59:58;230\r\n07/03/2024;00:00:01;229\r\n");
}

TEST_F(AppendLogLineTest, EmptyExistingFileGetsTheHeader) {
  WriteFile("ups_data.csv", "");
  ASSERT_TRUE(Data("1", 1000, At(1, 0, 0)));
  EXPECT_EQ(ReadFile("ups_data.csv"), "Date;Time;Vin\r\n07/03/2024;01:00:00;1\r\n");
}

TEST_F(AppendLogLineTest, FileReachingMaxSizeStartsAgainWithHeader) {
  const std::string first = "Date;Time;Vin\r\n07/03/2024;01:00:00;1\r\n";
  ASSERT_TRUE(Data("1", static_cast<int64_t>(first.size()) + 1, At(1, 0, 0)));
  ASSERT_EQ(ReadFile("ups_data.csv"), first);
  // One byte below the limit: appended.
  ASSERT_TRUE(Data("2", static_cast<int64_t>(first.size()) + 1, At(1, 0, 1)));
  EXPECT_EQ(ReadFile("ups_data.csv"), first + "07/03/2024;01:00:01;2\r\n");
  // Size equal to the limit: started again.
  const auto size = static_cast<int64_t>(std::filesystem::file_size(PathOf("ups_data.csv")));
  ASSERT_TRUE(Data("3", size, At(1, 0, 2)));
  EXPECT_EQ(ReadFile("ups_data.csv"), "Date;Time;Vin\r\n07/03/2024;01:00:02;3\r\n");
}

TEST_F(AppendLogLineTest, MaxSizeZeroStartsEveryLineAgain) {
  ASSERT_TRUE(Log("one", 0));
  ASSERT_TRUE(Log("two", 0));
  EXPECT_EQ(ReadFile("ups_log.txt"), "07/03/2024 08:05:09  two\r\n");
}

TEST_F(AppendLogLineTest, UnwritablePlacesReportFailure) {
  EXPECT_FALSE(AppendLogLine(PathOf("missing/ups_log.txt"), "", ';', settings_, false, 1000, "x", At(1, 0, 0)));
  EXPECT_FALSE(std::filesystem::exists(PathOf("missing")));
  std::filesystem::create_directory(PathOf("folder"));
  EXPECT_FALSE(AppendLogLine(PathOf("folder"), "", ';', settings_, false, 1000, "x", At(1, 0, 0)));
}

using FileSizeOfTest = test::TempFolderTest;

TEST_F(FileSizeOfTest, ReportsSizeZeroForMissingAndMinusOneForUnreadable) {
  EXPECT_EQ(FileSizeOf(PathOf("none")), 0);
  WriteFile("five", "12345");
  EXPECT_EQ(FileSizeOf(PathOf("five")), 5);
  std::filesystem::create_directory(PathOf("dir"));
  EXPECT_EQ(FileSizeOf(PathOf("dir")), -1);
}

TEST_F(FileSizeOfTest, HugeSparseFileIsClampedNotAnError) {
  WriteFile("huge", "");
  std::error_code ec;
  std::filesystem::resize_file(PathOf("huge"), (std::uintmax_t{1} << 31) + 10, ec);
  if (ec) GTEST_SKIP() << "file system cannot hold a sparse 2 GiB file: " << ec.message();
  EXPECT_EQ(FileSizeOf(PathOf("huge")), INT32_MAX);
  // So the next line restarts the file instead of failing.
  TFormatSettings settings;
  ASSERT_TRUE(AppendLogLine(PathOf("huge"), "H", ';', settings, true, 1000, "x", At(1, 0, 0)));
  EXPECT_EQ(ReadFile("huge"), "H\r\n07/03/2024;01:00:00;x\r\n");
}

}  // namespace
}  // namespace keep
