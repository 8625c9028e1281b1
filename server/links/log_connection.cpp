#include "server/links/log_connection.h"

#include <algorithm>
#include <limits>

namespace keep::server {
namespace {

// A single receive never allocates more than this, whatever count a link asks for.
constexpr int kMaxReceiveBlock = 1 << 20;

}  // namespace

void TLogConnection::Log(uint8_t Channel, std::string_view Data) {
  std::string text(Data);
  DoFormatLog(Channel, text);
  if (Logger != nullptr) Logger->Log(LogName, Channel, text);
}

void TLogConnection::DoFormatLog(uint8_t Channel, std::string& Text) {
  if (OnFormatLog) OnFormatLog(*this, Channel, Text);
}

int TCommunicationConnection::Send(std::string_view Data) {
  Log(kChannelSent, Data);
  return WriteData(Data.data(), static_cast<int>(std::min<size_t>(Data.size(), std::numeric_limits<int>::max())));
}

std::string TCommunicationConnection::Receive(int Count) {
  std::string data(static_cast<size_t>(std::clamp(Count, 0, kMaxReceiveBlock)), '\0');
  const int read = ReadData(data.data(), static_cast<int>(data.size()));
  // A link reporting more than it was given room for must not make us read past the buffer.
  data.resize(static_cast<size_t>(std::clamp(read, 0, static_cast<int>(data.size()))));
  Log(kChannelReceived, data);
  return data;
}

void TCommunicationConnection::DoRxChar(int Count) {
  if (OnRxChar) OnRxChar(*this, Count);
}

}  // namespace keep::server
