#include "tools/upssim/quadrel_sim_clock.h"

#include <chrono>

#include "tools/upssim/quadrel_sim_format.h"

namespace keep::tools {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr uint8_t kClockSet = 1;
constexpr size_t kSetBytes = 7;  // mode and six BCD bytes; the day of the week may be missing

std::chrono::sys_days Epoch() { return std::chrono::sys_days{std::chrono::year{2000} / 1 / 1}; }

unsigned ToBcd(int value) { return static_cast<unsigned>(((value / 10) % 10) * 16 + value % 10); }

std::optional<int> FromBcd(uint8_t raw) {
  const int high = raw >> 4;
  const int low = raw & 0x0F;
  if (high > 9 || low > 9) return std::nullopt;
  return high * 10 + low;
}

}  // namespace

QuadrelCivilTime QuadrelCivilFromSeconds(uint32_t seconds) {
  const int64_t days = seconds / kSecondsPerDay;
  const int64_t rest = seconds % kSecondsPerDay;
  const std::chrono::sys_days date = Epoch() + std::chrono::days{days};
  const std::chrono::year_month_day ymd{date};
  QuadrelCivilTime time;
  time.year = static_cast<int>(ymd.year());
  time.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  time.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  time.hour = static_cast<int>(rest / 3600);
  time.minute = static_cast<int>(rest / 60 % 60);
  time.second = static_cast<int>(rest % 60);
  time.weekday = static_cast<int>(std::chrono::weekday{date}.c_encoding());
  return time;
}

std::optional<uint32_t> QuadrelSecondsFromCivil(const QuadrelCivilTime& time) {
  if (time.year < 2000 || time.year > 2099 || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31) {
    return std::nullopt;
  }
  if (time.hour < 0 || time.hour > 23 || time.minute < 0 || time.minute > 59 || time.second < 0 || time.second > 59) {
    return std::nullopt;
  }
  const std::chrono::year_month_day ymd{std::chrono::year{time.year},
                                        std::chrono::month{static_cast<unsigned>(time.month)},
                                        std::chrono::day{static_cast<unsigned>(time.day)}};
  if (!ymd.ok()) return std::nullopt;
  const int64_t days = (std::chrono::sys_days{ymd} - Epoch()).count();
  return static_cast<uint32_t>(days * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second);
}

uint32_t QuadrelClock::Now(int64_t now_ms) {
  if (!anchor_ms_) {
    anchor_ms_ = now_ms;
    anchor_seconds_ = QuadrelSecondsFromCivil(kStart).value_or(0);
  }
  const int64_t elapsed = now_ms > *anchor_ms_ ? (now_ms - *anchor_ms_) / 1000 : 0;
  const int64_t seconds = int64_t{anchor_seconds_} + elapsed;
  // The two-digit year ends with 2099; the clock stops there rather than wrap to 2000.
  const int64_t last = int64_t{QuadrelSecondsFromCivil({2099, 12, 31, 23, 59, 59, 4}).value_or(0)};
  return static_cast<uint32_t>(seconds < last ? seconds : last);
}

std::optional<std::string> QuadrelClock::Answer(const BinaryRequest& request, int64_t now_ms) {
  if (request.data.empty()) return std::nullopt;
  if (QuadrelDataByte(request, 0) == kClockSet) {
    if (request.data.size() < kSetBytes) return std::nullopt;
    std::optional<int> fields[6];
    for (size_t i = 0; i < 6; ++i) fields[i] = FromBcd(QuadrelDataByte(request, i + 1));
    bool digits = true;
    for (const std::optional<int>& field : fields) digits = digits && field.has_value();
    if (digits) {
      const QuadrelCivilTime wanted{2000 + *fields[0], *fields[1], *fields[2], *fields[3], *fields[4], *fields[5], 0};
      if (const std::optional<uint32_t> seconds = QuadrelSecondsFromCivil(wanted)) {
        anchor_ms_ = now_ms;
        anchor_seconds_ = *seconds;
      }
    }
  }
  const QuadrelCivilTime time = QuadrelCivilFromSeconds(Now(now_ms));
  std::string reply;
  for (const int field : {time.year % 100, time.month, time.day, time.hour, time.minute, time.second}) {
    AppendQuadrelByte(reply, ToBcd(field));
  }
  AppendQuadrelByte(reply, static_cast<unsigned>(time.weekday));
  return reply;
}

}  // namespace keep::tools
