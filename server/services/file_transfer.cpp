#include "server/services/file_transfer.h"

#include <filesystem>
#include <istream>
#include <system_error>

namespace keep::server {
namespace {

namespace fs = std::filesystem;

// One line without its LF and one CR before it; bytes beyond the limit are skipped. False at the end
// of the stream. A last line without LF counts when it holds anything.
bool ReadBoundedLine(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) break;
    any = true;
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    if (line.size() < kMaxTransferLineBytes) line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

}  // namespace

std::unique_ptr<FileTransfer> FileTransfer::Open(const std::string& install_path, const std::string& file_name,
                                                 const std::string& copy_name, int code) {
  std::error_code error;
  const std::string folder = install_path + "srvtemp/";
  fs::create_directories(folder, error);
  const std::string copy_path = folder + copy_name;
  if (!fs::copy_file(install_path + file_name, copy_path, fs::copy_options::overwrite_existing, error) || error) {
    fs::remove(copy_path, error);
    return nullptr;
  }
  std::unique_ptr<FileTransfer> transfer(new FileTransfer(copy_path, code));
  // Counting first costs a second read of the copy but keeps only one line in memory at a time.
  std::ifstream counter(copy_path, std::ios::binary);
  if (!counter) return nullptr;
  std::string line;
  while (ReadBoundedLine(counter, line)) ++transfer->line_count_;
  transfer->in_.open(copy_path, std::ios::binary);
  if (!transfer->in_) return nullptr;
  return transfer;
}

FileTransfer::~FileTransfer() {
  in_.close();
  std::error_code ignored;
  fs::remove(copy_path_, ignored);
}

bool FileTransfer::Pump(const AnswerSink& send, size_t budget) {
  if (!count_sent_) {
    count_sent_ = true;
    if (!send(std::to_string(line_count_))) return false;
    if (line_count_ == 0) return false;
  }
  size_t spent = 0;
  std::string line;
  while (spent < budget) {
    // The copy may end early (a read error): stop at what was counted rather than send a wrong "@".
    if (sent_lines_ == line_count_ || !ReadBoundedLine(in_, line)) break;
    std::string parameter = std::to_string(sent_lines_ + 1) + "|" + line;
    spent += parameter.size();
    if (!send(parameter)) return false;
    ++sent_lines_;
  }
  if (sent_lines_ < line_count_ && spent >= budget) return true;
  if (sent_lines_ == line_count_) send("@");
  return false;
}

}  // namespace keep::server
