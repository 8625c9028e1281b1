// The driver of the ASCII query protocol of protocol numbers 1, 3, 7 and 8: short queries ending in a
// carriage return, answered by lines that begin with "(" (status) or "#" (rating, information). The
// four numbers are variants of one dialect; they differ in the status query, in what identification
// asks first and in how the status answer's fields are read:
//
//   P  status query  identification  status field 6 / extras
//   1  "Q1"          "I", "Q1"       output frequency code (60 Hz or not)
//   3  "Q1"          "Q1"            temperature; beeper bit
//   7  "Q1"          "F", "Q1"       as 3; on the USB link every query travels in a feature report
//   8  "QS"          "F", "QS"       no load field; beeper bit; battery test only from 13.0 V
//
// Main loop only, like the manager that calls it. Parse reads untrusted bytes and never reads past
// the buffer; a reply it cannot use is consumed without storing anything, so the manager's reply
// timer ends the exchange.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/ups/protocol_driver.h"

namespace keep::server {

// Queue items: the query texts themselves, except the shutdown item, which is formatted from the
// command's delays when it is sent.
inline constexpr std::string_view kMegatecQueryInfo = "I";
inline constexpr std::string_view kMegatecQueryRating = "F";
inline constexpr std::string_view kMegatecQueryTest = "T";
inline constexpr std::string_view kMegatecQueryBeeper = "Q";
inline constexpr std::string_view kMegatecQueryStatus = "Q1";
inline constexpr std::string_view kMegatecQueryStatusQs = "QS";  // protocol number 8
inline constexpr std::string_view kMegatecShutdownItem = "S%sR%s";
// The restart field of the switch-off query: four digits of minutes.
inline constexpr int64_t kMegatecMaxRestartMinutes = 9999;

inline constexpr char kMegatecEnd = '\r';
inline constexpr char kMegatecStatusMark = '(';
inline constexpr char kMegatecInfoMark = '#';

// The battery test runs this long before the status query that follows it may be sent.
inline constexpr int32_t kMegatecTestDelayMs = 12000;

// On the USB link (protocol number 7) a query travels as: report id, 0 when an answer is expected
// or 2 otherwise, the length of the query with its carriage return, the query.
inline constexpr char kMegatecUsbReportId = 5;
inline constexpr char kMegatecUsbExpectReply = 0;
inline constexpr char kMegatecUsbNoReply = 2;

// Fields of the answers the parser accepts, blank-separated.
inline constexpr size_t kMegatecStatusFields = 8;  // the last: status bits b7..b0, left to right
inline constexpr size_t kMegatecInfoFields = 3;    // empty fields removed first
// The information answer's fixed columns after "#": company 15, model 10 and firmware version 10
// characters, one blank between them. Read when a name holds a blank and the split gives more fields.
inline constexpr size_t kMegatecInfoVersionStart = 15 + 1 + 10 + 1;
inline constexpr size_t kMegatecInfoVersionWidth = 10;
inline constexpr size_t kMegatecRatingFields = 4;

// The lowest battery voltage (tenths of a volt) at which protocol number 8 may run a battery test.
inline constexpr double kMegatecQsMinTestVoltage = 130.0;

class MegatecDriver final : public ProtocolDriver {
 public:
  // `protocol_number` is one of 1, 3, 7, 8; any other is read as 3.
  explicit MegatecDriver(int32_t protocol_number);

  // Resets the fields this protocol never reports to "&" (and the variant's own ones), sets the
  // model name from the settings; the wake-up text is one carriage return.
  std::string Init(DriverContext& context) override;
  // Appends the queries of UpsCommand.Code to the queue; the battery test request also sets
  // BatteryTestResult ("0" when the test is queued, "@" when the UPS may not run one now).
  bool BuildCommand(DriverContext& context) override;
  // Frame for the head of the queue and ReplyTimeout := the model's reply time. Only the
  // identification, rating and status queries expect an answer.
  void BuildNext(DriverContext& context, uint8_t& expect_reply, int32_t& delay_ms) override;
  // Drops bytes before the first "(" or "#", takes one line up to the carriage return and stores it
  // when it is the answer to the head query (an information answer as MegatecFirmwareVersion reads
  // it). False, consuming nothing, while the queue is empty, there is no marker, or the line is not
  // complete; false with the line consumed when the line does not fit the head query or a field
  // read as a number is not one (storing stops there).
  bool Parse(DriverContext& context, std::string& buffer) override;

  int32_t ProtocolNumber() const { return protocol_; }
  // The status query of this variant.
  const std::string& PollCmd() const { return poll_cmd_; }

 private:
  bool StoreStatus(DriverContext& context, const TStringList& fields) const;

  int32_t protocol_;
  std::string poll_cmd_;
};

// The firmware version of an information answer (`text`: what follows "#", up to the carriage
// return): the third of exactly three blank-separated fields, else the trimmed version column.
// Nothing when the text does not reach the version column or that column is blank.
std::optional<std::string> MegatecFirmwareVersion(std::string_view text);

// The shutdown query for a command's delay fields in seconds: "S" + minutes (at least two digits) +
// "R" + restart minutes (at least four digits). A field that is missing or not an integer, or a
// delay under one minute, counts as one minute.
std::string MegatecShutdownQuery(const TStringList& args);

}  // namespace keep::server
