#include "server/links/stream_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace keep::server {
namespace {

using ::testing::ElementsAre;

const DateTime kStart = *DateTime::FromCivil({2026, 12, 8, 14, 30, 5, 123});
constexpr char kStamp[] = "08/12/2026 14:30:05.123)";

class StreamLoggerTest : public ::testing::Test {
 protected:
  StreamLoggerTest() {
    logger_.SetStream(&out_);
    logger_.Open();
  }
  // Logs and returns what this one entry added to the stream.
  std::string Log(std::string_view name, uint8_t channel, std::string_view data) {
    const size_t before = out_.str().size();
    logger_.Log(name, channel, data);
    return out_.str().substr(before);
  }
  std::string LogBytes(uint8_t channel, std::string_view data) { return Log("", channel, data); }

  platform::ManualClock clock_{kStart};
  std::ostringstream out_;
  TStreamLogger logger_{clock_, TFormatSettings()};
};

TEST_F(StreamLoggerTest, DefaultsLabelNamesAndChannelsAndBreakOnEveryChange) {
  EXPECT_EQ(logger_.LogFlags(),
            TLogFormatFlags({lfInsertName, lfInsertChannel, lfDivideNames, lfDivideChannels, lfHexadecimal}));
  EXPECT_EQ(logger_.MaxLineLength(), 80);
  logger_.Log("COM1", 1, "ab");
  logger_.Log("COM1", 1, "c");
  logger_.Log("COM1", 2, "d");
  logger_.Log("TCP", 2, "e");
  // The very first entry differs from the (empty) last name too, so even it starts with a break.
  EXPECT_EQ(out_.str(), "\r\nCOM1-01)61 62 63 \r\nCOM1-02)64 \r\nTCP-02)65 ");
}

TEST_F(StreamLoggerTest, HexBytesOfOneBlockEndWithAutoCr) {
  logger_.SetLogFlags({lfInsertChannel, lfHexadecimal, lfAutoCR});
  logger_.SetMaxLineLength(0);
  EXPECT_EQ(LogBytes(1, "\x51\x0D"), "01)51 0D \r\n");
  EXPECT_EQ(LogBytes(2, std::string_view("\xFF\x00", 2)), "02)FF 00 \r\n");
}

TEST_F(StreamLoggerTest, ChannelLabelIsLowerCaseHexAndGetsABlankBeforeText) {
  logger_.SetLogFlags({lfInsertChannel, lfHexadecimal});
  EXPECT_EQ(LogBytes(0xAB, "\xAB"), "ab)AB ");
  logger_.SetLogFlags({lfInsertChannel});
  EXPECT_EQ(LogBytes(0x1C, "Q1"), "1c) Q1");
}

TEST_F(StreamLoggerTest, ChannelChangeWithinALineOnlyInsertsTheLabel) {
  logger_.SetLogFlags({lfInsertChannel, lfHexadecimal});
  EXPECT_EQ(LogBytes(1, "A"), "01)41 ");
  EXPECT_EQ(LogBytes(1, "B"), "42 ");
  EXPECT_EQ(LogBytes(2, "C"), "02)43 ");
}

TEST_F(StreamLoggerTest, ChannelChangeBreaksTheLineWhenDividingChannels) {
  logger_.SetLogFlags({lfInsertChannel, lfHexadecimal, lfDivideChannels});
  EXPECT_EQ(LogBytes(1, "A"), "\r\n01)41 ");
  EXPECT_EQ(LogBytes(1, "B"), "42 ");
  EXPECT_EQ(LogBytes(2, "C"), "\r\n02)43 ");
}

TEST_F(StreamLoggerTest, NameLabelWithoutChannelLabel) {
  logger_.SetLogFlags({lfInsertName});
  EXPECT_EQ(Log("COM1", 1, "ab"), "COM1-ab");
  EXPECT_EQ(Log("COM1", 2, "c"), "c");
  EXPECT_EQ(Log("TCP", 2, "d"), "TCP-d");
}

TEST_F(StreamLoggerTest, CrLfPairInTextStartsOneLineAndTheLineFeedGetsNoStamp) {
  logger_.SetLogFlags({lfInsertChannel, lfStamp});
  const std::string s = kStamp;
  EXPECT_EQ(LogBytes(1, "AB\r\nCD"), s + "01) AB\r01) \n" + s + "01) CD");
}

TEST_F(StreamLoggerTest, LfCrPairCountsAsAPairToo) {
  logger_.SetLogFlags({lfStamp});
  const std::string s = kStamp;
  EXPECT_EQ(LogBytes(1, "A\n\rB"), s + "A\n\r" + s + "B");
}

TEST_F(StreamLoggerTest, LineEndsFromAnotherChannelAreNotPaired) {
  logger_.SetLogFlags({lfStamp});
  const std::string s = kStamp;
  EXPECT_EQ(LogBytes(1, "A\r"), s + "A\r");
  // A line feed arriving on the other channel starts its own stamped line.
  EXPECT_EQ(LogBytes(2, "\n"), s + "\n");
  // Two line feeds never pair.
  EXPECT_EQ(LogBytes(2, "\n"), s + "\n");
}

TEST_F(StreamLoggerTest, PairOnTheNewChannelIsStillOnePair) {
  logger_.SetLogFlags({lfStamp});
  const std::string s = kStamp;
  EXPECT_EQ(LogBytes(1, "A"), s + "A");
  // The line feed ends channel 1's line; the carriage return completes the pair on channel 2.
  EXPECT_EQ(LogBytes(2, "\n\rB"), "\n\r" + s + "B");
}

TEST_F(StreamLoggerTest, StampUsesTheShortDateFormatAndTheClockOfEachEntry) {
  platform::ManualClock clock{kStart};
  TFormatSettings formats;
  formats.ShortDateFormat = "yyyy-MM-dd";
  TStreamLogger logger(clock, formats);
  std::ostringstream out;
  logger.SetStream(&out);
  logger.SetAutoOpen(true);
  logger.SetLogFlags({lfStamp, lfAutoCR});
  logger.Log("", 1, "x");
  clock.AdvanceMs(1000LL * 3600 * 10 + 2);  // into the next day
  logger.Log("", 1, "y");
  EXPECT_EQ(out.str(), "2026-12-08 14:30:05.123)x\r\n2026-12-09 00:30:05.125)y\r\n");
}

TEST_F(StreamLoggerTest, LongBlocksWrapAtMaxLineLength) {
  logger_.SetLogFlags({lfInsertChannel, lfHexadecimal});
  logger_.SetMaxLineLength(12);  // "01)" and three bytes
  EXPECT_EQ(LogBytes(1, "ABCDEFG"), "01)41 42 43 \r\n01)44 45 46 \r\n01)47 ");
  // A line filled by the last byte gets no trailing break of its own.
  logger_.SetLogFlags({lfInsertChannel, lfHexadecimal, lfAutoCR});
  EXPECT_EQ(LogBytes(1, "HI"), "48 49 \r\n");
}

TEST_F(StreamLoggerTest, BlocksContinueTheLineAcrossEntries) {
  logger_.SetLogFlags({lfInsertChannel});
  logger_.SetMaxLineLength(8);  // "01) " and four characters
  EXPECT_EQ(LogBytes(1, "ab"), "01) ab");
  EXPECT_EQ(LogBytes(1, "cde"), "cd\r\n01) e");
}

TEST_F(StreamLoggerTest, DivideHandlerBreaksTheLineWhereItSays) {
  logger_.SetLogFlags({lfInsertChannel, lfDivideStream});
  std::vector<int> asked;
  logger_.OnDivideStream = [&](TLogger&, std::string_view, uint8_t, std::string& text, int& i, bool& divide) {
    asked.push_back(i);
    divide = text[static_cast<size_t>(i - 1)] == '(';
  };
  EXPECT_EQ(LogBytes(2, "ab(cd"), "02) ab\r\n02) (cd");
  EXPECT_THAT(asked, ElementsAre(1, 2, 3, 4, 5));
}

TEST_F(StreamLoggerTest, DivideHandlerMayRewriteTheBlockOrEndIt) {
  logger_.SetLogFlags({lfDivideStream});
  logger_.OnDivideStream = [](TLogger&, std::string_view, uint8_t, std::string& text, int& i, bool&) {
    if (text[static_cast<size_t>(i - 1)] == '#') text.replace(static_cast<size_t>(i - 1), 1, "<hash>");
    if (text[static_cast<size_t>(i - 1)] == '!') i = 1000;  // past the end: formatting stops
  };
  EXPECT_EQ(LogBytes(1, "a#b!c"), "a<hash>b");
}

TEST_F(StreamLoggerTest, FailingStreamIsReportedForEveryEntry) {
  // A stream buffer that refuses every byte.
  struct RefusingBuffer : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } refusing;
  std::ostream refused(&refusing);
  logger_.SetStream(&refused);
  std::vector<std::string> errors;
  logger_.OnException = [&](TLogger&, const std::exception& e, std::string_view, uint8_t, std::string_view data) {
    errors.push_back(std::string(e.what()) + ":" + std::string(data));
  };
  logger_.Log("COM1", 1, "x");
  logger_.Log("COM1", 1, "y");
  EXPECT_THAT(errors, ElementsAre("Cannot write to the log:x", "Cannot write to the log:y"));
}

TEST_F(StreamLoggerTest, OpeningAppendsAfterWhatTheStreamHolds) {
  std::ostringstream out("existing");
  TStreamLogger logger(clock_, TFormatSettings());
  logger.SetLogFlags({});
  logger.SetStream(&out);
  logger.Open();
  logger.Log("", 1, "+new");
  EXPECT_EQ(out.str(), "existing+new");
}

}  // namespace
}  // namespace keep::server
