#include "server/links/file_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/links/traffic_log.h"
#include "tests/support/temp_folder_test.h"

namespace keep::server {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const DateTime kStart = *DateTime::FromCivil({2026, 12, 8, 14, 30, 5, 123});

class FileLoggerTest : public test::TempFolderTest {
 protected:
  FileLoggerTest() {
    // Entries exactly as given, one per line.
    logger_.SetLogFlags({lfAutoCR});
    logger_.SetMaxLineLength(0);
    logger_.OnException = [this](TLogger&, const std::exception& e, std::string_view, uint8_t, std::string_view) {
      errors_.push_back(e.what());
    };
  }
  bool Exists(std::string_view name) const { return std::filesystem::exists(PathOf(name)); }

  platform::ManualClock clock_{kStart};
  TFileLogger logger_{clock_, TFormatSettings()};
  std::vector<std::string> errors_;
};

TEST_F(FileLoggerTest, NamesOfTheRotationSet) {
  logger_.SetLogFile("/var/log/ups.txt");
  EXPECT_EQ(logger_.FileName(0), "/var/log/ups.txt");
  EXPECT_EQ(logger_.FileName(2), "/var/log/ups.txt.2");
  logger_.SetLogFile("/var/log/ups%d.txt");
  EXPECT_EQ(logger_.FileName(0), "/var/log/ups0.txt");
  EXPECT_EQ(logger_.FileName(12), "/var/log/ups12.txt");
  logger_.SetLogFile("%d/ups%d");
  EXPECT_EQ(logger_.FileName(3), "3/ups3");
}

TEST_F(FileLoggerTest, OpeningCreatesTheFileAndAppendsToWhatIsThere) {
  logger_.SetLogFile(PathOf("new.txt"));
  logger_.Open();
  EXPECT_TRUE(Exists("new.txt"));
  logger_.Close();

  WriteFile("old.txt", "kept\r\n");
  logger_.SetLogFile(PathOf("old.txt"));
  logger_.SetAutoOpen(true);
  logger_.Log("", 1, "one");
  logger_.Log("", 1, "two");
  EXPECT_EQ(ReadFile("old.txt"), "kept\r\none\r\ntwo\r\n");
  EXPECT_FALSE(logger_.Active());
  EXPECT_THAT(errors_, IsEmpty());
}

TEST_F(FileLoggerTest, ChangingTheFileWhileActiveSwitchesAtOnce) {
  logger_.SetLogFile(PathOf("a.txt"));
  logger_.Open();
  logger_.Log("", 1, "to a");
  logger_.SetLogFile(PathOf("b.txt"));
  EXPECT_TRUE(logger_.Active());
  logger_.Log("", 1, "to b");
  EXPECT_EQ(ReadFile("a.txt"), "to a\r\n");
  EXPECT_EQ(ReadFile("b.txt"), "to b\r\n");

  logger_.SetLogFile("");
  EXPECT_FALSE(logger_.Active());
  logger_.Log("", 1, "nowhere");
  EXPECT_THAT(errors_, IsEmpty());
}

TEST_F(FileLoggerTest, UnopenableFileFailsOpenWithItsName) {
  logger_.SetLogFile(PathOf("missing/ups_debug.txt"));
  try {
    logger_.Open();
    ADD_FAILURE() << "opened a file in a missing folder";
  } catch (const EConnectError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Cannot open the log file"));
    EXPECT_THAT(e.what(), HasSubstr("missing/ups_debug.txt"));
  }
  EXPECT_FALSE(logger_.Active());
}

TEST_F(FileLoggerTest, AutoOpenFailureReachesOnExceptionOnly) {
  logger_.SetLogFile(PathOf("missing/ups_debug.txt"));
  logger_.SetAutoOpen(true);
  std::string name, data;
  int channel = 0;
  logger_.OnException = [&](TLogger&, const std::exception& e, std::string_view n, uint8_t c, std::string_view d) {
    errors_.push_back(e.what());
    name = n;
    channel = c;
    data = d;
  };
  EXPECT_NO_THROW(logger_.Log("COM1", 2, "(230.0\r"));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_THAT(errors_[0], HasSubstr("missing/ups_debug.txt"));
  EXPECT_EQ(name, "COM1");
  EXPECT_EQ(channel, 2);
  EXPECT_EQ(data, "(230.0\r");
  EXPECT_FALSE(logger_.Active());
}

TEST_F(FileLoggerTest, GuardedPropertyRefusedWhileActiveButFormatsMayChange) {
  logger_.SetLogFile(PathOf("log.txt"));
  logger_.Open();
  try {
    logger_.SetAutoOpen(true);
    ADD_FAILURE() << "AutoOpen changed while active";
  } catch (const EConnectError& e) {
    EXPECT_STREQ(e.what(), "Connection is active");
  }
  EXPECT_FALSE(logger_.AutoOpen());
  EXPECT_NO_THROW(logger_.SetMaxLineLength(40));
  EXPECT_NO_THROW(logger_.SetLogFlags({lfHexadecimal}));
  logger_.Log("", 1, "A");
  EXPECT_EQ(ReadFile("log.txt"), "41 ");
}

// Entries of 100 bytes each (98 characters and the line end), so ten of them fill 1000 bytes.
std::string Entry(int n) {
  std::string text = "entry " + std::to_string(n) + " ";
  text.resize(98, '.');
  return text;
}

std::string Entries(int first, int last) {
  std::string text;
  for (int n = first; n <= last; ++n) text += Entry(n) + "\r\n";
  return text;
}

TEST_F(FileLoggerTest, RotationKeepsTheCurrentFileAndRotateCountOlderOnes) {
  logger_.SetLogFile(PathOf("log.txt"));
  logger_.SetMaxFileSize(1000);
  logger_.SetRotateCount(2);
  logger_.SetAutoOpen(true);
  for (int n = 1; n <= 35; ++n) logger_.Log("", 1, Entry(n));
  EXPECT_EQ(ReadFile("log.txt"), Entries(31, 35));
  EXPECT_EQ(ReadFile("log.txt.1"), Entries(21, 30));
  EXPECT_EQ(ReadFile("log.txt.2"), Entries(11, 20));
  EXPECT_FALSE(Exists("log.txt.3"));
  EXPECT_THAT(errors_, IsEmpty());
}

TEST_F(FileLoggerTest, RotateCountZeroStartsTheFileAgain) {
  logger_.SetLogFile(PathOf("log.txt"));
  logger_.SetMaxFileSize(1000);
  logger_.SetAutoOpen(true);
  for (int n = 1; n <= 12; ++n) logger_.Log("", 1, Entry(n));
  EXPECT_EQ(ReadFile("log.txt"), Entries(11, 12));
  EXPECT_FALSE(Exists("log.txt.1"));
}

TEST_F(FileLoggerTest, RotationCarriesOnWhenOldFilesCannotBeMoved) {
  // A non-empty folder where the oldest file should go can be neither deleted nor replaced.
  std::filesystem::create_directories(PathOf("log.txt.2/busy"));
  logger_.SetLogFile(PathOf("log.txt"));
  logger_.SetMaxFileSize(1000);
  logger_.SetRotateCount(2);
  logger_.SetAutoOpen(true);
  for (int n = 1; n <= 25; ++n) logger_.Log("", 1, Entry(n));
  EXPECT_THAT(errors_, IsEmpty());
  EXPECT_EQ(ReadFile("log.txt"), Entries(21, 25));
  EXPECT_EQ(ReadFile("log.txt.1"), Entries(11, 20));
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("log.txt.2/busy")));
}

// Opening fails on request, as when the folder vanishes during a rotation.
class FlakyFileLogger : public TFileLogger {
 public:
  using TFileLogger::TFileLogger;
  bool fail_open = false;

 protected:
  void DoOpen() override {
    if (fail_open) throw EConnectError("Cannot open the log file: gone");
    TFileLogger::DoOpen();
  }
};

TEST_F(FileLoggerTest, FailedReopenAfterRotationIsReportedThenRetried) {
  FlakyFileLogger logger(clock_, TFormatSettings());
  logger.SetLogFlags({lfAutoCR});
  logger.SetMaxLineLength(0);
  logger.OnException = logger_.OnException;
  logger.SetLogFile(PathOf("log.txt"));
  logger.SetMaxFileSize(100);
  logger.SetRotateCount(1);
  logger.Open();
  logger.fail_open = true;
  logger.Log("", 1, Entry(1));  // fills the file; the new one cannot be opened
  EXPECT_THAT(errors_, ElementsAre("Cannot open the log file: gone"));
  EXPECT_TRUE(logger.Active());
  // Entries are not dropped silently while the file is missing: each one reports the failure.
  logger.Log("", 1, "lost");
  EXPECT_EQ(errors_.size(), 2u);
  logger.fail_open = false;
  logger.Log("", 1, "back");
  EXPECT_EQ(errors_.size(), 2u);
  EXPECT_EQ(ReadFile("log.txt.1"), Entries(1, 1));
  EXPECT_EQ(ReadFile("log.txt"), "back\r\n");
}

class UpsTrafficLogTest : public test::TempFolderTest {
 protected:
  UpsTrafficLogTest() { std::filesystem::create_directory(PathOf("data")); }
  std::string Install() const { return folder_.string() + "/"; }

  platform::ManualClock clock_{kStart};
};

TEST_F(UpsTrafficLogTest, EachBlockIsAStampedHexLineWithItsDirection) {
  auto logger = CreateUpsTrafficLogger(Install(), clock_, TFormatSettings());
  EXPECT_EQ(logger->LogFile(), Install() + "data/ups_debug.txt");
  EXPECT_TRUE(logger->AutoOpen());
  EXPECT_EQ(logger->MaxFileSize(), 0);
  logger->Log("COM1", kChannelSent, "Q1\r");
  EXPECT_FALSE(logger->Active());
  clock_.AdvanceMs(250);
  logger->Log("COM1", kChannelReceived, "(2\r");
  EXPECT_EQ(ReadFile("data/ups_debug.txt"),
            "08/12/2026 14:30:05.123)01)51 31 0D \r\n"
            "08/12/2026 14:30:05.373)02)28 32 0D \r\n");
}

TEST_F(UpsTrafficLogTest, LongBlocksWrapAfterEightyCharacters) {
  auto logger = CreateUpsTrafficLogger(Install(), clock_, TFormatSettings());
  logger->Log("COM1", kChannelReceived, std::string(30, 'A'));
  std::string line1 = "08/12/2026 14:30:05.123)02)";
  for (int i = 0; i < 18; ++i) line1 += "41 ";  // 27 + 54 = 81 characters: the first to reach 80
  std::string line2 = "08/12/2026 14:30:05.123)02)";
  for (int i = 0; i < 12; ++i) line2 += "41 ";
  EXPECT_EQ(ReadFile("data/ups_debug.txt"), line1 + "\r\n" + line2 + "\r\n");
}

}  // namespace
}  // namespace keep::server
