// Connections that copy their traffic into a logger: the base of every UPS link.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "server/links/connection.h"
#include "server/links/logger.h"

namespace keep::server {

using TFormatLogEvent = std::function<void(TConnection& Sender, uint8_t aChannel, std::string& aText)>;

class TLogConnection : public TConnection {
 public:
  // Not owned; may be null. Must outlive the connection or be cleared first.
  TLogger* Logger = nullptr;
  std::string LogName;
  TFormatLogEvent OnFormatLog;

  // Lets OnFormatLog rewrite Data, then hands it to the logger (when there is one). Any thread that
  // may use the link (the logger is thread-safe).
  void Log(uint8_t Channel, std::string_view Data);

 protected:
  virtual void DoFormatLog(uint8_t Channel, std::string& Text);
};

using TCommRxCharEvent = std::function<void(TConnection& Sender, int Count)>;

class TCommunicationConnection : public TLogConnection {
 public:
  // Logs Data on channel 1, then writes it; returns the number of bytes written.
  int Send(std::string_view Data);
  // Reads up to Count bytes (what is there, possibly none), logs them on channel 2, returns them.
  std::string Receive(int Count);

  // Bytes waiting to be read, -1 when inactive.
  virtual int InQueue() = 0;
  virtual void PurgeIn() = 0;
  virtual void PurgeOut() = 0;
  virtual int WriteData(const char* Buffer, int Count) = 0;
  virtual int ReadData(char* Buffer, int Count) = 0;

  TCommRxCharEvent OnRxChar;
  // When true, OnRxChar runs on the link's own thread instead of being handed to the main thread.
  bool DontSynchronize = false;

 protected:
  virtual void DoRxChar(int Count);
};

}  // namespace keep::server
