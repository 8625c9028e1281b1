#include "server/services/event_time_stamp.h"

namespace keep::server {

std::string EventTimeStamp(const TFormatSettings& settings, DateTime when) {
  std::string stamp = FormatShortDate(settings, when);
  if (when.MillisecondOfDay() != 0) stamp.append(" ").append(FormatLongTime(settings, when));
  return stamp;
}

}  // namespace keep::server
