// The parts of the platform facts that are the same everywhere.
#include "platform/platform_info.h"

#include <string>

#include "common/format_settings.h"

namespace keep::platform {

VersionNumber ProgramVersion() {
  VersionNumber version;
  version.major = KEEP_VERSION_MAJOR;
  version.minor = KEEP_VERSION_MINOR;
  version.release = KEEP_VERSION_PATCH;
  version.build = KEEP_VERSION_TWEAK;
  return version;
}

std::string FormatVersionText(const VersionNumber& version) {
  return "Version " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.release) + "  (Build " + std::to_string(version.build) + ")";
}

TFormatSettings FixedFormatSettings() {
  // Spelled out rather than left to the defaults: these are what every stored file and every
  // answer to a client is written with, so they must not follow a change of the struct.
  TFormatSettings settings;
  settings.DecimalSeparator = '.';
  settings.ThousandSeparator = ',';
  settings.DateSeparator = '/';
  settings.TimeSeparator = ':';
  settings.ShortDateFormat = "dd/MM/yyyy";
  settings.LongDateFormat = "dd/MM/yyyy";
  settings.LongTimeFormat = "hh:mm:ss";
  return settings;
}

}  // namespace keep::platform
