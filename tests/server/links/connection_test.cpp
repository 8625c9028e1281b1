#include "server/links/connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/links/log_connection.h"
#include "server/links/logger.h"

namespace keep::server {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records every step of opening and closing, in order, and can be told to fail opening.
class RecordingConnection : public TConnection {
 public:
  explicit RecordingConnection(std::vector<std::string>& calls) : calls_(calls) {
    BeforeOpen = [this](TConnection&) { calls_.push_back("BeforeOpen"); };
    AfterOpen = [this](TConnection&) { calls_.push_back("AfterOpen"); };
    BeforeClose = [this](TConnection&) { calls_.push_back("BeforeClose"); };
    AfterClose = [this](TConnection&) { calls_.push_back("AfterClose"); };
  }
  ~RecordingConnection() override { Destroy(); }

  bool fail_open = false;
  using TConnection::CheckActive;
  using TConnection::CheckInactive;

 protected:
  void DoOpen() override {
    calls_.push_back("DoOpen");
    if (fail_open) throw EConnectError("port missing");
  }
  void DoClose() override { calls_.push_back("DoClose"); }

 private:
  std::vector<std::string>& calls_;
};

class ConnectionTest : public ::testing::Test {
 protected:
  std::vector<std::string> calls_;
  RecordingConnection connection_{calls_};
};

TEST_F(ConnectionTest, OpenAndCloseRunNotificationsAroundTheWork) {
  connection_.Open();
  EXPECT_TRUE(connection_.Active());
  connection_.Close();
  EXPECT_FALSE(connection_.Active());
  EXPECT_THAT(calls_, ElementsAre("BeforeOpen", "DoOpen", "AfterOpen", "BeforeClose", "DoClose", "AfterClose"));
}

TEST_F(ConnectionTest, SettingThePresentStateAgainDoesNothing) {
  connection_.Close();
  EXPECT_THAT(calls_, IsEmpty());
  connection_.SetActive(true);
  connection_.SetActive(true);
  EXPECT_EQ(std::count(calls_.begin(), calls_.end(), "DoOpen"), 1);
}

TEST_F(ConnectionTest, FailedOpenLeavesItInactiveAndReachesTheCaller) {
  connection_.fail_open = true;
  EXPECT_THROW(connection_.Open(), EConnectError);
  EXPECT_FALSE(connection_.Active());
  EXPECT_THAT(calls_, ElementsAre("BeforeOpen", "DoOpen"));
}

TEST_F(ConnectionTest, DestroyingAnOpenConnectionClosesItWithoutNotifications) {
  std::vector<std::string> calls;
  {
    RecordingConnection connection(calls);
    connection.Open();
    calls.clear();
  }
  EXPECT_THAT(calls, ElementsAre("DoClose"));
}

TEST_F(ConnectionTest, ActivationWhileLoadingWaitsForTheEndOfLoading) {
  connection_.BeginLoading();
  connection_.Open();
  EXPECT_FALSE(connection_.Active());
  EXPECT_THAT(calls_, IsEmpty());
  connection_.EndLoading();
  EXPECT_TRUE(connection_.Active());
  EXPECT_THAT(calls_, ElementsAre("BeforeOpen", "DoOpen", "AfterOpen"));
}

TEST_F(ConnectionTest, GuardsNameTheState) {
  try {
    connection_.CheckActive();
    ADD_FAILURE() << "CheckActive accepted an inactive connection";
  } catch (const EConnectError& e) {
    EXPECT_STREQ(e.what(), "Connection is inactive");
  }
  EXPECT_NO_THROW(connection_.CheckInactive());
  connection_.Open();
  EXPECT_NO_THROW(connection_.CheckActive());
  try {
    connection_.CheckInactive();
    ADD_FAILURE() << "CheckInactive accepted an active connection";
  } catch (const EConnectError& e) {
    EXPECT_STREQ(e.what(), "Connection is active");
  }
}

// A logger that writes "name|channel|data" entries into a list and counts its openings.
class ListLogger : public TLogger {
 public:
  ~ListLogger() override { Destroy(); }

  std::vector<std::string> entries;
  int opened = 0;
  int closed = 0;
  bool fail_write = false;

 protected:
  void DoOpen() override { ++opened; }
  void DoClose() override { ++closed; }
  void FormatLog(std::string_view Name, uint8_t Channel, std::string& Text, std::string_view Data) override {
    Text = std::string(Name) + "|" + std::to_string(Channel) + "|" + std::string(Data);
  }
  void WriteLogString(std::string_view Text) override {
    if (fail_write) throw std::runtime_error("disk full");
    entries.emplace_back(Text);
  }
};

struct ReportedError {
  std::string message;
  std::string name;
  int channel;
  std::string original;
};

class LoggerTest : public ::testing::Test {
 protected:
  LoggerTest() {
    logger_.OnException = [this](TLogger&, const std::exception& e, std::string_view name, uint8_t channel,
                                 std::string_view original) {
      errors_.push_back({e.what(), std::string(name), channel, std::string(original)});
    };
  }
  ListLogger logger_;
  std::vector<ReportedError> errors_;
};

TEST_F(LoggerTest, InactiveLoggerWithoutAutoOpenIgnoresEntries) {
  logger_.Log("COM1", 1, "Q1\r");
  EXPECT_THAT(logger_.entries, IsEmpty());
  EXPECT_EQ(logger_.opened, 0);
}

TEST_F(LoggerTest, AutoOpenOpensForOneEntryAndClosesAgain) {
  logger_.SetAutoOpen(true);
  logger_.Log("COM1", 1, "Q1\r");
  logger_.Log("COM1", 2, "(230.0\r");
  EXPECT_THAT(logger_.entries, ElementsAre("COM1|1|Q1\r", "COM1|2|(230.0\r"));
  EXPECT_EQ(logger_.opened, 2);
  EXPECT_EQ(logger_.closed, 2);
  EXPECT_FALSE(logger_.Active());
}

TEST_F(LoggerTest, ExplicitlyOpenedLoggerStaysOpen) {
  logger_.SetAutoOpen(true);
  logger_.Open();
  logger_.Log("COM1", 1, "a");
  logger_.Log("COM1", 1, "b");
  EXPECT_EQ(logger_.opened, 1);
  EXPECT_EQ(logger_.closed, 0);
  EXPECT_TRUE(logger_.Active());
}

TEST_F(LoggerTest, AcceptChannelFiltersEntries) {
  logger_.Open();
  std::vector<std::string> asked;
  logger_.AcceptChannel = [&](TLogger&, std::string_view name, uint8_t channel, bool& accept) {
    asked.push_back(std::string(name) + std::to_string(channel));
    accept = channel == 2;
  };
  logger_.Log("COM1", 1, "sent");
  logger_.Log("COM1", 2, "received");
  EXPECT_THAT(asked, ElementsAre("COM11", "COM12"));
  EXPECT_THAT(logger_.entries, ElementsAre("COM1|2|received"));
}

TEST_F(LoggerTest, WriteErrorGoesToOnExceptionAndTheLoggerIsClosedAgain) {
  logger_.SetAutoOpen(true);
  logger_.fail_write = true;
  EXPECT_NO_THROW(logger_.Log("COM1", 2, "(230.0\r"));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].message, "disk full");
  EXPECT_EQ(errors_[0].name, "COM1");
  EXPECT_EQ(errors_[0].channel, 2);
  EXPECT_EQ(errors_[0].original, "(230.0\r");
  EXPECT_FALSE(logger_.Active());
  EXPECT_EQ(logger_.closed, 1);
}

TEST_F(LoggerTest, ErrorsOfHandlersNeverReachTheCaller) {
  logger_.SetAutoOpen(true);
  logger_.AcceptChannel = [](TLogger&, std::string_view, uint8_t, bool&) { throw std::logic_error("filter broke"); };
  logger_.OnException = [](TLogger&, const std::exception&, std::string_view, uint8_t, std::string_view) {
    throw std::runtime_error("handler broke too");
  };
  EXPECT_NO_THROW(logger_.Log("COM1", 1, "x"));
  EXPECT_THAT(logger_.entries, IsEmpty());
}

// A link over an in-memory pair of buffers.
class MemoryLink : public TCommunicationConnection {
 public:
  MemoryLink(std::vector<std::string>& events) : events_(events) {}
  ~MemoryLink() override { Destroy(); }

  std::string written;
  std::string pending;
  int over_report = 0;  // added to what ReadData claims, to mimic a faulty link

  int InQueue() override { return Active() ? static_cast<int>(pending.size()) : -1; }
  void PurgeIn() override { pending.clear(); }
  void PurgeOut() override {}
  int WriteData(const char* Buffer, int Count) override {
    events_.push_back("write");
    written.append(Buffer, static_cast<size_t>(Count));
    return Count;
  }
  int ReadData(char* Buffer, int Count) override {
    const int n = std::min(Count, static_cast<int>(pending.size()));
    std::copy_n(pending.begin(), n, Buffer);
    pending.erase(0, static_cast<size_t>(n));
    return n + over_report;
  }

 protected:
  void DoOpen() override {}
  void DoClose() override {}

 private:
  std::vector<std::string>& events_;
};

// Notes in the shared event list when an entry is written, to show the order of logging and I/O.
class OrderedLogger : public ListLogger {
 public:
  explicit OrderedLogger(std::vector<std::string>& events) : events_(events) {}

 protected:
  void WriteLogString(std::string_view Text) override {
    events_.push_back("log");
    ListLogger::WriteLogString(Text);
  }

 private:
  std::vector<std::string>& events_;
};

class CommunicationConnectionTest : public ::testing::Test {
 protected:
  CommunicationConnectionTest() {
    logger_.SetAutoOpen(true);
    link_.Logger = &logger_;
    link_.LogName = "COM1";
    link_.Open();
  }
  std::vector<std::string> events_;
  OrderedLogger logger_{events_};
  MemoryLink link_{events_};
};

TEST_F(CommunicationConnectionTest, SendLogsOnChannelOneBeforeWriting) {
  EXPECT_EQ(link_.Send("Q1\r"), 3);
  EXPECT_EQ(link_.written, "Q1\r");
  EXPECT_THAT(events_, ElementsAre("log", "write"));
  EXPECT_THAT(logger_.entries, ElementsAre("COM1|1|Q1\r"));
}

TEST_F(CommunicationConnectionTest, ReceiveReturnsWhatWasThereAndLogsItOnChannelTwo) {
  link_.pending = "(230.0";
  EXPECT_EQ(link_.Receive(4), "(230");
  EXPECT_EQ(link_.Receive(100), ".0");
  EXPECT_EQ(link_.Receive(100), "");
  EXPECT_THAT(logger_.entries, ElementsAre("COM1|2|(230", "COM1|2|.0", "COM1|2|"));
}

TEST_F(CommunicationConnectionTest, ReceiveNeverTrustsACountAboveItsBuffer) {
  link_.pending = "ab";
  link_.over_report = 1000;
  EXPECT_EQ(link_.Receive(3), std::string("ab\0", 3));
  EXPECT_EQ(link_.Receive(-5), "");
}

TEST_F(CommunicationConnectionTest, FormatHandlerRewritesWhatIsLoggedOnly) {
  link_.OnFormatLog = [](TConnection&, uint8_t channel, std::string& text) {
    if (channel == kChannelSent) text = "<" + text + ">";
  };
  link_.Send("Q1");
  EXPECT_EQ(link_.written, "Q1");
  EXPECT_THAT(logger_.entries, ElementsAre("COM1|1|<Q1>"));
}

TEST_F(CommunicationConnectionTest, LoggingFailureDoesNotDisturbTheLink) {
  logger_.fail_write = true;
  EXPECT_EQ(link_.Send("Q1\r"), 3);
  EXPECT_EQ(link_.written, "Q1\r");
}

TEST_F(CommunicationConnectionTest, WorksWithoutALogger) {
  link_.Logger = nullptr;
  link_.pending = "x";
  EXPECT_EQ(link_.Send("Q1"), 2);
  EXPECT_EQ(link_.Receive(1), "x");
  EXPECT_THAT(logger_.entries, IsEmpty());
}

}  // namespace
}  // namespace keep::server
