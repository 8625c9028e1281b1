// The server's two text files below the installation folder: the event log "data/ups_log.txt" and
// the measurement file "data/ups_data.csv". Main loop only (they read the server context).
#pragma once

#include <string>
#include <string_view>

#include "server/services/server_context.h"

namespace keep::server {

inline constexpr char kLogFileName[] = "data/ups_log.txt";
inline constexpr char kDataFileName[] = "data/ups_data.csv";

// Appends one dated line when logging is enabled; a line that cannot be written is lost silently.
// Nothing is written while the installation folder is unknown, so a broken setup never scatters
// log files into whatever folder the process happens to run in.
void WriteLogLine(const ServerContext& context, std::string_view text);

// Field := source when enabled and source is a value; empty when enabled and source is one of the
// markers "&" (not available) or "@" (overrange); untouched when not enabled.
void DataField(bool enabled, const std::string& source, std::string& field);

// A power column: the watts when the UPS gives them (unit "W"), else the load percentage with one
// decimal (unit "%"), else nothing. Value and unit are emptied first. The percentage is taken to 7
// significant digits and then rounded half away from zero, so 42.35 gives "42.4"; a load of -1 or -2
// (not available, overrange) or one that is not a finite number gives no value and no unit.
void PowerField(bool enabled, const std::string& watts, std::string& value, std::string& unit, float percent);

// Appends one row of measurements to "data/ups_data.csv" (with the header when the file is new or
// restarted at its size limit): date, time and 12 fields, all joined with the data separator. A
// column whose flag is off, or whose value is a marker, is empty. The battery voltage text is whole
// tenths of a volt (hundredths for protocol 4, rounded half away from zero) written as volts with one
// decimal; the charge estimate is rounded to one decimal, ties to even, in general number form.
// DataEnabled is not looked at here: the main cycle does not ask for samples while it is off.
// Lost silently when the file cannot be written or the installation folder is unknown.
void WriteDataSample(const ServerContext& context);

}  // namespace keep::server
