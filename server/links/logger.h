// Traffic loggers: a logger is a connection (opened and closed like a link) that formats and
// writes blocks of bytes labelled with a name and a channel. Log() may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/format_settings.h"
#include "platform/clock.h"
#include "server/links/connection.h"

namespace keep::server {

// Channels of the communication links.
inline constexpr uint8_t kChannelSent = 1;
inline constexpr uint8_t kChannelReceived = 2;

enum TLogFormatFlag : uint8_t {
  lfInsertName = 0,
  lfInsertChannel = 1,
  lfDivideNames = 2,
  lfDivideChannels = 3,
  lfDivideStream = 4,
  lfHexadecimal = 5,
  lfStamp = 6,
  lfAutoCR = 7,
};

// A set of TLogFormatFlag in one byte, bit n for the flag of value n.
class TLogFormatFlags {
 public:
  constexpr TLogFormatFlags() = default;
  constexpr TLogFormatFlags(std::initializer_list<TLogFormatFlag> flags) {
    for (TLogFormatFlag f : flags) bits_ = static_cast<uint8_t>(bits_ | (1u << f));
  }
  constexpr bool Has(TLogFormatFlag f) const { return (bits_ >> f) & 1u; }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TLogFormatFlags&) const = default;

 private:
  uint8_t bits_ = 0;
};

class TLogger;
using TAcceptChannelEvent =
    std::function<void(TLogger& Sender, std::string_view aLogName, uint8_t aChannel, bool& aAccept)>;
using TOnExceptionEvent = std::function<void(TLogger& Sender, const std::exception& E, std::string_view aName,
                                             uint8_t aChannel, std::string_view aOriginalMessage)>;
using TOnDivideStream = std::function<void(TLogger& Sender, std::string_view aLogName, uint8_t aChannel,
                                           std::string& aText, int& I, bool& aDivide)>;

class TLogger : public TConnection {
 public:
  TLogger() = default;

  // The one entry point: formats and writes `Data` under the logger's lock. An AutoOpen logger is
  // opened for this entry and closed again. Errors go to OnException, never to the caller.
  // Any thread.
  void Log(std::string_view LogName, uint8_t Channel, std::string_view Data);

  TAcceptChannelEvent AcceptChannel;
  bool AutoOpen() const { return auto_open_.load(); }
  void SetAutoOpen(bool value);  // guarded: refused while active
  TOnExceptionEvent OnException;

 protected:
  virtual void WriteLogString(std::string_view Text) = 0;
  virtual void DoLog(std::string_view LogName, uint8_t Channel, std::string_view Data);
  virtual void FormatLog(std::string_view Name, uint8_t Channel, std::string& Text, std::string_view Data) = 0;
  virtual void DoException(const std::exception& E, std::string_view Name, uint8_t Channel,
                           std::string_view OriginalMessage);

  std::recursive_mutex& Lock() { return lock_; }
  std::recursive_mutex* ActiveLock() override { return &lock_; }

 private:
  std::atomic<bool> auto_open_{false};
  std::recursive_mutex lock_;
};

}  // namespace keep::server
