#include "server/services/language.h"

#include "common/ini_file.h"

namespace keep::server {

std::string LanguageText(const TSetupData& setup, std::string_view section, std::string_view key) {
  if (setup.LanguageFile.empty()) return {};
  return ReadIniValue(setup.LanguageFile, section, key);
}

}  // namespace keep::server
