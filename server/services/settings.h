// Reading the server's configuration from the registry into TSetupData, and writing back the three
// values the battery estimate maintains.
//
// Every function here does its own registry calls and keeps no state, so any thread may call it
// with a registry it is allowed to use; the server calls them from the main thread. Registry
// failures never raise: a value that cannot be read (missing key, missing value, value of another
// type) gives the default, and a write that fails is reported only through the bool result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "server/records/setup_data.h"

namespace keep::server {

// --- Registry helpers ------------------------------------------------------------------------
// `key` is a path below HKEY_LOCAL_MACHINE. The const forms only read. The forms with `create`
// write the default when the value does not exist at all and `create` is true; a value that exists
// with another type is left alone (it still reads as the default). The server always reads with
// create = false; the create forms exist for the tools that lay out a fresh registry.

std::string ReadRegString(const platform::Registry& registry, std::string_view key, std::string_view name,
                          std::string_view default_value);
std::string ReadRegString(platform::Registry& registry, std::string_view key, std::string_view name,
                          std::string_view default_value, bool create);

// A number value, non-zero meaning true.
bool ReadRegBool(const platform::Registry& registry, std::string_view key, std::string_view name, bool default_value);
bool ReadRegBool(platform::Registry& registry, std::string_view key, std::string_view name, bool default_value,
                 bool create);

// A 32-bit number value read as two's complement, so 0xFFFFFFFF gives -1.
int32_t ReadRegInteger(const platform::Registry& registry, std::string_view key, std::string_view name,
                       int32_t default_value);
int32_t ReadRegInteger(platform::Registry& registry, std::string_view key, std::string_view name, int32_t default_value,
                       bool create);

// Create the key when needed and write the value; false when the registry could not be written.
bool WriteRegString(platform::Registry& registry, std::string_view key, std::string_view name, std::string_view value);
bool WriteRegInteger(platform::Registry& registry, std::string_view key, std::string_view name, int32_t value);

// --- Configuration look-ups -------------------------------------------------------------------

// The suite's installation folder, always ending with "/"; empty when not configured.
std::string GetInstallPath(const platform::Registry& registry);

// The language file's name inside install_path + "languages/"; empty when not configured or when
// that file does not exist (install_path must end with "/", as GetInstallPath returns it).
std::string GetLanguageFile(const platform::Registry& registry, std::string_view install_path);

// The configured UPS model name; empty when not configured.
std::string GetUpsModelName(const platform::Registry& registry);

// Fills `setup` from the registry. Returns kErrorOk, or kErrorInvalidSetup when the install path or
// the language file is missing; in that case nothing further is read and only InstallPath may have
// changed. Reading never writes to the registry (the reference is non-const only because the
// helpers' create forms need it). Events are replaced, not appended to; UsbDevices is left alone.
int LoadSettings(platform::Registry& registry, TSetupData& setup);

// --- Write-back ---------------------------------------------------------------------------------
// The only values the server writes. Percentages are stored as decimal text with "." and at most
// four decimals. A value that is not finite is not written (it would read back as the default and
// lose the previous value); the result is then false. Failures are otherwise dropped by callers.

bool SaveBatteryCapacity(platform::Registry& registry, float capacity);
bool SaveLoadPercent(platform::Registry& registry, float load_r);
bool SaveAutonomyTime(platform::Registry& registry, int32_t seconds);

// The decimal text the percentages are stored as: "." separator, rounded to four decimals, without
// trailing zeros or a trailing "." (85.25 -> "85.25", 100 -> "100", 1/3 -> "0.3333"). Independent of
// the C locale. Empty for a value that is not finite.
std::string FormatSettingDecimal(float value);

// Reads a stored percentage: a decimal number with "." and optional surrounding blanks; anything
// else (empty, trailing junk, "nan", "inf", out of range) gives `default_value`.
float ParseSettingDecimal(std::string_view text, float default_value);

}  // namespace keep::server
