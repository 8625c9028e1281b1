// A logger that turns blocks of bytes into readable lines (optional time stamp, name and channel
// labels, bytes as text or as hexadecimal) and writes them to an output stream.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "common/format_settings.h"
#include "platform/clock.h"
#include "server/links/logger.h"

namespace keep::server {

class TStreamLogger : public TLogger {
 public:
  // `clock` dates the stamps and must outlive the logger; `formats` gives the stamp's date form.
  TStreamLogger(const platform::WallClock& clock, TFormatSettings formats);
  ~TStreamLogger() override;

  // Properties are set from the thread that owns the logger; the setters take the logger's lock,
  // so a change never lands in the middle of an entry. These two may change at any time.
  TLogFormatFlags LogFlags() const { return log_flags_; }
  void SetLogFlags(TLogFormatFlags value);
  // Characters after which a line is broken; 0 never breaks.
  int MaxLineLength() const { return max_line_length_; }
  void SetMaxLineLength(int value);

  // Asked before each byte when lfDivideStream is set; I is the 1-based position of the byte in
  // aText. The handler may set aDivide to start a new line there, and may also change aText and I
  // (formatting ends when I leaves the text).
  TOnDivideStream OnDivideStream;

  // The output, not owned; null writes nothing. A derived class sets its own stream; otherwise the
  // caller keeps the stream alive while it is set.
  void SetStream(std::ostream* stream);

 protected:
  // Moves the stream to its end, so entries are appended.
  void DoOpen() override;
  // The stream belongs to whoever set it: nothing to release here.
  void DoClose() override;
  // Writes and flushes Text; EConnectError when the stream fails.
  void WriteLogString(std::string_view Text) override;
  void FormatLog(std::string_view Name, uint8_t Channel, std::string& Text, std::string_view Data) override;
  virtual bool DoDivideStream(std::string_view Name, uint8_t Channel, std::string& Text, int& I);

  std::ostream* Stream() const { return stream_; }

 private:
  enum class LineEnd : uint8_t { kNone, kCarriageReturn, kLineFeed };

  std::string Stamp() const;

  const platform::WallClock& clock_;
  const TFormatSettings formats_;
  TLogFormatFlags log_flags_{lfInsertName, lfInsertChannel, lfDivideNames, lfDivideChannels, lfHexadecimal};
  int max_line_length_ = 80;
  std::ostream* stream_ = nullptr;

  // The line state carries over from one entry to the next, so consecutive blocks continue a line.
  std::string last_name_;
  uint8_t last_channel_ = 0;
  int64_t line_length_ = 0;
  LineEnd last_line_end_ = LineEnd::kNone;
};

}  // namespace keep::server
