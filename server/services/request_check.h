// The check of one client request against the command table: is the code known, does it carry the
// right number of fields, does each field pass its check, and how is it handled (answered at once
// from the data held, queued for the UPS, or handled by the caller with the connection or the main
// cycle). The check of 401 also decides the autonomy test's next state, and 309 the shutdown.
//
// Main loop only: 401 writes TUpsData::Test.AutonomyTestState, so the caller runs the check where
// the main cycle cannot run beside it. Nothing here touches a socket or a file: the result tells
// the caller what to send, what to log and what to hand on. Never throws; any input is safe.
#pragma once

#include <cstdint>
#include <string>

#include "common/text_lists.h"
#include "server/services/server_context.h"

namespace keep::server {

// Requests whose handling needs more than an answer or a queue entry.
enum class Special {
  kNone,
  // 200-202: send the file `CheckResult::file_name` (relative to the installation folder) line by
  // line. already_answered is set: nothing is queued, and the transfer runs even while the UPS is
  // not connected.
  kFileTransfer,
  // 203: `CheckResult::byte_count` raw bytes of a new scheduler file follow on the connection; the
  // caller reads them, stores the file, answers and logs (ScheduleUploadLogText). When the count
  // exceeds kMaxScheduleUploadBytes the result already carries the refusal "0" and close_connection.
  kScheduleUpload,
  // 309: answer with answer_parameter; when that is "1" the caller then sets
  // TServerData::ShutdownNowNoRestart and runs the status evaluation, which starts the shutdown.
  kShutdown,
  // 401: AutonomyTestState has been set. Either already_answered with answer_parameter (the 401
  // answer for it), or valid and queued: the UPS manager starts or stops the test and the completion
  // step notifies every client.
  kCalibration,
  // 402: answered now while a battery test runs, otherwise queued; the flags say which.
  kModularBatteryTest,
};

struct CheckResult {
  // The request is well formed. Invalid requests get 502 from the caller.
  bool valid = false;
  // Answer from the data held (still 500 while the UPS is not connected) instead of queueing.
  bool answer_now = false;
  // The caller sends the answer `has_answer_parameter`/`answer_parameter` describe (or runs the
  // special handling) and neither queues nor applies the not-connected rule.
  bool already_answered = false;
  // A text for the log file, empty when there is nothing to log.
  std::string log_text;
  // The parameter of the answer when the check decided it (401, 309, the refused 203).
  std::string answer_parameter;
  bool has_answer_parameter = false;
  Special special = Special::kNone;
  // kFileTransfer: the file relative to the installation folder, "/" separated.
  std::string file_name;
  // kScheduleUpload: the byte count of the request, never negative.
  int64_t byte_count = 0;
  // kScheduleUpload above the limit: send the answer, then close the connection unread.
  bool close_connection = false;
};

// Checks `fields`: the request code followed by its fields, as left when the frame's "<" and ">"
// are dropped. An empty list or a code that is not a client request code is invalid.
CheckResult CheckRequest(const TStringList& fields, ServerContext& context);

// True for the codes a client may send (every code of the command table).
bool IsClientRequestCode(int code);

// The log text after a scheduler upload: the scheduler prefix and LOGS/"SchedulerNewFile" when a
// new file was stored, else LOGS/"SchedulerDeleteFile", with its "$" filled by the client address.
std::string ScheduleUploadLogText(const ServerContext& context, bool stored, const std::string& client_address);

}  // namespace keep::server
