#include "server/links/logger.h"

namespace keep::server {

void TLogger::SetAutoOpen(bool value) {
  std::lock_guard guard(lock_);
  CheckInactive();
  auto_open_ = value;
}

void TLogger::Log(std::string_view LogName, uint8_t Channel, std::string_view Data) {
  if (!Active() && !AutoOpen()) return;
  // Logging must never disturb the link that logged, so nothing escapes from here, whatever the
  // handlers or the writer raise.
  try {
    bool accept = true;
    if (AcceptChannel) AcceptChannel(*this, LogName, Channel, accept);
    if (!accept) return;

    std::lock_guard guard(lock_);
    const bool was_active = Active();
    try {
      Open();
      DoLog(LogName, Channel, Data);
    } catch (...) {
      // An AutoOpen logger must not stay open (holding the file) because one entry failed.
      try {
        SetActive(was_active);
      } catch (...) {
      }
      throw;
    }
    SetActive(was_active);
  } catch (const std::exception& e) {
    try {
      DoException(e, LogName, Channel, Data);
    } catch (...) {
    }
  } catch (...) {
    try {
      DoException(EConnectError("Unknown error while writing the log"), LogName, Channel, Data);
    } catch (...) {
    }
  }
}

void TLogger::DoLog(std::string_view LogName, uint8_t Channel, std::string_view Data) {
  std::string text;
  FormatLog(LogName, Channel, text, Data);
  WriteLogString(text);
}

void TLogger::DoException(const std::exception& E, std::string_view Name, uint8_t Channel,
                          std::string_view OriginalMessage) {
  if (OnException) OnException(*this, E, Name, Channel, OriginalMessage);
}

}  // namespace keep::server
