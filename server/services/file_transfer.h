// One file download to one client (requests 200-202): the file is copied into "srvtemp/" under a
// name no other transfer uses, so a file that grows or is replaced meanwhile, or a second client
// downloading the same file, cannot disturb it; then the copy is sent as answers, a slice at a time.
//
// Main loop only. Memory stays bounded whatever the file holds: lines are read one by one from the
// copy, and a line longer than kMaxTransferLineBytes is cut there. The copy is deleted when the
// transfer is destroyed.
#pragma once

#include <cstddef>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace keep::server {

inline constexpr size_t kMaxTransferLineBytes = 64 * 1024;
// Answer bytes one transfer hands to the connection per turn of the loop, so a large file does not
// keep the loop from serving the other clients.
inline constexpr size_t kTransferSliceBytes = 64 * 1024;

class FileTransfer {
 public:
  // Sends one answer with `parameter`; false when it could not be queued (the client is gone).
  using AnswerSink = std::function<bool(const std::string& parameter)>;

  // Copies `install_path` + `file_name` to `install_path` + "srvtemp/" + `copy_name`. Null when the
  // copy cannot be made (a missing file, say); the caller then answers "0".
  static std::unique_ptr<FileTransfer> Open(const std::string& install_path, const std::string& file_name,
                                            const std::string& copy_name, int code);
  ~FileTransfer();
  FileTransfer(const FileTransfer&) = delete;
  FileTransfer& operator=(const FileTransfer&) = delete;

  int Code() const { return code_; }
  size_t LineCount() const { return line_count_; }

  // Sends the next answers, at most about `budget` bytes of parameters: first the line count, then
  // "i|line" for each line (i from 1), then "@" when there was at least one line. Returns true while
  // answers remain; false when the transfer is over, finished or broken off by a failed answer.
  bool Pump(const AnswerSink& send, size_t budget);

 private:
  FileTransfer(std::string copy_path, int code) : copy_path_(std::move(copy_path)), code_(code) {}

  std::string copy_path_;
  int code_;
  std::ifstream in_;
  size_t line_count_ = 0;
  size_t sent_lines_ = 0;
  bool count_sent_ = false;
};

}  // namespace keep::server
