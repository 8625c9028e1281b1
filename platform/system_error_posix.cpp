#include <string.h>

#include "platform/system_error.h"

namespace keep::platform {

std::string SystemErrorText(int code) {
  char buffer[256] = {};
  // The GNU variant may return a static text instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(code);
  return text;
}

}  // namespace keep::platform
