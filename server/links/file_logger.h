// The stream logger written to a file, with optional rotation by size: when the current file
// reaches MaxFileSize it becomes name 1, name 1 becomes name 2 and so on up to RotateCount, and a
// new empty current file is started.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "server/links/stream_logger.h"

namespace keep::server {

class TFileLogger : public TStreamLogger {
 public:
  TFileLogger(const platform::WallClock& clock, TFormatSettings formats);
  ~TFileLogger() override;

  // Properties are set from the thread that owns the logger (see TStreamLogger).
  const std::string& LogFile() const { return log_file_; }
  // Takes effect at once: an active logger closes the old file and opens the new one (an
  // EConnectError of that opening reaches the caller and leaves the logger inactive). An empty
  // name closes the logger and leaves it inactive.
  void SetLogFile(const std::string& value);
  // Size in bytes at which the file is rotated; 0 (the default) for no limit.
  int MaxFileSize() const { return max_file_size_; }
  void SetMaxFileSize(int value);
  // Older files kept by rotation; 0 deletes the full file instead.
  uint16_t RotateCount() const { return rotate_count_; }
  void SetRotateCount(uint16_t value);

  // Name N of the rotation set, 0 being the current file: every "%d" of LogFile replaced by N;
  // without "%d", LogFile itself for 0 and LogFile + "." + N otherwise.
  std::string FileName(int n) const;

 protected:
  // Creates the current file when missing and opens it for appending; EConnectError naming the file
  // when it cannot be opened.
  void DoOpen() override;
  void DoClose() override;
  // Writes, then rotates when the file has reached MaxFileSize. An active logger whose file could
  // not be reopened tries again here, so the failure is reported instead of entries vanishing.
  void WriteLogString(std::string_view Text) override;

 private:
  void Rotate();

  std::string log_file_;
  int max_file_size_ = 0;
  uint16_t rotate_count_ = 0;
  std::unique_ptr<std::ofstream> file_;
};

}  // namespace keep::server
