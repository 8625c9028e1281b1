// The traffic log of the UPS link, written when the server runs with "/DEBUG": every block sent to
// or received from the UPS as one or more lines of a time stamp, "01)" (sent) or "02)" (received)
// and the bytes in hexadecimal, wrapped after 80 characters.
#pragma once

#include <memory>
#include <string>

#include "common/format_settings.h"
#include "platform/clock.h"
#include "server/links/file_logger.h"

namespace keep::server {

// A file logger on install_path + "data/ups_debug.txt" (install_path ends with "/"), opened only
// while an entry is written and never rotated. `clock` must outlive the logger.
std::unique_ptr<TFileLogger> CreateUpsTrafficLogger(const std::string& install_path, const platform::WallClock& clock,
                                                    const TFormatSettings& formats);

}  // namespace keep::server
