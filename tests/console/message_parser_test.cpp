#include "console/message_parser.h"

#include <gtest/gtest.h>

namespace keep::console {
namespace {

class ParseMessageTest : public ::testing::Test {
 protected:
  ParseResult Parse(const std::string& text) { return ParseMessage(text, data_, style_); }

  ConsoleData data_;
  RenderStyle style_ = RenderStyle::ForTerminal(false);
};

TEST_F(ParseMessageTest, IgnoresMessagesWithoutFrameOrCode) {
  EXPECT_FALSE(Parse("").answer);
  EXPECT_FALSE(Parse("<|>").answer) << "fewer than three parts";
  EXPECT_FALSE(Parse("101").answer);
  const ParseResult no_code = Parse("<|abc|1|>");
  EXPECT_FALSE(no_code.answer);
  EXPECT_EQ(-1, no_code.code);
  EXPECT_FALSE(Parse("<|-101|1|>").answer) << "a negative code";
  EXPECT_FALSE(Parse("<|999|1|>").answer) << "a code nobody answers";
  EXPECT_FALSE(Parse("<|101|0|0|340|25|1200|1000|>").answer) << "one entry short";
}

TEST_F(ParseMessageTest, ServerMessagesAreBroadcastsAndNeverAnswers) {
  const ParseResult lost = Parse("<|500|>");
  EXPECT_FALSE(lost.answer);
  EXPECT_EQ("Communication lost with ups", lost.broadcast.value_or(""));
  EXPECT_EQ(std::optional<bool>(false), lost.ups_present);

  const ParseResult restored = Parse("<|501|>");
  EXPECT_FALSE(restored.answer);
  EXPECT_EQ("Communication restored with ups", restored.broadcast.value_or(""));
  EXPECT_EQ(std::optional<bool>(true), restored.ups_present);

  const ParseResult unknown = Parse("<|502|>");
  EXPECT_FALSE(unknown.answer);
  EXPECT_EQ("Unknown command", unknown.broadcast.value_or(""));
  EXPECT_FALSE(unknown.ups_present.has_value());

  EXPECT_FALSE(Parse("<|101|0|0|340|25|1200|1000|0|>").broadcast.has_value());
}

TEST_F(ParseMessageTest, IdentificationStoresTheUpsAndItsKind) {
  const ParseResult result = Parse("<|100|Keep LineGuard 1000|LineGuard|4|700|1000|2.1|SN42|LG1000|3|Lab|pw|>");
  ASSERT_TRUE(result.answer);
  EXPECT_EQ(100, result.code);
  const auto& info = data_.ups.info;
  EXPECT_EQ("Keep LineGuard 1000", info.model_name);
  EXPECT_EQ("LineGuard", info.family_name);
  EXPECT_EQ("4", info.installed_modules);
  EXPECT_EQ(4, info.installed_module_count);
  EXPECT_EQ(700, info.active_nominal_power);
  EXPECT_EQ("700 W", info.active_nominal_power_text);
  EXPECT_EQ("1000 VA", info.apparent_nominal_power);
  EXPECT_EQ("2.1", info.firmware_version);
  EXPECT_EQ("SN42", info.serial_number);
  EXPECT_EQ(3, info.ups_kind);
  EXPECT_EQ("Lab", info.location);
}

TEST_F(ParseMessageTest, IdentificationWithMarksAndWords) {
  ASSERT_TRUE(Parse("<|100|&|&|&|x|&|&|@|&|0|&|&|>").answer);
  const auto& info = data_.ups.info;
  EXPECT_EQ("&", info.model_name) << "kept as received: it tells that there is no UPS";
  EXPECT_EQ("Not available", info.installed_modules);
  EXPECT_EQ(0, info.installed_module_count);
  EXPECT_EQ(0, info.active_nominal_power) << "not a number";
  EXPECT_EQ("0 W", info.active_nominal_power_text) << "not a number, but reported";
  EXPECT_EQ("Not available", info.apparent_nominal_power);
  EXPECT_EQ("Overrange", info.serial_number);
}

TEST_F(ParseMessageTest, IdentificationWithoutANumericKindIsRefusedAndChangesNothing) {
  ASSERT_TRUE(Parse("<|100|First|F|1|700|1000|2.1|SN1|C|1|Lab|pw|>").answer);
  EXPECT_FALSE(Parse("<|100|Second|F|1|700|1000|2.1|SN1|C|x|Lab|pw|>").answer);
  EXPECT_FALSE(Parse("<|100|Second|F|1|700|1000|2.1|SN1|C|1|Lab|>").answer) << "eleven entries";
  EXPECT_EQ("First", data_.ups.info.model_name);
  EXPECT_EQ(1, data_.ups.info.ups_kind);
}

TEST_F(ParseMessageTest, StatusOfAStandardUps) {
  ASSERT_TRUE(Parse("<|101|1|2|955|31|3725|1000|@|>").answer);
  const auto& m = data_.ups.main;
  EXPECT_EQ("Battery", m.status);
  EXPECT_EQ("Overheat", m.anomaly);
  EXPECT_EQ("95.5 %", m.load[0]);
  EXPECT_EQ(
      "31 \xF8"
      "C",
      m.temperature);
  EXPECT_EQ("1 hour 2 minutes 5 seconds ", m.autonomy_time);
  EXPECT_EQ("100 %", m.battery_capacity);
  EXPECT_EQ("Never executed or must be repeated", m.calibration_test);

  ASSERT_TRUE(Parse("<|101|5|9|&|&|&|&|1|>").answer);
  EXPECT_EQ("Unknown", m.status) << "5 is known only to modular units";
  EXPECT_EQ("Unknown", m.anomaly);
  EXPECT_EQ("Unknown", m.autonomy_time) << "a mark in answer 101";
  EXPECT_EQ("Not available", m.load[0]);
  EXPECT_EQ("in progress", m.calibration_test);
}

TEST_F(ParseMessageTest, StatusOfAModularUpsHasThreeLoadsAndMarkedDurations) {
  ASSERT_TRUE(Parse("<|131|6|0|100|@|&|28|&|10|955|>").answer);
  const auto& m = data_.ups.main;
  EXPECT_EQ("A Test is Running", m.status);
  EXPECT_EQ("None", m.anomaly);
  EXPECT_EQ("10 %", m.load[0]);
  EXPECT_EQ("Overrange", m.load[1]);
  EXPECT_EQ("Not available", m.load[2]);
  EXPECT_EQ("Not available", m.autonomy_time);
  EXPECT_EQ("10 minutes 0 seconds ", m.autonomy_reserve_time);
  EXPECT_EQ("95.5 %", m.battery_capacity);
}

TEST_F(ParseMessageTest, OutputAndInputOfOnePhase) {
  ASSERT_TRUE(Parse("<|102|230|500|700|31|62|1|1|0|2|0|1|150|>").answer);
  const auto& o = data_.ups.output;
  EXPECT_EQ("230 V", o.voltage[0]);
  EXPECT_EQ("500 W", o.active_power[0]);
  EXPECT_EQ("700 VA", o.apparent_power[0]);
  EXPECT_EQ("3.1 A", o.current[0]);
  EXPECT_EQ("6.2 A", o.peak_current[0]);
  EXPECT_EQ("60 Hz", o.frequency[0]);
  EXPECT_EQ("Yes", o.bypass_enabled);
  EXPECT_EQ("No", o.forced_bypass);
  EXPECT_EQ("Normal", o.dip_speed);
  EXPECT_EQ("No", o.off_line_mode);
  EXPECT_EQ("Yes", o.load_waiting_mode);
  EXPECT_EQ("150 W", o.load_waiting_threshold);

  ASSERT_TRUE(Parse("<|103|229|490|690|30|61|3|1|0|1|1|>").answer);
  const auto& i = data_.ups.input;
  EXPECT_EQ("229 V", i.voltage[0]);
  EXPECT_EQ("3 A", i.current[0]);
  EXPECT_EQ("240 V", i.stabiliser_level);
  EXPECT_EQ("Yes", i.neutral_sense);
  EXPECT_EQ("No", i.neutral_sense_while_running);
  EXPECT_EQ("Yes", i.pll_enabled);
  EXPECT_EQ("Yes", i.pll_extended_range);

  ASSERT_TRUE(Parse("<|113|1|>").answer);
  EXPECT_EQ("Yes", i.frequency_autoselect);
}

TEST_F(ParseMessageTest, ThreePhaseOutputAndInput) {
  ASSERT_TRUE(Parse("<|132|230|231|232|1|2|3|4|5|6|10|20|30|11|21|31|5000|5012|@|1|3|0|1|0|1|>").answer);
  const auto& o = data_.ups.output;
  EXPECT_EQ("232 V", o.voltage[2]);
  EXPECT_EQ("2 W", o.active_power[1]);
  EXPECT_EQ("4 VA", o.apparent_power[0]);
  EXPECT_EQ("3 A", o.current[2]);
  EXPECT_EQ("1.1 A", o.peak_current[0]);
  EXPECT_EQ("50 Hz", o.frequency[0]);
  EXPECT_EQ("50.12 Hz", o.frequency[1]);
  EXPECT_EQ("Overrange", o.frequency[2]);
  EXPECT_EQ("Yes", o.bypass_enabled);
  EXPECT_EQ("Low", o.dip_speed);
  EXPECT_EQ("No", o.load_on_bypass_at_start);
  EXPECT_EQ("Yes", o.forced_bypass);
  EXPECT_EQ("No", o.off_line_mode);
  EXPECT_EQ("Yes", o.eps_mode);

  ASSERT_TRUE(Parse("<|133|1|2|3|4|5|6|7|8|9|10|11|12|13|14|15|6000|6000|6000|1|0|1|0|>").answer);
  const auto& i = data_.ups.input;
  EXPECT_EQ("9 VA", i.apparent_power[2]);
  EXPECT_EQ("60 Hz", i.frequency[1]);
  EXPECT_EQ("Yes", i.pll_enabled);
  EXPECT_EQ("No", i.pll_extended_range);
  EXPECT_EQ("60 Hz", i.nominal_frequency);
  EXPECT_EQ("No", i.frequency_autoselect);
}

TEST_F(ParseMessageTest, BatteryOfBothKinds) {
  ASSERT_TRUE(Parse("<|106|2712|2300|2100|0|1|0|600|1|>").answer);
  const auto& b = data_.ups.battery;
  EXPECT_EQ("271.2 V", b.voltage);
  EXPECT_EQ("230 V", b.reserve_threshold);
  EXPECT_EQ("Manual", b.thresholds_mode);
  EXPECT_EQ("Not limited", b.max_time_on_battery);
  EXPECT_EQ("10 minutes 0 seconds ", b.max_time_after_reserve);

  ASSERT_TRUE(Parse("<|134|27120|5|2|72|-150|0|1|0|1|0|>").answer);
  EXPECT_EQ("271.2 V", b.voltage);
  EXPECT_EQ("5 minutes 0 seconds ", data_.ups.main.autonomy_reserve_time);
  EXPECT_EQ("2", b.battery_boxes);
  EXPECT_EQ("7.2 Ah", b.box_capacity);
  EXPECT_EQ("-1.5 A", b.current_on_batteries);
  EXPECT_EQ("Standby", b.charger_status);
  EXPECT_EQ("Disabled", b.min_charge_for_restart);
  ASSERT_TRUE(Parse("<|134|27120|5|2|72|-150|7|1|0|1|0|>").answer);
  EXPECT_EQ("Running", b.charger_status) << "anything but 0";
  ASSERT_TRUE(Parse("<|134|27120|5|2|72|-150|&|1|0|1|0|>").answer);
  EXPECT_EQ("Not available", b.charger_status);
}

TEST_F(ParseMessageTest, HistoryAndHardware) {
  ASSERT_TRUE(Parse("<|107|3600|&|12|3|4|5|>").answer);
  EXPECT_EQ("1 hour 0 minutes 0 seconds ", data_.ups.history.ups_operating_time);
  EXPECT_EQ("Not available", data_.ups.history.inverter_operating_time);
  EXPECT_EQ("5", data_.ups.history.overheatings);
  ASSERT_TRUE(Parse("<|135|60|60|1|2|3|0|7|8|9|>").answer);
  EXPECT_EQ("0 seconds ", data_.ups.history.charger_operating_time);
  EXPECT_EQ("9", data_.ups.history.battery_equalizations);

  ASSERT_TRUE(Parse("<|108|1|5|10|11|12|13|400|380|>").answer);
  const auto& h = data_.ups.hardware;
  EXPECT_EQ("Inverter & Booster", h.faulty_type);
  EXPECT_EQ("400 V", h.positive_bus);
  EXPECT_EQ("-380 V", h.negative_bus);
  ASSERT_TRUE(Parse("<|108|0|0|10|11|12|13|&|&|>").answer);
  EXPECT_EQ("None", h.faulty_type);
  EXPECT_EQ("Not available", h.negative_bus) << "no sign in front of a mark";

  ASSERT_TRUE(Parse("<|110|0|extra|>").answer) << "at least two entries";
  EXPECT_EQ("No", h.buzzer_enabled);
  ASSERT_TRUE(Parse("<|111|24|12|31|23|59|58|9|>").answer);
  EXPECT_EQ("23:59:58 31/12/24 (Invalid parameter)", data_.ups.clock);

  ASSERT_TRUE(Parse("<|138|1|1|2|2|1|1|0|1|1|0|1|0|>").answer);
  EXPECT_EQ("Three Phase", h.input_config);
  EXPECT_EQ("Three Phase (120\xF8)", h.output_config);
  EXPECT_EQ("2", h.modules_installed[0]);
  EXPECT_EQ("On", h.output_state[0]);
  EXPECT_EQ("Off", h.output_state[1]);
  EXPECT_EQ("Normally Opened", h.relay_mains_battery);
  EXPECT_EQ("Normally Closed", h.relay_overload);
  EXPECT_FALSE(Parse("<|138|1|1|2|2|1|1|0|1|1|0|1|>").answer) << "twelve entries";
}

TEST_F(ParseMessageTest, StandardEventList) {
  ASSERT_TRUE(Parse("<|109|4|05/03/2024,14:07,12|&,08:00,5|01/01/2024,&,40|bad entry|>").answer);
  ASSERT_EQ(3u, data_.event_list.size());
  EXPECT_EQ("- 05/03/2024 14:07  Earth Fault", data_.event_list[0]);
  EXPECT_EQ("- 08:00  Overload", data_.event_list[1]) << "no date";
  EXPECT_EQ("- 01/01/2024 Unknown", data_.event_list[2]) << "no time, code out of the table";

  ASSERT_TRUE(Parse("<|109|0|05/03/2024,14:07,12|>").answer);
  EXPECT_TRUE(data_.event_list.empty()) << "a count of 0 empties the list";
  ASSERT_TRUE(Parse("<|109|&|>").answer);
  EXPECT_TRUE(data_.event_list.empty());
}

TEST_F(ParseMessageTest, ModularListsUseTheCodeTables) {
  ASSERT_TRUE(Parse("<|140|2|E1,Mains lost|E2,Fan, left|>").answer);
  ASSERT_TRUE(Parse("<|136|1|A7,Inverter fault|>").answer);
  EXPECT_EQ("2", data_.ups.event_table_count);
  EXPECT_EQ("Fan, left", LookUpCode(data_.event_codes, "E2")) << "commas inside the description stay";

  ASSERT_TRUE(Parse("<|139|1|3|01/02/24,10:00,E1|01/02/24,11:00,E9|01/02/24,12:00,E2|01/02/24,13:00,E1|>").answer);
  EXPECT_EQ("1", data_.ups.event_list_name);
  EXPECT_EQ("3", data_.ups.event_list_count);
  ASSERT_EQ(3u, data_.event_list.size()) << "only as many as the count says";
  EXPECT_EQ(" 01/02/24 10:00 - Mains lost", data_.event_list[0]);
  EXPECT_EQ(" 01/02/24 11:00 - ", data_.event_list[1]) << "a code not in the table";
  EXPECT_EQ(" 01/02/24 12:00 - Fan, left", data_.event_list[2]);

  ASSERT_TRUE(Parse("<|139|0|9|01/02/24,10:00,E1|>").answer);
  EXPECT_EQ(1u, data_.event_list.size()) << "a count beyond the entries reads what is there";

  ASSERT_TRUE(Parse("<|137|2|3,A7|4,A8|>").answer);
  ASSERT_EQ(2u, data_.alarm_list.size());
  EXPECT_EQ(" Module ID: 3  -  Alarm: Inverter fault", data_.alarm_list[0]);
  EXPECT_EQ(" Module ID: 4  -  Alarm: ", data_.alarm_list[1]);
  ASSERT_TRUE(Parse("<|137|&|>").answer);
  EXPECT_EQ("&", data_.ups.alarm_list_count);
  EXPECT_TRUE(data_.alarm_list.empty());
}

TEST_F(ParseMessageTest, CodeTableLookUpTakesTheLastPair) {
  ASSERT_TRUE(Parse("<|136|3|A1,first|A2,other|A1,second|>").answer);
  EXPECT_EQ("second", LookUpCode(data_.alarm_codes, "A1"));
  EXPECT_EQ("", LookUpCode(data_.alarm_codes, "a1")) << "exact comparison";
  ASSERT_TRUE(Parse("<|136|0|>").answer);
  EXPECT_TRUE(data_.alarm_codes.empty()) << "each answer replaces the whole table";
}

TEST_F(ParseMessageTest, SchedulerDownloadAnswersOnlyAtItsEnd) {
  data_.scheduler_items = {"old"};
  const ParseResult head = Parse("<|202|2|>");
  EXPECT_FALSE(head.answer);
  EXPECT_TRUE(data_.scheduler_items.empty());
  EXPECT_FALSE(Parse("<|202|1|SR|W|1|79200|2|28800|>").answer);
  EXPECT_FALSE(Parse("<|202|2|BT|D|0|3600|-1|-1|>").answer);
  EXPECT_FALSE(Parse("<|202|3|BT|D|0|3600|-1|>").answer) << "seven entries are no item";
  const ParseResult tail = Parse("<|202|@|>");
  EXPECT_TRUE(tail.answer);
  EXPECT_EQ(202, tail.code);
  EXPECT_EQ((TStringList{"SR|W|1|79200|2|28800", "BT|D|0|3600|-1|-1"}), data_.scheduler_items);

  EXPECT_TRUE(Parse("<|202|0|>").answer) << "an empty file is answered at once";
  EXPECT_TRUE(data_.scheduler_items.empty());
}

TEST_F(ParseMessageTest, ModuleAnswersCountOnlyForAPresentModule) {
  ASSERT_TRUE(Parse("<|150|M1|0|1|700|1000|250|1.0|B|SN9|>").answer);
  const auto& m = data_.ups.module;
  EXPECT_EQ("M1", m.id);
  EXPECT_EQ("\"S\" or \"L2\"", m.info.phase);
  EXPECT_EQ("700 W", m.info.active_nominal_power);
  EXPECT_EQ("2.5 A", m.info.charger_current);

  ASSERT_TRUE(Parse("<|150|M2|2|1|700|1000|250|1.0|B|SN9|>").answer);
  EXPECT_EQ("2", m.status);
  EXPECT_EQ("Not available", m.info.phase);
  EXPECT_EQ("Not available", m.info.serial_number);

  ASSERT_TRUE(Parse("<|151|M1|0|3|0|1|9|1|0|>").answer);
  EXPECT_EQ("Bypass", m.main.work_mode);
  EXPECT_EQ("Ok", m.main.battery_charger);
  EXPECT_EQ("Failure", m.main.inverter);
  EXPECT_EQ("Unknown", m.main.booster);
  EXPECT_EQ("Yes", m.main.overload);
  ASSERT_TRUE(Parse("<|152|M1|0|231|230|500|700|310|620|>").answer);
  EXPECT_EQ("231 V", m.input.bypass_voltage);
  EXPECT_EQ("3.1 A", m.input.current);
  ASSERT_TRUE(Parse("<|153|M1|0|230|500|700|310|620|>").answer);
  EXPECT_EQ("6.2 A", m.output.peak_current);
  ASSERT_TRUE(Parse("<|154|M1|0|60|&|1|2|0|3|4|5|6|>").answer);
  EXPECT_EQ("1 minute 0 seconds ", m.history.total_operating_time);
  EXPECT_EQ("Not available", m.history.booster_operating_time);
  EXPECT_EQ("6", m.history.output_dc_level);
  ASSERT_TRUE(Parse("<|155|M1|0|54|1|-120|400|390|45|47|80|>").answer);
  EXPECT_EQ("Running", m.hardware.charger_status);
  EXPECT_EQ("-1.2 A", m.hardware.battery_current);
  EXPECT_EQ("-390 V", m.hardware.negative_bus);
  EXPECT_EQ(
      "47 \xF8"
      "C",
      m.hardware.booster_heatsink);
  EXPECT_EQ("80 %", m.hardware.fan_speed);
  EXPECT_FALSE(Parse("<|155|M1|0|54|1|-120|400|390|45|47|>").answer);
}

TEST_F(ParseMessageTest, SettingAnswersRepeatTheValuesSet) {
  ASSERT_TRUE(Parse("<|300|2|1|0|1|0|>").answer);
  EXPECT_EQ("230 V", data_.ups.input.stabiliser_level);
  ASSERT_TRUE(Parse("<|310|0|1|1|>").answer);
  EXPECT_EQ("No", data_.ups.input.pll_enabled);
  EXPECT_EQ("Yes", data_.ups.input.frequency_autoselect);
  ASSERT_TRUE(Parse("<|301|220|0|1|1|1|0|0|100|>").answer);
  EXPECT_EQ("220 V", data_.ups.output.voltage[0]);
  EXPECT_EQ("50 Hz", data_.ups.output.frequency[0]);
  EXPECT_EQ("Fast", data_.ups.output.dip_speed);
  EXPECT_EQ("100 W", data_.ups.output.load_waiting_threshold);
  ASSERT_TRUE(Parse("<|311|230|1|1|2|0|0|1|1|>").answer);
  EXPECT_EQ("230 V", data_.ups.output.nominal_voltage);
  EXPECT_EQ("60 Hz", data_.ups.input.nominal_frequency);
  EXPECT_EQ("Yes", data_.ups.output.eps_mode);
  ASSERT_TRUE(Parse("<|306|0|>").answer);
  EXPECT_EQ("No", data_.ups.input.frequency_autoselect);
  ASSERT_TRUE(Parse("<|302|0|0|1|0|0|300|1|>").answer);
  EXPECT_EQ("0 V", data_.ups.battery.reserve_threshold);
  EXPECT_EQ("Automatic", data_.ups.battery.thresholds_mode);
  EXPECT_EQ("5 minutes 0 seconds ", data_.ups.battery.max_time_after_reserve);
  ASSERT_TRUE(Parse("<|312|15|1|0|1|40|>").answer);
  EXPECT_EQ("15 minutes 0 seconds ", data_.ups.main.autonomy_reserve_time);
  EXPECT_EQ("40 %", data_.ups.battery.min_charge_for_restart);
  ASSERT_TRUE(Parse("<|307|26|1|2|3|4|5|5|>").answer);
  EXPECT_EQ("3:4:5 2/1/26 (Friday)", data_.ups.clock);
  ASSERT_TRUE(Parse("<|314|1|0|1|&|>").answer);
  EXPECT_EQ("Not available", data_.ups.hardware.relay_overload);
}

TEST_F(ParseMessageTest, BuzzerAnswerNamesWhatTheKeyDoesNext) {
  ASSERT_TRUE(Parse("<|303|1|>").answer);
  EXPECT_EQ("Unmute", data_.ups.hardware.buzzer_text);
  ASSERT_TRUE(Parse("<|303|0|>").answer);
  EXPECT_EQ("Mute", data_.ups.hardware.buzzer_text);
  ASSERT_TRUE(Parse("<|303|&|>").answer);
  EXPECT_EQ("Not available", data_.ups.hardware.buzzer_text);
}

TEST_F(ParseMessageTest, ResetAndShutdownResults) {
  ASSERT_TRUE(Parse("<|304|1|>").answer);
  ASSERT_TRUE(Parse("<|305|0|>").answer);
  ASSERT_TRUE(Parse("<|309|x|>").answer);
  EXPECT_EQ("Executed", data_.ups.results.history_reset);
  EXPECT_EQ("Not executed", data_.ups.results.events_reset);
  EXPECT_EQ("Unknown", data_.ups.results.shutdown);
  ASSERT_TRUE(Parse("<|313|2|1|>").answer);
  EXPECT_EQ("Events List \"WARNING\": Executed", data_.ups.results.events_list_reset);
  ASSERT_TRUE(Parse("<|313|7|&|>").answer);
  EXPECT_EQ("Events List \"UNKNOWN\": Unknown", data_.ups.results.events_list_reset);
  EXPECT_FALSE(Parse("<|304|1|1|>").answer);
}

TEST_F(ParseMessageTest, BatteryTestResults) {
  EXPECT_EQ("Not available", data_.ups.results.battery_test) << "until a test answered";
  const std::pair<const char*, const char*> cases[] = {
      {"<|400|0|>", "Ok"},
      {"<|400|255|>", "battery must be replaced !"},
      {"<|400|&|>", "Not available"},
      {"<|400|@|>", "Test imposssible !"},
      {"<|400|87|>", "87 %"},
      {"<|402|0|93|>", "93 %"},
      {"<|402|1|93|>", "Test is already running"},
      {"<|402|@|&|>", "Test imposssible !"},
      {"<|402|&|&|>", "Not available"},
      {"<|402|0|&|>", "Not available"},
      {"<|402|7|93|>", "Unknown"},
  };
  for (const auto& [message, text] : cases) {
    ASSERT_TRUE(Parse(message).answer) << message;
    EXPECT_EQ(text, data_.ups.results.battery_test) << message;
  }
  EXPECT_FALSE(Parse("<|402|0|>").answer);
}

TEST_F(ParseMessageTest, AutonomyTestStatesAndTheirBroadcasts) {
  const ParseResult impossible = Parse("<|401|0|&|>");
  EXPECT_TRUE(impossible.answer);
  EXPECT_FALSE(impossible.broadcast.has_value());
  EXPECT_EQ("Autonomy Test impossible to run", data_.ups.results.autonomy_test);
  EXPECT_EQ("0", data_.ups.results.autonomy_test_code);

  EXPECT_FALSE(Parse("<|401|2|&|>").broadcast.has_value());
  EXPECT_EQ("Autonomy Test already running...", data_.ups.results.autonomy_test);

  const ParseResult started = Parse("<|401|1|&|>");
  EXPECT_TRUE(started.answer);
  EXPECT_EQ("Autonomy Test started...", started.broadcast.value_or(""));

  const ParseResult done = Parse("<|401|4|3725|>");
  EXPECT_EQ("Autonomy Test successfully completed - new autonomy: 1 hour 2 minutes 5 seconds ",
            done.broadcast.value_or(""));
  const ParseResult stopped = Parse("<|401|3|60|>");
  EXPECT_EQ("Autonomy Test stopped by user - new autonomy: 1 minute 0 seconds ", stopped.broadcast.value_or(""));
  EXPECT_FALSE(Parse("<|401|9|&|>").broadcast.has_value());
  EXPECT_EQ("Autonomy Test Unknown", data_.ups.results.autonomy_test);
}

TEST_F(ParseMessageTest, UploadResult) {
  ASSERT_TRUE(Parse("<|203|1|>").answer);
  EXPECT_EQ("Yes", data_.ups.results.upload);
  ASSERT_TRUE(Parse("<|203|0|>").answer);
  EXPECT_EQ("No", data_.ups.results.upload);
}

TEST_F(ParseMessageTest, ARefusedAnswerLeavesTheRecordAsItWas) {
  ASSERT_TRUE(Parse("<|102|230|500|700|31|62|1|1|0|2|0|1|150|>").answer);
  const ConsoleUpsData before = data_.ups;
  EXPECT_FALSE(Parse("<|102|1|1|1|1|1|1|1|1|1|1|1|>").answer);
  EXPECT_FALSE(Parse("<|132|1|>").answer);
  EXPECT_FALSE(Parse("<|301|1|1|1|1|1|1|1|1|1|>").answer);
  EXPECT_EQ(before.output.voltage, data_.ups.output.voltage);
  EXPECT_EQ(before.output.dip_speed, data_.ups.output.dip_speed);
}

}  // namespace
}  // namespace keep::console
