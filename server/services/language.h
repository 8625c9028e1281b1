// Texts for people, read from the installation's language file.
#pragma once

#include <string>
#include <string_view>

#include "server/core/setup_data.h"

namespace keep::server {

// The value of `key` in `section` of the language file ("" when the file, section or key is
// missing). Read afresh on every call, so an edited language file takes effect at once.
std::string LanguageText(const TSetupData& setup, std::string_view section, std::string_view key);

}  // namespace keep::server
