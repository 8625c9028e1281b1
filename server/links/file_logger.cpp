#include "server/links/file_logger.h"

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

namespace keep::server {
namespace {

constexpr std::string_view kPlaceholder = "%d";

}  // namespace

TFileLogger::TFileLogger(const platform::WallClock& clock, TFormatSettings formats)
    : TStreamLogger(clock, std::move(formats)) {}

TFileLogger::~TFileLogger() { Destroy(); }

void TFileLogger::SetLogFile(const std::string& value) {
  std::lock_guard guard(Lock());
  const bool was_active = Active();
  Close();
  log_file_ = value;
  if (was_active && !log_file_.empty()) Open();
}

void TFileLogger::SetMaxFileSize(int value) {
  std::lock_guard guard(Lock());
  max_file_size_ = value;
}

void TFileLogger::SetRotateCount(uint16_t value) {
  std::lock_guard guard(Lock());
  rotate_count_ = value;
}

std::string TFileLogger::FileName(int n) const {
  if (log_file_.find(kPlaceholder) == std::string::npos) {
    return n == 0 ? log_file_ : log_file_ + "." + std::to_string(n);
  }
  std::string name;
  size_t from = 0;
  for (size_t at = log_file_.find(kPlaceholder); at != std::string::npos; at = log_file_.find(kPlaceholder, from)) {
    name.append(log_file_, from, at - from).append(std::to_string(n));
    from = at + kPlaceholder.size();
  }
  name.append(log_file_, from);
  return name;
}

void TFileLogger::DoOpen() {
  std::lock_guard guard(Lock());
  if (log_file_.empty()) throw EConnectError("No log file name is set");
  const std::string name = FileName(0);
  errno = 0;
  // Appending creates a missing file and never truncates an existing one.
  auto file = std::make_unique<std::ofstream>(name, std::ios::binary | std::ios::out | std::ios::app);
  if (!*file) {
    const int error = errno;
    std::string message = "Cannot open the log file \"" + name + "\"";
    if (error != 0) message += ": " + std::generic_category().message(error);
    throw EConnectError(message);
  }
  SetStream(nullptr);
  file_ = std::move(file);
  SetStream(file_.get());
  TStreamLogger::DoOpen();
}

void TFileLogger::DoClose() {
  std::lock_guard guard(Lock());
  SetStream(nullptr);
  file_.reset();
}

void TFileLogger::WriteLogString(std::string_view Text) {
  std::lock_guard guard(Lock());
  if (!file_) DoOpen();
  TStreamLogger::WriteLogString(Text);
  if (max_file_size_ <= 0) return;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(FileName(0), ec);
  if (!ec && size >= static_cast<std::uintmax_t>(max_file_size_)) Rotate();
}

void TFileLogger::Rotate() {
  DoClose();
  // A file that cannot be deleted or renamed must not stop logging: the new current file is opened
  // whatever happened to the old ones.
  std::error_code ignored;
  if (rotate_count_ == 0) {
    std::filesystem::remove(FileName(0), ignored);
  } else {
    for (int n = rotate_count_; n >= 1; --n) {
      std::filesystem::remove(FileName(n), ignored);
      std::filesystem::rename(FileName(n - 1), FileName(n), ignored);
    }
  }
  DoOpen();
}

}  // namespace keep::server
