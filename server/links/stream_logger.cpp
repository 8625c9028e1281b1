#include "server/links/stream_logger.h"

#include <mutex>
#include <utility>

namespace keep::server {
namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";
constexpr std::string_view kLineBreak = "\r\n";

std::string ChannelLabel(uint8_t channel, bool hexadecimal) {
  std::string label{kLowerHex[channel >> 4], kLowerHex[channel & 0x0F], ')'};
  // Without a hex dump the bytes follow as text, and a blank keeps them apart from the label.
  if (!hexadecimal) label += ' ';
  return label;
}

std::string HexByte(char ch) {
  const auto code = static_cast<unsigned char>(ch);
  return std::string{kUpperHex[code >> 4], kUpperHex[code & 0x0F], ' '};
}

}  // namespace

TStreamLogger::TStreamLogger(const platform::WallClock& clock, TFormatSettings formats)
    : clock_(clock), formats_(std::move(formats)) {}

TStreamLogger::~TStreamLogger() { Destroy(); }

void TStreamLogger::SetLogFlags(TLogFormatFlags value) {
  std::lock_guard guard(Lock());
  log_flags_ = value;
}

void TStreamLogger::SetMaxLineLength(int value) {
  std::lock_guard guard(Lock());
  max_line_length_ = value;
}

void TStreamLogger::SetStream(std::ostream* stream) {
  std::lock_guard guard(Lock());
  stream_ = stream;
}

void TStreamLogger::DoOpen() {
  std::lock_guard guard(Lock());
  if (stream_ != nullptr) stream_->seekp(0, std::ios::end);
}

void TStreamLogger::DoClose() {}

void TStreamLogger::WriteLogString(std::string_view Text) {
  std::lock_guard guard(Lock());
  if (stream_ == nullptr) return;
  // A failed seek (a stream that cannot seek) or an earlier failed write must not silence every
  // entry after it: each entry gets its own attempt and its own report.
  stream_->clear();
  stream_->write(Text.data(), static_cast<std::streamsize>(Text.size()));
  stream_->flush();
  if (!*stream_) throw EConnectError("Cannot write to the log");
}

bool TStreamLogger::DoDivideStream(std::string_view Name, uint8_t Channel, std::string& Text, int& I) {
  bool divide = false;
  if (OnDivideStream) OnDivideStream(*this, Name, Channel, Text, I, divide);
  return divide;
}

std::string TStreamLogger::Stamp() const {
  return FormatDateTime(formats_.ShortDateFormat + " hh:nn:ss.zzz", formats_, clock_.Now()) + ")";
}

void TStreamLogger::FormatLog(std::string_view Name, uint8_t Channel, std::string& Text, std::string_view Data) {
  std::lock_guard guard(Lock());
  const TLogFormatFlags flags = log_flags_;
  const int64_t max_line_length = max_line_length_;
  const std::string stamp = flags.Has(lfStamp) ? Stamp() : std::string();
  const std::string label = ChannelLabel(Channel, flags.Has(lfHexadecimal));

  Text.clear();
  // Line breaks that the formatter inserts go straight into Text: they are not part of any line.
  auto append = [&](std::string_view piece) {
    Text.append(piece);
    line_length_ += static_cast<int64_t>(piece.size());
  };

  // A divide handler may rewrite the block and move the position, so work on a copy by index.
  std::string data(Data);
  int i = 1;
  while (i >= 1 && static_cast<size_t>(i) <= data.size()) {
    bool at_line_start = line_length_ == 0;
    const bool divide = (flags.Has(lfDivideNames) && Name != last_name_) ||
                        (flags.Has(lfDivideChannels) && Channel != last_channel_) ||
                        (flags.Has(lfDivideStream) && DoDivideStream(Name, Channel, data, i));
    if (divide) {
      line_length_ = 0;
      at_line_start = false;
    }
    if (i < 1 || static_cast<size_t>(i) > data.size()) break;

    const char ch = data[static_cast<size_t>(i - 1)];
    const bool same_source = Name == last_name_ && Channel == last_channel_;
    const bool completes_pair = (ch == '\n' && last_line_end_ == LineEnd::kCarriageReturn) ||
                                (ch == '\r' && last_line_end_ == LineEnd::kLineFeed);

    const bool new_line = line_length_ == 0;
    if (new_line) {
      if (!at_line_start) Text.append(kLineBreak);
      // The second half of a CR LF pair belongs to the line the first half ended: no stamp of its own.
      if (flags.Has(lfStamp) && !(same_source && completes_pair)) append(stamp);
    }

    if ((Name != last_name_ || new_line) && flags.Has(lfInsertName)) {
      append(Name);
      append("-");
      if (flags.Has(lfInsertChannel)) append(label);
    } else if ((Channel != last_channel_ || new_line) && flags.Has(lfInsertChannel)) {
      append(label);
    }
    last_name_.assign(Name);
    last_channel_ = Channel;

    if (flags.Has(lfHexadecimal)) {
      append(HexByte(ch));
    } else {
      append(std::string_view(&ch, 1));
    }

    if (ch == '\r' || ch == '\n') {
      line_length_ = 0;
      // A pair is two different line-end characters in a row; the line end after a pair starts a
      // new one.
      if (completes_pair) {
        last_line_end_ = LineEnd::kNone;
      } else {
        last_line_end_ = ch == '\r' ? LineEnd::kCarriageReturn : LineEnd::kLineFeed;
      }
    } else {
      last_line_end_ = LineEnd::kNone;
    }

    if (max_line_length != 0 && line_length_ >= max_line_length) {
      if (static_cast<size_t>(i) < data.size()) Text.append(kLineBreak);
      line_length_ = 0;
    }
    ++i;
  }

  if (flags.Has(lfAutoCR)) {
    Text.append(kLineBreak);
    line_length_ = 0;
  }
  last_name_.assign(Name);
  last_channel_ = Channel;
}

}  // namespace keep::server
