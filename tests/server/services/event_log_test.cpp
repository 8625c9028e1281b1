#include "server/services/event_log.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/fake_registry.h"

namespace keep::test {
namespace {

using Severity = platform::SystemLog::Severity;

struct LogEntry {
  std::string source;
  Severity severity;
  std::string text;
};

// A system log that appends to a list the test owns, so entries stay readable after the writer
// dropped its log.
class RecordingSystemLog final : public platform::SystemLog {
 public:
  RecordingSystemLog(std::string source, std::vector<LogEntry>& entries)
      : source_(std::move(source)), entries_(entries) {}
  void Write(Severity severity, std::string_view text) override {
    entries_.push_back({source_, severity, std::string(text)});
  }

 private:
  std::string source_;
  std::vector<LogEntry>& entries_;
};

constexpr char kPowerkeepKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Powerkeep";
constexpr char kExecutable[] = "/opt/voltrena/bin/keepd";

class EventLogWriter : public ::testing::Test {
 protected:
  EventLogWriter()
      : writer_(registry_, [this](const std::string& source) -> std::unique_ptr<platform::SystemLog> {
          opened_.push_back(source);
          if (refuse_open_) return nullptr;
          return std::make_unique<RecordingSystemLog>(source, entries_);
        }) {
    writer_.SetAppName("Powerkeep");
  }

  void Register() {
    std::string error;
    ASSERT_TRUE(writer_.Register(kExecutable, &error)) << error;
  }

  FakeRegistry registry_;
  std::vector<std::string> opened_;
  std::vector<LogEntry> entries_;
  bool refuse_open_ = false;
  server::TNTEventLog writer_;
};

TEST_F(EventLogWriter, RegisterCreatesTheSourceKeyAndOpensTheLogUnderTheName) {
  Register();
  EXPECT_TRUE(writer_.Registered());
  EXPECT_EQ(kExecutable, registry_.StoredString(kPowerkeepKey, "EventMessageFile").value_or("missing"));
  EXPECT_EQ(7u, registry_.StoredDword(kPowerkeepKey, "TypesSupported").value_or(0));
  EXPECT_EQ(std::vector<std::string>{"Powerkeep"}, opened_);
}

TEST_F(EventLogWriter, RegisterLeavesAnExistingKeyAsItIs) {
  registry_.SetString(kPowerkeepKey, "EventMessageFile", "C:\\old\\keepd.exe");
  registry_.SetDword(kPowerkeepKey, "TypesSupported", 3);
  Register();
  EXPECT_TRUE(registry_.writes().empty());
  EXPECT_EQ("C:\\old\\keepd.exe", registry_.StoredString(kPowerkeepKey, "EventMessageFile").value_or(""));
  EXPECT_EQ(3u, registry_.StoredDword(kPowerkeepKey, "TypesSupported").value_or(0));
}

TEST_F(EventLogWriter, AnUnwritableHiveCannotRegisterTheApplication) {
  registry_.FailWrites(true);
  std::string error;
  EXPECT_FALSE(writer_.Register(kExecutable, &error));
  EXPECT_EQ("Unable to register application.", error);
  EXPECT_FALSE(writer_.Registered());
  EXPECT_TRUE(opened_.empty());
  writer_.LogError(3, "lost");
  EXPECT_TRUE(entries_.empty());
}

TEST_F(EventLogWriter, ARefusedLogCannotRegisterTheEventSource) {
  refuse_open_ = true;
  std::string error;
  EXPECT_FALSE(writer_.Register(kExecutable, &error));
  EXPECT_EQ("Unable to register event source.", error);
  EXPECT_FALSE(writer_.Registered());
  // The key was still made, so a later attempt only needs the log.
  EXPECT_TRUE(registry_.KeyExists(kPowerkeepKey));
  writer_.LogInformation(0, "lost");
  EXPECT_TRUE(entries_.empty());
}

TEST_F(EventLogWriter, UnregisteredWriterWritesNothing) {
  writer_.LogInformation(0, "a");
  writer_.LogWarning(6, "b");
  writer_.LogError(10, "c");
  EXPECT_TRUE(entries_.empty());
  EXPECT_FALSE(writer_.Registered());
}

TEST_F(EventLogWriter, SeveritiesMapAndTheTextIsTheWholeMessage) {
  Register();
  writer_.LogInformation(7, "Mains restored");
  writer_.LogWarning(6, "Mains failure 100%");
  writer_.LogError(10, "Shutdown\r\nnow");
  ASSERT_EQ(3u, entries_.size());
  EXPECT_EQ(Severity::kInformation, entries_[0].severity);
  EXPECT_EQ("Mains restored", entries_[0].text);
  EXPECT_EQ(Severity::kWarning, entries_[1].severity);
  EXPECT_EQ("Mains failure 100%", entries_[1].text);
  EXPECT_EQ(Severity::kError, entries_[2].severity);
  EXPECT_EQ("Shutdown\r\nnow", entries_[2].text);
  EXPECT_EQ("Powerkeep", entries_[2].source);
}

TEST_F(EventLogWriter, OnlyIndexesOfTheIdTableWrite) {
  Register();
  writer_.LogInformation(100, "last");
  writer_.LogInformation(101, "past the table");
  writer_.LogWarning(-1, "negative");
  writer_.LogError(1000000, "far past");
  ASSERT_EQ(1u, entries_.size());
  EXPECT_EQ("last", entries_[0].text);
}

TEST_F(EventLogWriter, MessageIdsRunFromTheFirstIdOverTheTable) {
  EXPECT_EQ(131172u, writer_.MessageId(0));
  EXPECT_EQ(131178u, writer_.MessageId(6));
  EXPECT_EQ(131272u, writer_.MessageId(100));
  EXPECT_EQ(0u, writer_.MessageId(101));
  EXPECT_EQ(0u, writer_.MessageId(-1));
}

TEST_F(EventLogWriter, EmptyNameRestoresTheDefaultSource) {
  writer_.SetAppName("");
  EXPECT_EQ(server::kEventLogDefaultAppName, writer_.AppName());
  Register();
  EXPECT_TRUE(registry_.KeyExists(std::string(server::kEventLogSourcesKey) + server::kEventLogDefaultAppName));
  EXPECT_FALSE(registry_.KeyExists(kPowerkeepKey));
  EXPECT_EQ(std::vector<std::string>{server::kEventLogDefaultAppName}, opened_);
}

TEST_F(EventLogWriter, RegisteringAgainKeepsOneLog) {
  Register();
  Register();
  EXPECT_EQ(2u, opened_.size());
  writer_.LogInformation(1, "once");
  EXPECT_EQ(1u, entries_.size());
}

}  // namespace
}  // namespace keep::test
