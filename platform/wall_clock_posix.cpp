#include <time.h>

#include <chrono>

#include "platform/clock.h"

namespace keep::platform {
namespace {

// 1970-01-01 as a day number of DateTime.
constexpr int64_t kUnixEpochDay = 25'569;

class SystemWallClock final : public WallClock {
 public:
  DateTime Now() const override {
    const int64_t unix_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    // Floor division, so times before 1970 (a badly set clock) still split into second and ms.
    int64_t seconds = unix_ms / 1000;
    int64_t millisecond = unix_ms % 1000;
    if (millisecond < 0) {
      millisecond += 1000;
      --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    tm local{};
    if (localtime_r(&t, &local) != nullptr) {
      CivilDateTime civil;
      civil.year = local.tm_year + 1900;
      civil.month = local.tm_mon + 1;
      civil.day = local.tm_mday;
      civil.hour = local.tm_hour;
      civil.minute = local.tm_min;
      civil.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second holds at :59
      civil.millisecond = static_cast<int>(millisecond);
      if (auto when = DateTime::FromCivil(civil)) return *when;
    }
    // No local time for this instant (year out of range, zone data unusable): UTC is the best guess.
    return DateTime::FromMilliseconds(kUnixEpochDay * DateTime::kMsPerDay + unix_ms);
  }

  int64_t UtcOffsetMs(DateTime local) const override {
    const CivilDateTime civil = local.ToCivil();
    tm fields{};
    fields.tm_year = civil.year - 1900;
    fields.tm_mon = civil.month - 1;
    fields.tm_mday = civil.day;
    fields.tm_hour = civil.hour;
    fields.tm_min = civil.minute;
    fields.tm_sec = civil.second;
    fields.tm_isdst = -1;  // let the zone's rules decide
    const time_t universal = mktime(&fields);
    if (universal == static_cast<time_t>(-1)) return 0;
    // The local reading taken as if it were universal time, in whole seconds since 1970.
    const int64_t as_universal =
        (local.Milliseconds() - kUnixEpochDay * DateTime::kMsPerDay - civil.millisecond) / 1000;
    return (as_universal - static_cast<int64_t>(universal)) * 1000;
  }
};

}  // namespace

std::unique_ptr<WallClock> WallClock::CreateReal() { return std::make_unique<SystemWallClock>(); }

}  // namespace keep::platform
