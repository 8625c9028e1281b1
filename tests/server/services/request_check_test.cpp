#include "server/services/request_check.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/records/command_codes.h"
#include "tests/server/server_test_env.h"

namespace keep::test {
namespace {

using server::CheckRequest;
using server::CheckResult;
using server::Special;

constexpr char kLanguage[] =
    "[LOGS]\nAutonomyTestImpossible=Autonomy test not possible\n"
    "SchedulerNewFile=New scheduler from $\nSchedulerDeleteFile=Scheduler deleted by $\n";

class RequestCheckTest : public ::testing::Test {
 protected:
  RequestCheckTest() : context_(env_.context()) {
    WriteFileText(env_.install() + "languages/test.lng", kLanguage);
    context_.Setup.InstallPath = env_.install();
    context_.Setup.LanguageFile = env_.install() + "languages/test.lng";
    context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 1;
    context_.Ups.Main.CalibrationState = "@";
    context_.Ups.Main.UpsStatus = "0";
  }

  // The request as the dispatcher hands it over: split at "|", without "<" and ">".
  CheckResult Check(const std::string& frame) {
    TStringList items;
    SplitText('|', frame, items, true);
    if (items.size() >= 2) items = TStringList(items.begin() + 1, items.end() - 1);
    return CheckRequest(items, context_);
  }
  bool Valid(const std::string& frame) { return Check(frame).valid; }

  ServerTestEnv env_;
  server::ServerContext& context_;
};

using RequestFieldChecks = RequestCheckTest;

TEST_F(RequestFieldChecks, RejectsFieldsOutsideTheirChecks) {
  EXPECT_FALSE(Valid("<|139|4|>"));
  EXPECT_FALSE(Valid("<|307|2024|13|1|0|0|0|0|>"));
  EXPECT_FALSE(Valid("<|307|2024|12|0|0|0|0|0|>"));
  EXPECT_FALSE(Valid("<|101|x|>"));
  EXPECT_FALSE(Valid("<|303|2|>"));
  EXPECT_FALSE(Valid("<|303|&|>")) << "B does not take &";
  EXPECT_FALSE(Valid("<|300|4|0|0|0|0|>"));
  EXPECT_FALSE(Valid("<|301|230|0|0|0|&|0|0|100|>")) << "dip speed has no &";
  EXPECT_FALSE(Valid("<|302|x|&|&|&|&|&|&|>"));
  EXPECT_FALSE(Valid("<|311|-1|0|0|1|0|0|0|0|>"));
  EXPECT_FALSE(Valid("<|312|0|1|1|1|101|>"));
  EXPECT_FALSE(Valid("<|401|2|>"));
  EXPECT_FALSE(Valid("<|150|>"));
}

TEST_F(RequestFieldChecks, IntegersAreWholeDecimalsWithinTheirWidth) {
  EXPECT_TRUE(Valid("<|150|-2147483648|>"));
  EXPECT_TRUE(Valid("<|150|2147483647|>"));
  EXPECT_FALSE(Valid("<|150|2147483648|>"));
  EXPECT_FALSE(Valid("<|150|+1|>"));
  EXPECT_FALSE(Valid("<|150|1.0|>"));
  EXPECT_FALSE(Valid("<|150|0x10|>"));
  EXPECT_FALSE(Valid("<|150||>"));
  EXPECT_TRUE(Valid("<|203|9223372036854775807|>"));
  EXPECT_FALSE(Valid("<|203|9223372036854775808|>"));
}

TEST_F(RequestFieldChecks, AcceptsWellFormedSettings) {
  EXPECT_TRUE(Valid("<|300|&|&|0|1|&|>"));
  EXPECT_TRUE(Valid("<|301|&|1|0|1|3|&|0|&|>"));
  EXPECT_TRUE(Valid("<|311|0|1|0|3|0|0|0|1|>"));
  EXPECT_TRUE(Valid("<|312|2147483647|1|1|1|100|>"));
  const CheckResult clock = Check("<|307|2024|12|31|23|59|59|6|>");
  EXPECT_TRUE(clock.valid);
  EXPECT_FALSE(clock.answer_now) << "queued";
  EXPECT_FALSE(clock.already_answered);
}

TEST_F(RequestFieldChecks, CalendarTakesAnyNumberOfSevenItemSteps) {
  EXPECT_TRUE(Valid("<|308|1|>"));
  EXPECT_TRUE(Valid("<|308|0|1,*,*,6,10,0,1|2,12,31,*,23,59,4|>"));
  EXPECT_FALSE(Valid("<|308|>"));
  EXPECT_FALSE(Valid("<|308|1|1,*,*,7,10,0,1|>")) << "day of week 7";
  EXPECT_FALSE(Valid("<|308|1|1,*,*,6,10,0,5|>"));
  EXPECT_FALSE(Valid("<|308|1|1,*,*,6,24,0,1|>"));
  EXPECT_FALSE(Valid("<|308|1|*,*,*,6,10,0,1|>")) << "the index is never *";
  EXPECT_FALSE(Valid("<|308|1|1,*,*,6,10,0|>"));
  EXPECT_FALSE(Valid("<|308|1|1,*,*,6,10,0,1,|>"));
  EXPECT_FALSE(Valid("<|308|1|1,*,*,6,10,0,1|1,*,*,6,10,0|>")) << "every step is checked";
}

TEST_F(RequestFieldChecks, EveryTableCodeHasItsFieldCount) {
  const std::vector<std::string> minimal = {"100",
                                            "101",
                                            "102",
                                            "103",
                                            "104",
                                            "105",
                                            "106",
                                            "107",
                                            "108",
                                            "109",
                                            "110",
                                            "111",
                                            "112",
                                            "113",
                                            "130",
                                            "131",
                                            "132",
                                            "133",
                                            "134",
                                            "135",
                                            "136",
                                            "137",
                                            "138",
                                            "139|0",
                                            "140",
                                            "150|1",
                                            "151|1",
                                            "152|1",
                                            "153|1",
                                            "154|1",
                                            "155|1",
                                            "200",
                                            "201",
                                            "202",
                                            "203|0",
                                            "300|1|0|0|0|0",
                                            "301|1|0|0|0|1|0|0|1",
                                            "302|1|1|0|0|1|1|0",
                                            "303|1",
                                            "304",
                                            "305",
                                            "306|&",
                                            "307|1|1|1|0|0|0|0",
                                            "308|0",
                                            "309",
                                            "310|0|0|0",
                                            "311|0|0|0|1|0|0|0|0",
                                            "312|0|0|0|0|0",
                                            "313|3",
                                            "314|0|0|0|0",
                                            "315|1|1|1",
                                            "400",
                                            "401|0",
                                            "402"};
  for (const std::string& request : minimal) {
    EXPECT_TRUE(Valid("<|" + request + "|>")) << request;
    EXPECT_TRUE(server::IsClientRequestCode(std::stoi(request))) << request;
    if (request.rfind("308", 0) != 0) {
      EXPECT_FALSE(Valid("<|" + request + "|0|>")) << request << " plus one";
    }
  }
}

TEST_F(RequestFieldChecks, ServerOnlyAndUnknownCodesAreInvalid) {
  for (const char* frame : {"<|001|>", "<|002|120|60|>", "<|004|0|>", "<|500|>", "<|501|>", "<|502|>", "<|999|>",
                            "<|abc|>", "<|114|>", "<|-101|>"}) {
    EXPECT_FALSE(Valid(frame)) << frame;
  }
  EXPECT_FALSE(CheckRequest({}, context_).valid);
  EXPECT_TRUE(Valid("<|0101|>")) << "the code is read as a number";
}

using RequestHandling = RequestCheckTest;

TEST_F(RequestHandling, StatusAndIdentificationAreAnsweredNowAndReadingsQueued) {
  for (const char* frame : {"<|100|>", "<|101|>", "<|131|>"}) {
    const CheckResult result = Check(frame);
    EXPECT_TRUE(result.valid && result.answer_now && !result.already_answered) << frame;
  }
  for (const char* frame : {"<|102|>", "<|130|>", "<|136|>", "<|139|2|>", "<|304|>", "<|400|>", "<|303|1|>"}) {
    const CheckResult result = Check(frame);
    EXPECT_TRUE(result.valid && !result.answer_now && !result.already_answered) << frame;
    EXPECT_EQ(Special::kNone, result.special) << frame;
  }
}

TEST_F(RequestHandling, UsbLinkOfProtocolThreeAnswersStarredCodesNow) {
  context_.Setup.ServerSetup.UpsManType = server::kLinkUsb;
  context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 3;
  for (const char* frame : {"<|102|>", "<|109|>", "<|113|>", "<|304|>", "<|305|>", "<|400|>"}) {
    EXPECT_TRUE(Check(frame).answer_now) << frame;
  }
  EXPECT_FALSE(Check("<|130|>").answer_now) << "plain queue codes stay queued";
  EXPECT_FALSE(Check("<|303|1|>").answer_now);

  context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 1;
  EXPECT_FALSE(Check("<|102|>").answer_now) << "another protocol over USB";
  context_.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = 3;
  context_.Setup.ServerSetup.UpsManType = server::kLinkSerial;
  EXPECT_FALSE(Check("<|102|>").answer_now) << "protocol 3 over the serial port";
}

TEST_F(RequestHandling, FileTransfersNameTheirFileAndAreAnsweredByTheCaller) {
  const std::pair<const char*, const char*> files[] = {
      {"<|200|>", "data/ups_log.txt"}, {"<|201|>", "data/ups_data.csv"}, {"<|202|>", "data/sch_data.dat"}};
  for (const auto& [frame, file] : files) {
    const CheckResult result = Check(frame);
    EXPECT_TRUE(result.valid && result.already_answered) << frame;
    EXPECT_EQ(Special::kFileTransfer, result.special);
    EXPECT_EQ(file, result.file_name);
  }
}

TEST_F(RequestHandling, ScheduleUploadCarriesItsByteCountAndRefusesHugeOnes) {
  const CheckResult upload = Check("<|203|512|>");
  EXPECT_TRUE(upload.valid && upload.already_answered);
  EXPECT_EQ(Special::kScheduleUpload, upload.special);
  EXPECT_EQ(512, upload.byte_count);
  EXPECT_FALSE(upload.has_answer_parameter);
  EXPECT_FALSE(upload.close_connection);

  EXPECT_TRUE(Check("<|203|0|>").valid) << "zero deletes the scheduler file";
  EXPECT_FALSE(Check("<|203|1048576|>").close_connection);

  const CheckResult huge = Check("<|203|1048577|>");
  EXPECT_TRUE(huge.valid);
  EXPECT_TRUE(huge.close_connection);
  EXPECT_EQ("0", huge.answer_parameter);

  const CheckResult negative = Check("<|203|-1|>");
  EXPECT_FALSE(negative.valid);
  EXPECT_EQ(Special::kNone, negative.special);
}

TEST_F(RequestHandling, ScheduleUploadLogTextNamesTheClient) {
  context_.SchedulerPrefix = "SCHED - ";
  EXPECT_EQ("SCHED - New scheduler from 10.0.0.7", server::ScheduleUploadLogText(context_, true, "10.0.0.7"));
  EXPECT_EQ("SCHED - Scheduler deleted by 10.0.0.7", server::ScheduleUploadLogText(context_, false, "10.0.0.7"));
}

TEST_F(RequestHandling, ModularBatteryTestIsAnsweredNowOnlyWhileOneRuns) {
  context_.Ups.Test.BatteryTestState = "1";
  CheckResult result = Check("<|402|>");
  EXPECT_TRUE(result.valid && result.answer_now);
  EXPECT_EQ(Special::kModularBatteryTest, result.special);
  context_.Ups.Test.BatteryTestState = "0";
  result = Check("<|402|>");
  EXPECT_TRUE(result.valid && !result.answer_now && !result.already_answered);
}

using ShutdownRequest = RequestCheckTest;

TEST_F(ShutdownRequest, AllowedOnlyWhenEnabledFromMonitorsAndNeitherCalibrationNorShutdownRuns) {
  context_.Setup.ServerSetup.SrvDownEnabled = true;
  context_.Setup.ServerSetup.SrvDownFromMonitor = true;
  CheckResult result = Check("<|309|>");
  EXPECT_TRUE(result.valid && result.already_answered);
  EXPECT_EQ(Special::kShutdown, result.special);
  EXPECT_EQ("1", result.answer_parameter);
  EXPECT_FALSE(context_.Server.ShutdownNowNoRestart) << "the caller starts the shutdown after answering";

  context_.Ups.Main.CalibrationState = "1";
  EXPECT_EQ("0", Check("<|309|>").answer_parameter);
  context_.Ups.Main.CalibrationState = "0";
  context_.Server.ShutdownActive = true;
  EXPECT_EQ("0", Check("<|309|>").answer_parameter) << "one shutdown at a time";
  context_.Server.ShutdownActive = false;
  context_.Setup.ServerSetup.SrvDownFromMonitor = false;
  EXPECT_EQ("0", Check("<|309|>").answer_parameter);
  context_.Setup.ServerSetup.SrvDownFromMonitor = true;
  context_.Setup.ServerSetup.SrvDownEnabled = false;
  result = Check("<|309|>");
  EXPECT_TRUE(result.valid && result.has_answer_parameter);
  EXPECT_EQ("0", result.answer_parameter);
}

using AutonomyTestRequest = RequestCheckTest;

TEST_F(AutonomyTestRequest, WithoutCalibrationTheFieldIsEchoed) {
  context_.Ups.Main.CalibrationState = "&";
  context_.Ups.Test.AutonomyTestState = "1";
  for (const char* field : {"0", "1"}) {
    const CheckResult result = Check(std::string("<|401|") + field + "|>");
    EXPECT_TRUE(result.valid && result.already_answered);
    EXPECT_EQ(Special::kCalibration, result.special);
    EXPECT_EQ(field, result.answer_parameter);
    EXPECT_EQ("0", context_.Ups.Test.AutonomyTestState);
  }
}

TEST_F(AutonomyTestRequest, StartWhileRunningReportsStateTwo) {
  context_.Ups.Main.CalibrationState = "1";
  const CheckResult result = Check("<|401|1|>");
  EXPECT_TRUE(result.already_answered);
  EXPECT_EQ("1", result.answer_parameter);
  EXPECT_EQ("2", context_.Ups.Test.AutonomyTestState);
  EXPECT_TRUE(result.log_text.empty());
}

TEST_F(AutonomyTestRequest, StartOnMainsWithAFullBatteryIsQueued) {
  context_.Setup.UpsSetup.UpsBatteryCapacity = 90.0f;
  const CheckResult result = Check("<|401|1|>");
  EXPECT_TRUE(result.valid && !result.already_answered && !result.answer_now);
  EXPECT_EQ(Special::kCalibration, result.special);
  EXPECT_EQ("1", context_.Ups.Test.AutonomyTestState);
}

TEST_F(AutonomyTestRequest, StartOnBatteryOrLowChargeIsImpossibleAndLogged) {
  context_.Ups.Main.UpsStatus = "1";
  CheckResult result = Check("<|401|1|>");
  EXPECT_TRUE(result.valid && result.already_answered);
  EXPECT_EQ("1", result.answer_parameter);
  EXPECT_EQ("0", context_.Ups.Test.AutonomyTestState);
  EXPECT_EQ("Autonomy test not possible", result.log_text);

  context_.Ups.Main.UpsStatus = "0";
  context_.Setup.UpsSetup.UpsBatteryCapacity = 89.9f;
  context_.Ups.Test.AutonomyTestState = "1";
  result = Check("<|401|1|>");
  EXPECT_TRUE(result.already_answered);
  EXPECT_EQ("0", context_.Ups.Test.AutonomyTestState);
  EXPECT_FALSE(result.log_text.empty());
}

TEST_F(AutonomyTestRequest, StopIsQueuedOnlyWhileATestRunsOrMustBeRepeated) {
  for (const char* state : {"1", "@"}) {
    context_.Ups.Main.CalibrationState = state;
    context_.Ups.Test.AutonomyTestState = "1";
    const CheckResult result = Check("<|401|0|>");
    EXPECT_TRUE(result.valid && !result.already_answered) << state;
    EXPECT_EQ("1", context_.Ups.Test.AutonomyTestState) << "left for the completion";
  }
  context_.Ups.Main.CalibrationState = "0";
  context_.Ups.Test.AutonomyTestState = "1";
  const CheckResult result = Check("<|401|0|>");
  EXPECT_TRUE(result.already_answered);
  EXPECT_EQ("0", result.answer_parameter);
  EXPECT_EQ("0", context_.Ups.Test.AutonomyTestState);
}

TEST_F(AutonomyTestRequest, AnInvalidFieldChangesNothing) {
  context_.Ups.Main.CalibrationState = "&";
  context_.Ups.Test.AutonomyTestState = "1";
  EXPECT_FALSE(Valid("<|401|x|>"));
  EXPECT_EQ("1", context_.Ups.Test.AutonomyTestState);
}

}  // namespace
}  // namespace keep::test
