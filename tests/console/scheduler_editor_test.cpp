// Scheduler items as the console shows them, the dates and times typed for them, and the editor
// against a scripted server: download, insert, delete and the save with its re-download.
#include "console/scheduler_editor.h"

#include "common/scrambling.h"
#include "console/actions.h"
#include "tests/console/actions_fixture.h"

namespace keep::console {
namespace {

using Strings = std::vector<std::string>;

TEST(ItemTextTest, WeeklyShutdownWithRestart) {
  EXPECT_EQ("0 - Shutdown every Monday at 22:00:00 (restart every Tuesday at 08:00:00)",
            ItemText("SR|W|1|79200|2|28800", 0));
}

TEST(ItemTextTest, DailyTestsHaveNoRestartText) {
  EXPECT_EQ("1 - Battery Test every day at 01:00:00", ItemText("BT|D|0|3600|-1|-1", 1));
  EXPECT_EQ("4 - Autonomy Test every day at 23:59:59", ItemText("AT|D|0|86399|-1|-1", 4));
}

TEST(ItemTextTest, ShutdownsSayWhetherTheyRestart) {
  // Day 46023 is 1 January 2026.
  EXPECT_EQ("2 - Shutdown on 01/01/2026 at 00:00:10 (restart on 02/01/2026 at 06:30:00)",
            ItemText("SR|O|46023|10|46024|23400", 2));
  EXPECT_EQ("3 - Shutdown on 01/01/2026 at 00:00:10 (no restart)", ItemText("SR|O|46023|10|-1|-1", 3));
  EXPECT_EQ("5 - Shutdown every day at 12:00:00 (restart every day at 13:00:00)", ItemText("SR|D|0|43200|0|46800", 5));
  EXPECT_EQ("6 - Shutdown every Sunday at 12:00:00 (no restart)", ItemText("SR|W|0|43200|-1|28800", 6));
}

TEST(ItemTextTest, MalformedItemsAreBad) {
  EXPECT_EQ("7 - Bad item !", ItemText("SR|W|1|22:00|2|28800", 7));
  EXPECT_EQ("0 - Bad item !", ItemText("XX|W|1|79200|-1|-1", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("SR|M|1|79200|-1|-1", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("SR|W|-1|79200|-1|-1", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("SR|W|1|79200|-2|-1", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("SR|W|1|79200", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("", 0));
}

TEST(ItemTextTest, TimesAndDatesNoClockCanShowAreBadItems) {
  EXPECT_EQ("0 - Bad item !", ItemText("BT|D|0|86400|-1|-1", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("SR|D|0|3600|0|90000", 0));
  EXPECT_EQ("0 - Bad item !", ItemText("SR|O|99999999999|3600|-1|-1", 0));
}

TEST(TypedDateTest, ReadsDayMonthYear) {
  EXPECT_EQ(46023, ParseDayText("01/01/2026"));
  EXPECT_EQ(46023, ParseDayText("1/1/26"));
  EXPECT_EQ(46387, ParseDayText(" 31/12/2026 "));
  EXPECT_FALSE(ParseDayText("31/02/2026"));
  EXPECT_FALSE(ParseDayText("2026-01-01"));
  EXPECT_FALSE(ParseDayText("1/1/2026/1"));
  EXPECT_FALSE(ParseDayText("1/1/202"));
  EXPECT_FALSE(ParseDayText("a/1/2026"));
}

TEST(TypedTimeTest, ReadsHoursMinutesAndOptionalSeconds) {
  EXPECT_EQ(79200, ParseTimeText("22:00:00"));
  EXPECT_EQ(3661, ParseTimeText("1:01:01"));
  EXPECT_EQ(28800, ParseTimeText("08:00"));
  EXPECT_FALSE(ParseTimeText("24:00:00"));
  EXPECT_FALSE(ParseTimeText("12:60:00"));
  EXPECT_FALSE(ParseTimeText("12"));
  EXPECT_FALSE(ParseTimeText("12:00:00:00"));
  EXPECT_FALSE(ParseTimeText("-1:00:00"));
}

class SchedulerEditorTest : public test::ActionsFixture {
 protected:
  void SetUp() override {
    ActionsFixture::SetUp();
    On(202, [this](const std::string&) { return Download(); });
    On(203, [this](const std::string&) { return Strings{"<|203|" + upload_answer_ + "|>"}; });
  }

  // The server's file as the download frames carry it.
  Strings Download() const {
    Strings frames{"<|202|" + std::to_string(file_.size()) + "|>"};
    for (size_t i = 0; i < file_.size(); ++i) frames.push_back("<|202|" + std::to_string(i) + "|" + file_[i] + "|>");
    if (!file_.empty()) frames.push_back("<|202|@|>");
    return frames;
  }

  Strings Items() {
    return client_.State().Inspect([](const ConsoleData& data) { return data.scheduler_items; });
  }

  Strings file_{"SR|W|1|79200|2|28800", "BT|D|0|3600|-1|-1"};
  std::string upload_answer_ = "1";
};

TEST_F(SchedulerEditorTest, ViewShowsTheDownloadedItems) {
  Connect(1);
  Type({"1", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_EQ((Strings{"<|202|>"}), Sent());
  EXPECT_TRUE(out_.Shows("******** UPS SCHEDULER ********"));
  EXPECT_TRUE(
      out_.Shows("UPS SCHEDULER - CONFIGURED ITEMS LIST\n-------------------------------------\n"
                 "0 - Shutdown every Monday at 22:00:00 (restart every Tuesday at 08:00:00)\n"
                 "1 - Battery Test every day at 01:00:00\n"));
}

TEST_F(SchedulerEditorTest, AnEmptyFileShowsNoItems) {
  file_.clear();
  Connect(3);
  Type({"1", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_TRUE(out_.Shows(" No items configured.\n"));
}

TEST_F(SchedulerEditorTest, InsertAsksAgainAfterABadTimeAndAddsTheItemAtTheEnd) {
  Connect(1);
  // Shutdown, weekly, Monday, a bad time then 22:00:00, restart on Tuesday at 08:00:00.
  Type({"2", "0", "2", "1", "22h", "22:00:00", "y", "2", "08:00:00", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_TRUE(out_.Shows("Down day (0 = Sunday ... 6 = Saturday): "));
  EXPECT_TRUE(out_.Shows("Down time [hh:mm:ss]: "));
  EXPECT_TRUE(out_.Shows("Invalid time !"));
  EXPECT_TRUE(out_.Shows("\nRestart UPS [y/N] ? "));
  EXPECT_TRUE(out_.Shows("Restart time [hh:mm:ss]: "));
  EXPECT_EQ((Strings{"SR|W|1|79200|2|28800", "BT|D|0|3600|-1|-1", "SR|W|1|79200|2|28800"}), Items());
  EXPECT_TRUE(out_.Shows("2 - Shutdown every Monday at 22:00:00 (restart every Tuesday at 08:00:00)\n"));
  EXPECT_EQ((Strings{"<|202|>"}), Sent()) << "nothing is sent before the save";
}

TEST_F(SchedulerEditorTest, InsertOfAOnceTestReadsTheDate) {
  Connect(1);
  Type({"2", "1", "0", "30/02/2026", "01/01/2026", "00:00:10", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_TRUE(out_.Shows("Test date [dd/MM/yyyy]: "));
  EXPECT_TRUE(out_.Shows("Invalid date !"));
  EXPECT_FALSE(out_.Shows("Restart UPS")) << "tests do not restart";
  EXPECT_EQ("BT|O|46023|10|-1|-1", Items().back());
}

TEST_F(SchedulerEditorTest, AnEmptyAnswerLeavesTheInsertWithoutAnItem) {
  Connect(1);
  Type({"2", "0", "1", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_EQ(2u, Items().size());
}

TEST_F(SchedulerEditorTest, DeleteRemovesUntilTheListIsEmpty) {
  Connect(1);
  Type({"3", "2", "0", "0", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_TRUE(out_.Shows("Number invalid or out of range (0 - 1) !"));
  EXPECT_TRUE(Items().empty());
  EXPECT_TRUE(out_.Shows("\n\n No items configured.\n"));
}

TEST_F(SchedulerEditorTest, SaveUploadsTheItemsAndDownloadsThemAgain) {
  Connect(1);
  Type({"3", "1", "", "", "4", "", ""});
  // The server keeps what it was sent.
  On(203, [this](const std::string&) {
    file_ = {"SR|W|1|79200|2|28800"};
    return Strings{"<|203|1|>"};
  });
  RunSchedulerEditor(client_);
  EXPECT_EQ(ScrambleText("SR|W|1|79200|2|28800") + "\r\n", link_.Payload());
  const Strings sent = Sent();
  ASSERT_EQ(3u, sent.size());
  EXPECT_EQ("<|203|" + std::to_string(link_.Payload().size()) + "|>", sent[1]);
  EXPECT_EQ("<|202|>", sent[2]);
  EXPECT_TRUE(out_.Shows("\n Configuration properly saved\n\n"));
  EXPECT_FALSE(out_.Shows("Error while saving configuration !"));
}

TEST_F(SchedulerEditorTest, ARefusedUploadKeepsTheEditedItems) {
  Connect(1);
  upload_answer_ = "0";
  Type({"3", "0", "", "", "4", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_TRUE(out_.Shows("Error while saving configuration !"));
  EXPECT_FALSE(out_.Shows("Configuration properly saved"));
  EXPECT_EQ((Strings{"BT|D|0|3600|-1|-1"}), Items());
  EXPECT_EQ("<|202|>", Sent().front());
  EXPECT_EQ(2u, Sent().size()) << "no download after a refusal";
}

TEST_F(SchedulerEditorTest, SavingAnEmptyListAsksTheServerToDeleteItsFile) {
  Connect(1);
  Type({"3", "0", "0", "", "4", "", ""});
  RunSchedulerEditor(client_);
  EXPECT_EQ((Strings{"<|202|>", "<|203|0|>", "<|202|>"}), Sent());
  EXPECT_TRUE(out_.Shows("Configuration properly saved"));
}

TEST_F(SchedulerEditorTest, AnUnansweredDownloadLeavesTheEditor) {
  Connect(1);
  On(202, Strings{});
  Type({"1"});
  RunSchedulerEditor(client_);
  EXPECT_FALSE(out_.Shows("UPS SCHEDULER"));
  EXPECT_EQ(0, in_.LinesRead());
}

}  // namespace
}  // namespace keep::console
