// The scheduler file "data/sch_data.dat" as clients replace it (request 203): the check of one line
// and the storing of an uploaded file with a backup of the previous one.
//
// Pure functions and plain file operations, no sockets: the caller reads the upload's bytes and sends
// the answer these functions decide. Main loop only (the scheduler reads the same file there). Never
// throws; any bytes are safe.
#pragma once

#include <string>
#include <string_view>

namespace keep::server {

// Seconds in a day: a time of day lies in 0 .. kSecondsPerDay - 1.
inline constexpr long long kSecondsPerDay = 86400;

// A scheduler line: at least six "|"-separated fields (each trimmed), the kind "SR", "BT" or "AT", the
// frequency "O", "D" or "W", then whole 64-bit numbers for day, time, restart day and restart time.
// The time must be a time of day (0-86399), and so must the restart time unless it is "-1" (no
// restart): a moment that no clock shows would never fire or would restart the UPS at random.
bool ValidScheduleLine(std::string_view line);

struct ScheduleReceipt {
  // A new file was stored (the caller logs a new scheduler and reloads it).
  bool stored = false;
  // The answer's parameter: "1" stored or deleted, "0" refused (the previous file is kept).
  std::string answer;
};

// Handles the bytes of an upload of `file_name` (a full path). Empty `bytes` (a byte count of 0)
// deletes the file: answer "1", not stored. Otherwise the bytes are CR LF separated lines, each
// scrambled on its own (a final line end is optional); for request code 203 every line must pass
// ValidScheduleLine. On success the file is replaced in one rename, so a reader never sees half a
// file. Before that the previous file is copied into `temp_folder` (created when missing) and put back
// if anything fails; the copy is deleted in every case.
ScheduleReceipt ReceiveScheduleFile(std::string_view bytes, int request_code, const std::string& file_name,
                                    const std::string& temp_folder);

}  // namespace keep::server
