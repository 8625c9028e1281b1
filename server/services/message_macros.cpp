#include "server/services/message_macros.h"

#include <utility>

namespace keep::server {
namespace {

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

MessageMacros BasicMessageMacros(const TSetupData& setup, std::function<std::string()> computer_name,
                                 std::function<std::string()> ups_name, std::function<std::string()> time_left) {
  const TServerSetup& server = setup.ServerSetup;
  MessageMacros macros;
  macros.Computer = [name = std::move(computer_name)] { return name ? UpperAscii(name()) : std::string(); };
  macros.Location = [&server] { return server.SrvLocation; };
  macros.UpsName = std::move(ups_name);
  macros.CommDevice = [&server] { return server.UpsManType == 2 ? server.UpsNetCardAddress : server.UpsDevice; };
  macros.TimeLeft = std::move(time_left);
  macros.ListenPort = [&server] { return std::to_string(server.SrvListenPort); };
  macros.DownWarning = [&server] { return std::to_string(server.SrvDownWarningTime / 60); };
  return macros;
}

}  // namespace keep::server
