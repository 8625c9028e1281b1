#include "server/ups/quadrel_requests.h"

#include "server/ups/quadrel_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "server/ups/quadrel_driver.h"

namespace keep::server {
namespace {

class QuadrelRequestsTest : public ::testing::Test {
 protected:
  QuadrelRequestsTest() {
    ups_.Output.OutputConfig = "1";
    ups_.Input.InputConfig = "1";
  }

  // The queue BuildCommand leaves for `args`, the manager having emptied it first.
  TStringList Queue(const TStringList& args) {
    command_ = TUpsManCommandRecord{};
    command_.Code = std::stoi(args.at(0));
    command_.Args = args;
    DriverContext context{command_, reply_timeout_, ups_, setup_, server_};
    QuadrelServices services;
    services.queue_internal_request = [this](int code, const TStringList& fields) {
      internal_.emplace_back(code, fields);
    };
    QuadrelDriver driver(std::move(services));
    const bool queued = driver.BuildCommand(context);
    EXPECT_EQ(queued, !command_.Exchange.Queue.empty());
    return command_.Exchange.Queue;
  }

  TUpsManCommandRecord command_;
  uint16_t reply_timeout_ = 10000;
  TUpsData ups_;
  TSetupData setup_;
  TServerData server_;
  std::vector<std::pair<int, TStringList>> internal_;
};

struct RequestCase {
  TStringList args;
  TStringList queue;
};

TEST_F(QuadrelRequestsTest, QueuesTheExchangesOfEachRequestInOrder) {
  const RequestCase cases[] = {
      {{"2", "120", "@"}, {"64,1,120", "64,3,-1"}},
      {{"2", "@", "300"}, {"64,1,-1", "64,3,300"}},
      {{"100"}, {"1"}},
      {{"110"}, {"68,2"}},
      {{"111"}, {"65,0,0,0,0,0,0,0,0"}},
      {{"131"}, {"32", "67,35", "67,37", "35", "33,0", "33,1", "33,2"}},
      {{"132"}, {"33,0", "33,1", "33,2", "67,44", "67,25", "67,13", "162,2", "67,9", "67,67"}},
      {{"133"}, {"34,0", "34,1", "34,2", "67,4", "67,5", "67,3", "67,10"}},
      {{"134"}, {"67,35", "67,37", "67,14", "67,34", "67,2", "67,22", "32", "35"}},
      {{"135"}, {"67,57", "67,58", "67,59", "67,60", "67,61", "67,62", "67,63", "67,64", "67,65"}},
      {{"136"}, {"97,0"}},
      {{"137"}, {"96"}},
      {{"138"}, {"1", "164", "67,12"}},
      {{"139", "2"}, {"98,2,4"}},
      {{"139", "7"}, {"98,0,4"}},
      {{"140"}, {"100,0"}},
      {{"150", "3"}, {"8,3"}},
      {{"151", "3"}, {"40,3"}},
      {{"152", "3"}, {"42,3"}},
      {{"153", "3"}, {"41,3"}},
      {{"154", "3"}, {"45,3"}},
      {{"155", "9"}, {"40,9", "43,9", "44,9"}},
      {{"303", "0"}, {"68,1"}},
      {{"303", "1"}, {"68,0"}},
      {{"307", "2024", "12", "31", "23", "59", "58", "6"}, {"65,1,36,18,49,35,89,88,6"}},
      {{"310", "0", "0", "1"}, {"66,4,1", "66,5,0", "66,10,1"}},
      {{"310", "1", "1", "0"}, {"66,4,0", "66,5,1", "66,10,0"}},
      {{"311", "230", "1", "0", "2", "0", "1", "1", "0"},
       {"66,45,230", "66,3,1", "66,44,1", "66,25,2", "66,13,0", "162,1", "66,9,1", "66,67,0"}},
      {{"312", "5", "0", "1", "0", "20"}, {"66,29,5", "66,2,1", "66,22,1", "66,14,0", "66,34,20"}},
      {{"313", "0"}, {"99,0"}},
      {{"313", "2"}, {"99,2"}},
      {{"313", "x"}, {"99,3"}},
      {{"314", "1", "0", "1", "1"}, {"66,12,13"}},
      {{"315", "1", "0", "1"}, {"163,0,1", "163,1,0", "163,2,1"}},
      {{"402"}, {"165,1"}},
      {{"101"}, {}},
      {{"150", "x"}, {}},
  };
  for (const RequestCase& c : cases) {
    EXPECT_EQ(Queue(c.args), c.queue) << "request " << JoinText(c.args, '|');
  }
}

TEST_F(QuadrelRequestsTest, AsksForTheOtherPhasesOnlyWhereTheyExist) {
  ups_.Output.OutputConfig = "0";
  ups_.Input.InputConfig = "0";
  EXPECT_EQ(Queue({"132"}).front(), "33,0");
  EXPECT_EQ(Queue({"132"}).at(1), "67,44");
  EXPECT_EQ(Queue({"133"}), (TStringList{"34,0", "67,4", "67,5", "67,3", "67,10"}));
  // A three single-phase output still has three phases; its input has one.
  ups_.Output.OutputConfig = "2";
  ups_.Input.InputConfig = "2";
  EXPECT_EQ(Queue({"131"}).size(), 7u);
  EXPECT_EQ(Queue({"133"}).size(), 5u);
}

TEST_F(QuadrelRequestsTest, DataSampleFollowsTheDataFileColumns) {
  EXPECT_EQ(Queue({"1"}), (TStringList{"35", "33,0", "33,1", "33,2"}));
  ASSERT_EQ(internal_.size(), 1u);
  EXPECT_EQ(internal_[0].first, 133);

  internal_.clear();
  TRecordingSetup& recording = setup_.RecordingSetup;
  for (TPhaseColumnFlags& phase : recording.PhaseColumns) phase = TPhaseColumnFlags{false, false, false};
  recording.BatteryVoltageColumn = false;
  EXPECT_EQ(Queue({"1"}), TStringList{});
  EXPECT_TRUE(internal_.empty());

  recording.PhaseColumns[kPhaseT].OutputPower = true;
  recording.PhaseColumns[kPhaseS].InputVoltage = true;
  EXPECT_EQ(Queue({"1"}), (TStringList{"33,0", "33,1", "33,2"}));
  EXPECT_EQ(internal_.size(), 1u);
}

TEST_F(QuadrelRequestsTest, ResetsTheListsThatAreReadAfresh) {
  ups_.Info.ModuleIds = {"1", "2"};
  const TStringList modules = Queue({"130"});
  ASSERT_EQ(modules.size(), 12u);
  EXPECT_EQ(modules.front(), "8,0");
  EXPECT_EQ(modules.back(), "8,11");
  EXPECT_TRUE(ups_.Info.ModuleIds.empty());

  const TQuadrelAlarmsEventsTableData full{"&", {{"1", "Overload"}}};
  ups_.AlarmTexts = full;
  ups_.ModuleAlarms = full;
  ups_.EventTexts = full;
  ups_.EventLog.Items = {{"01/01/2000", "00:00:00", "3"}};
  Queue({"136"});
  EXPECT_EQ(ups_.AlarmTexts.Count, "0");
  EXPECT_TRUE(ups_.AlarmTexts.Items.empty());
  Queue({"137"});
  EXPECT_EQ(ups_.ModuleAlarms.Count, "0");
  EXPECT_TRUE(ups_.ModuleAlarms.Items.empty());
  Queue({"140"});
  EXPECT_EQ(ups_.EventTexts.Count, "0");
  EXPECT_TRUE(ups_.EventTexts.Items.empty());
  Queue({"139", "0"});
  EXPECT_TRUE(ups_.EventLog.Items.empty());
}

TEST_F(QuadrelRequestsTest, LeavesOutWritesWhoseValueIsMissing) {
  EXPECT_EQ(Queue({"312", "x", "0"}), (TStringList{"66,2,1"}));
  EXPECT_EQ(Queue({"307", "2024", "12"}), TStringList{});
}

TEST(QuadrelBcdTest, WritesTwoDecimalDigits) {
  EXPECT_EQ(QuadrelBcd(59), 0x59);
  EXPECT_EQ(QuadrelBcd(2024), 0x24);
  EXPECT_EQ(QuadrelBcd(7), 0x07);
}

}  // namespace
}  // namespace keep::server
