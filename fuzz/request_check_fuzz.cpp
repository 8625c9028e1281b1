// Arbitrary client lines, split into fields as the dispatcher does, through the request check, and
// the answer of every valid one built from the same context. Neither may crash; a valid request
// must carry a code of the command table, the result flags must agree with each other, and the
// answer frame must carry the request's code.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text_lists.h"
#include "fuzz/fuzz_server.h"
#include "server/records/command_codes.h"
#include "server/services/request_check.h"
#include "server/services/response_builder.h"
#include "server/services/server_context.h"

namespace {

using namespace keep;
using namespace keep::server;

// The client codes, listed here on their own so a slip in the checker's table shows.
constexpr int kTableCodes[] = {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113,
                               130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 150, 151, 152,
                               153, 154, 155, 200, 201, 202, 203, 300, 301, 302, 303, 304, 305, 306,
                               307, 308, 309, 310, 311, 312, 313, 314, 315, 400, 401, 402};

void Check(bool ok) {
  if (!ok) std::abort();
}

const char* const kCodes[] = {"&", "@", "0", "1", "2", "3"};

void Seed(ServerContext& context, uint8_t a, uint8_t b) {
  context.Setup.UpsSetup.ProtocolSetup.ProtocolNumber = a % 9;
  context.Setup.ServerSetup.UpsManType = (a >> 4) % 3;
  context.Setup.ServerSetup.SrvDownFromMonitor = (a & 0x80) != 0;
  context.Setup.UpsSetup.UpsBatteryCapacity = static_cast<float>(b % 101);
  context.Ups.Main.CalibrationState = kCodes[b % 6];
  context.Ups.Main.UpsStatus = kCodes[(b >> 3) % 6];
  context.Ups.Test.BatteryTestState = kCodes[(b >> 5) % 6];
  context.Ups.Main.LoadR = static_cast<float>(b) - 2.0f;
  context.Ups.Events.Count = std::to_string(static_cast<int>(b) - 100);
  context.Ups.Events.Items.resize(b % 4);
  context.Ups.AlarmTexts.Count = kCodes[a % 6];
  context.Ups.AlarmTexts.Items.resize(a % 3);
  context.Ups.EventLog.Count = std::to_string(b % 7);
  context.Ups.EventLog.Items.resize(b % 5);
  context.Ups.Output.PhaseR.ApparentPower = std::to_string(b) + ".5";
}

void CheckLine(std::string_view line, ServerContext& context) {
  // The dispatcher passes on only frames: "<" first, ">" last, a numeric code second.
  if (line.size() < 2 || line.front() != '<' || line.back() != '>') return;
  TStringList items;
  SplitText('|', line, items, true);
  if (items.size() <= 2) return;
  const TStringList fields(items.begin() + 1, items.end() - 1);

  const CheckResult result = CheckRequest(fields, context);
  if (!result.valid) {
    Check(!result.answer_now && !result.already_answered && !result.has_answer_parameter &&
          result.special == Special::kNone && !result.close_connection);
    return;
  }
  int code = 0;
  const auto [ptr, ec] = std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), code);
  Check(ec == std::errc() && ptr == fields[0].data() + fields[0].size());
  Check(std::find(std::begin(kTableCodes), std::end(kTableCodes), code) != std::end(kTableCodes));
  Check(IsClientRequestCode(code));
  Check(!(result.answer_now && result.already_answered));
  Check(!result.has_answer_parameter || result.already_answered);
  Check(!result.close_connection || result.special == Special::kScheduleUpload);
  Check(result.byte_count >= 0);

  const std::string* parameter = result.has_answer_parameter ? &result.answer_parameter : nullptr;
  const std::string frame = BuildResponse(code, parameter, context);
  TStringList answer;
  SplitText('|', frame, answer, true);
  Check(answer.size() >= 3 && answer.front() == "<" && answer.back() == ">");
  Check(answer[1] == std::to_string(code));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::FuzzServer server;
  ServerContext& context = server.context;
  Seed(context, data[0], data[1]);

  // One request per line; the context carries over, as it does between a client's requests.
  const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);
  size_t start = 0;
  while (start <= input.size()) {
    const size_t end = std::min(input.find('\n', start), input.size());
    CheckLine(input.substr(start, end - start), context);
    start = end + 1;
  }
  return 0;
}
