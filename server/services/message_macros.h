// Live values for the "#NAME#" macros of the event messages, and the provider the server uses.
#pragma once

#include <functional>
#include <string>

#include "server/records/setup_data.h"

namespace keep::server {

// One function per macro, each called only when its macro occurs in a message and at the moment
// the message is built (so "#TIMELEFT#" shows the minutes of that moment). An empty function gives
// the empty text. The functions run in the thread that reads the message; whatever they capture
// must outlive the object and be safe to read there.
struct MessageMacros {
  std::function<std::string()> Computer;     // "#COMPUTER#"
  std::function<std::string()> Location;     // "#LOCATION#"
  std::function<std::string()> UpsName;      // "#UPSNAME#"
  std::function<std::string()> CommDevice;   // "#COMMDEVICE#"
  std::function<std::string()> TimeLeft;     // "#TIMELEFT#"
  std::function<std::string()> ListenPort;   // "#LISTENPORT#"
  std::function<std::string()> DownWarning;  // "#DOWNWARNING#"
};

// The server's macros: Location, CommDevice (UpsDevice, or UpsNetCardAddress on the network
// adapter link, UpsManType 2), ListenPort and DownWarning (SrvDownWarningTime in whole minutes) from
// `setup`, read when the macro is expanded; Computer is `computer_name` upper-cased; UpsName and
// TimeLeft are the given functions as they are. `setup` is kept by reference and must outlive the
// result; empty functions give empty texts.
MessageMacros BasicMessageMacros(const TSetupData& setup, std::function<std::string()> computer_name,
                                 std::function<std::string()> ups_name, std::function<std::string()> time_left);

}  // namespace keep::server
