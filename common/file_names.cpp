#include "common/file_names.h"

#include <string>

namespace keep {

std::string_view FileExtension(std::string_view file_name) {
  const size_t separator = file_name.find_last_of("\\/");
  const size_t name_start = separator == std::string_view::npos ? 0 : separator + 1;
  const size_t dot = file_name.rfind('.');
  // A dot in a folder name ("C:\dir.bat\run") is not an extension.
  if (dot == std::string_view::npos || dot < name_start) return {};
  return file_name.substr(dot);
}

bool IsBatchFile(std::string_view file_name) {
  std::string ext(FileExtension(file_name));
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ext == ".BAT" || ext == ".CMD" || ext == ".SH";
}

}  // namespace keep
