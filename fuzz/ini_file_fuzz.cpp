// Language files are edited by hand and shipped by third parties: any bytes must give a bounded
// value and never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/ini_file.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSections[] = {"LOGS", "errors", "Messages", "", " a "};
  constexpr std::string_view kKeys[] = {"6", "NewSessionStart", "k", "", "=", ";"};
  for (std::string_view section : kSections) {
    for (std::string_view key : kKeys) {
      const std::string value = keep::LookupIniValue(content, section, key);
      Check(value.size() <= keep::kIniMaxValueLength);
      Check(value.find('\n') == std::string::npos);
      // Lookups are not case-sensitive in the section name.
      std::string upper(section);
      for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      Check(keep::LookupIniValue(content, upper, key) == value);
    }
  }
  // Any line of text stored quoted under a key of its own comes back whole (up to the cut).
  const std::string line(content.substr(0, content.find_first_of("\r\n")));
  const std::string wrapped = "[fz]\nkey=\"" + line + "\"\n";
  const std::string found = keep::LookupIniValue(wrapped, "FZ", "KEY");
  Check(found == line.substr(0, keep::kIniMaxValueLength));
  return 0;
}
