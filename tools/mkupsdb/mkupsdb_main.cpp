// mkupsdb SOURCE OUTPUT: builds the scrambled UPS model database from its plain text source.
// Exit status 0 when OUTPUT was written; 1 when the source holds a refused line (each reported as
// "SOURCE:LINE: reason") or a file cannot be read or written; 2 for a wrong command line. OUTPUT is
// replaced only once everything has been checked and written, so a failed run leaves no half file.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>

#include "tools/mkupsdb/upsdb_source.h"

namespace {

// Far above any real source; a mistaken path to a huge file is refused rather than read.
constexpr std::uintmax_t kMaxSourceBytes = 64u << 20;

bool ReadSource(const std::string& path, std::string& text) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size > kMaxSourceBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return false;
  text = content.str();
  return true;
}

bool WriteOutput(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) std::remove(temporary.c_str());
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: mkupsdb SOURCE OUTPUT\n";
    return 2;
  }
  const std::string source_path = argv[1];
  const std::string output_path = argv[2];

  std::string source;
  if (!ReadSource(source_path, source)) {
    std::cerr << "mkupsdb: cannot read " << source_path << "\n";
    return 1;
  }
  const keep::tools::ModelDatabase database = keep::tools::BuildModelDatabase(source);
  for (const keep::tools::SourceError& error : database.errors) {
    std::cerr << source_path << ":" << error.line << ": " << error.message << "\n";
  }
  if (!database.errors.empty()) return 1;
  if (!WriteOutput(output_path, database.text)) {
    std::cerr << "mkupsdb: cannot write " << output_path << "\n";
    return 1;
  }
  return 0;
}
