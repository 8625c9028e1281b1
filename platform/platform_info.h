// Facts about the operating system and the program that the logic asks for.
#pragma once

#include <string>

#include "common/format_settings.h"

namespace keep::platform {

struct VersionNumber {
  int major = 0;
  int minor = 0;
  int release = 0;
  int build = 0;
};

bool IsNT();
bool IsVistaOrLater();

// The version compiled into this program.
VersionNumber ProgramVersion();
// "Version %d.%d.%d  (Build %d)" of the version of `file`; the empty text when it has none. Every
// program of the project carries the project's version, so on POSIX that is ProgramVersion() for
// an existing file and the empty text for a missing one.
std::string VersionText(const std::string& file);
std::string FormatVersionText(const VersionNumber& version);

// The system's formats forced to the fixed separators and patterns the files and answers use.
TFormatSettings FixedFormatSettings();

// Upper-cased name of this computer ("" when it cannot be read).
std::string ComputerName();

// Full path of the running executable ("" when unknown).
std::string ExecutablePath();

}  // namespace keep::platform
