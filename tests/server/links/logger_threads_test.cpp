// Several threads logging into one logger at once, as the serial event thread, a socket thread and
// the main thread do: every entry must come out whole and in each thread's own order.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "server/links/file_logger.h"
#include "tests/support/temp_folder_test.h"

namespace keep::server {
namespace {

constexpr int kThreads = 4;
constexpr int kEntries = 500;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", from)) {
    lines.push_back(text.substr(from, at - from));
    from = at + 2;
  }
  EXPECT_EQ(from, text.size()) << "text after the last line end";
  return lines;
}

class LoggerThreadsTest : public test::TempFolderTest {
 protected:
  LoggerThreadsTest() {
    logger_.SetLogFile(PathOf("traffic.txt"));
    logger_.SetLogFlags({lfInsertChannel, lfAutoCR});
    logger_.SetMaxLineLength(0);
    logger_.SetAutoOpen(true);
    logger_.OnException = [this](TLogger&, const std::exception&, std::string_view, uint8_t, std::string_view) {
      ++errors_;
    };
  }

  // Thread t logs on channel t + 1 the entries "t:0" ... "t:kEntries-1".
  void RunLoggingThreads() {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([this, t] {
        for (int n = 0; n < kEntries; ++n) {
          logger_.Log("", static_cast<uint8_t>(t + 1), std::to_string(t) + ":" + std::to_string(n));
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }

  // Each line must be one entry, labelled with its own thread's channel, and each thread's entries
  // must appear complete and in order.
  void ExpectWholeEntriesInOrder() {
    const std::vector<std::string> lines = SplitLines(ReadFile("traffic.txt"));
    EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kEntries));
    std::map<int, int> next;
    for (const std::string& line : lines) {
      ASSERT_GE(line.size(), 7u) << line;
      const int channel = line[1] - '0';
      ASSERT_EQ(line.substr(0, 4), "0" + std::to_string(channel) + ") ") << line;
      const int thread = channel - 1;
      ASSERT_EQ(line.substr(4), std::to_string(thread) + ":" + std::to_string(next[thread])) << line;
      ++next[thread];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEntries) << "thread " << t;
    EXPECT_EQ(errors_.load(), 0);
  }

  platform::ManualClock clock_;
  TFileLogger logger_{clock_, TFormatSettings()};
  std::atomic<int> errors_{0};
};

TEST_F(LoggerThreadsTest, AutoOpenEntriesFromManyThreadsNeverInterleave) {
  RunLoggingThreads();
  ExpectWholeEntriesInOrder();
  EXPECT_FALSE(logger_.Active());
}

TEST_F(LoggerThreadsTest, OpeningAndClosingWhileThreadsLogLosesNothing) {
  std::atomic<bool> done{false};
  std::thread owner([&] {
    // The owner keeps the file open for a while and lets it go again, as a user of the logger may.
    while (!done) {
      logger_.Open();
      logger_.Close();
    }
  });
  RunLoggingThreads();
  done = true;
  owner.join();
  ExpectWholeEntriesInOrder();
}

TEST_F(LoggerThreadsTest, RotationUnderLoadKeepsEveryEntryWhole) {
  logger_.SetMaxFileSize(4000);
  logger_.SetRotateCount(50);
  RunLoggingThreads();
  // Reassemble the rotated files, oldest first, and check the whole traffic.
  std::string all;
  for (int n = 50; n >= 1; --n) all += ReadFile("traffic.txt." + std::to_string(n));
  all += ReadFile("traffic.txt");
  WriteFile("traffic.txt", all);
  ExpectWholeEntriesInOrder();
}

}  // namespace
}  // namespace keep::server
