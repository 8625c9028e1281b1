#include "console/keepterm_arguments.h"

#include <algorithm>
#include <cctype>

namespace keep::console {

KeeptermStart ParseKeeptermArguments(const std::vector<std::string>& arguments) {
  const bool usage = std::any_of(arguments.begin(), arguments.end(), [](std::string argument) {
    std::transform(argument.begin(), argument.end(), argument.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return argument == "--help" || argument == "-h" || argument == "/?";
  });
  if (usage) return KeeptermStart::kUsage;
  if (!arguments.empty() && arguments.front() == "-cr") return KeeptermStart::kCredits;
  return KeeptermStart::kDialog;
}

}  // namespace keep::console
