// The date-and-time stamp that event messages carry (pop-ups on older systems, remote messages,
// e-mail): the short date, one blank and the long time of the server's fixed formats. Pure function,
// callable from any thread.
#pragma once

#include <string>

#include "common/date_time.h"
#include "common/format_settings.h"

namespace keep::server {

// "dd/MM/yyyy hh:mm:ss"; at exactly midnight (no milliseconds either) only the date, as people
// read a bare date as the start of that day.
std::string EventTimeStamp(const TFormatSettings& settings, DateTime when);

}  // namespace keep::server
