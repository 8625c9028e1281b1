// Size-limited text files (the log file and the measurement file): every line opens, appends and
// closes the file, so nothing is held open between lines and another program may read it at any
// time. Callable from any thread, but two callers must not append to the same file at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/date_time.h"
#include "common/format_settings.h"

namespace keep {

// The size of the file in bytes; 0 when there is no such file; -1 when it exists but cannot be
// opened for reading or its size cannot be read. Sizes above INT32_MAX are reported as INT32_MAX.
int32_t FileSizeOf(const std::string& file_name);

// Appends one line, stamped with `now` formatted by the settings' short date and long time forms:
// "date<sep>time<sep>text" when `separator_form`, else "date time  text". Lines end with CR LF.
// A missing or empty file, or one of `max_size` bytes or more, is started again from empty with
// `header` (when not empty) as its first line before the line is written. Returns false, having
// written nothing or only part, when the file cannot be sized, opened or written; never throws.
bool AppendLogLine(const std::string& file_name, std::string_view header, char separator,
                   const TFormatSettings& settings, bool separator_form, int64_t max_size, std::string_view text,
                   DateTime now);

}  // namespace keep
