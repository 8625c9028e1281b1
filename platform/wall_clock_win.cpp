// The wall clock from the system's local time, whose zone rules (daylight saving included) are the
// system's own.
#include <windows.h>

#include <memory>

#include "platform/clock.h"

namespace keep::platform {
namespace {

// FILETIME counts 100-nanosecond ticks from 1601; DateTime counts days from 1899-12-30. They meet at
// 1970-01-01: day 25569, and 11644473600000 ms after 1601.
constexpr int64_t kTicksPerMs = 10'000;
constexpr int64_t kUnixEpochDay = 25'569;
constexpr int64_t kUnixEpochFileTimeMs = 11'644'473'600'000;

CivilDateTime CivilOf(const SYSTEMTIME& time) {
  CivilDateTime civil;
  civil.year = time.wYear;
  civil.month = time.wMonth;
  civil.day = time.wDay;
  civil.hour = time.wHour;
  civil.minute = time.wMinute;
  civil.second = time.wSecond;
  civil.millisecond = time.wMilliseconds;
  return civil;
}

int64_t FileTimeMs(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart / kTicksPerMs);
}

class SystemWallClock final : public WallClock {
 public:
  DateTime Now() const override {
    FILETIME universal{};
    ::GetSystemTimeAsFileTime(&universal);
    SYSTEMTIME universal_fields{};
    SYSTEMTIME local{};
    if (::FileTimeToSystemTime(&universal, &universal_fields) &&
        ::SystemTimeToTzSpecificLocalTime(nullptr, &universal_fields, &local)) {
      if (auto when = DateTime::FromCivil(CivilOf(local))) return *when;
    }
    // No local time for this instant: universal time is the best guess.
    const int64_t unix_ms = FileTimeMs(universal) - kUnixEpochFileTimeMs;
    return DateTime::FromMilliseconds(kUnixEpochDay * DateTime::kMsPerDay + unix_ms);
  }

  int64_t UtcOffsetMs(DateTime local) const override {
    const CivilDateTime civil = local.ToCivil();
    // SYSTEMTIME holds years 1601-30827 only.
    if (civil.year < 1601 || civil.year > 30827) return 0;
    SYSTEMTIME local_fields{};
    local_fields.wYear = static_cast<WORD>(civil.year);
    local_fields.wMonth = static_cast<WORD>(civil.month);
    local_fields.wDay = static_cast<WORD>(civil.day);
    local_fields.wHour = static_cast<WORD>(civil.hour);
    local_fields.wMinute = static_cast<WORD>(civil.minute);
    local_fields.wSecond = static_cast<WORD>(civil.second);
    SYSTEMTIME universal_fields{};
    FILETIME local_time{};
    FILETIME universal_time{};
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &local_fields, &universal_fields) ||
        !::SystemTimeToFileTime(&local_fields, &local_time) ||
        !::SystemTimeToFileTime(&universal_fields, &universal_time)) {
      return 0;
    }
    return FileTimeMs(local_time) - FileTimeMs(universal_time);
  }
};

}  // namespace

std::unique_ptr<WallClock> WallClock::CreateReal() { return std::make_unique<SystemWallClock>(); }

}  // namespace keep::platform
