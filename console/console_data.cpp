#include "console/console_data.h"

namespace keep::console {

std::string LookUpCode(const CodeTable& table, const std::string& code) {
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    if (it->first == code) return it->second;
  }
  return {};
}

}  // namespace keep::console
