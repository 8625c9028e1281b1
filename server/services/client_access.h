// Who may use the client port: which addresses may connect at all, and which may also change
// things (the UPS, its settings, the plan of shutdowns, this computer). Reading stays open to every
// client that may connect. The local console, 127.0.0.1, may always do both.
//
// Built once from the settings and immutable afterwards: the listener asks it for every connection
// it accepts, the request check for every change asked for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/records/setup_data.h"
#include "server/services/address_list.h"

namespace keep::server {

// The address that is always let in.
inline constexpr char kLocalConsoleAddress[] = "127.0.0.1";

// A setting that cannot be used: its registry name and its text.
struct InvalidSetting {
  std::string name;
  std::string text;
};

// The first access setting (listen address, clients allowed, control allowed) that holds no valid
// value; nullopt when all can be used. An empty value is valid (every address, everyone).
std::optional<InvalidSetting> FindInvalidAccessSetting(const TServerSetup& setup);

// Requests that change something: the plan upload (203), settings and commands (3xx), tests (4xx).
bool IsControlRequest(int code);

class ClientAccess {
 public:
  // Everyone may connect and control.
  ClientAccess() = default;
  // From the settings. A list that does not parse lets in the local console alone (the start
  // sequence refuses such settings before; this only keeps a damaged list from opening the door).
  explicit ClientAccess(const TServerSetup& setup);

  bool MayConnect(std::string_view peer) const;
  bool MayControl(std::string_view peer) const;

 private:
  // Empty: nobody but the local console.
  std::optional<AddressList> clients_ = AddressList();
  std::optional<AddressList> control_ = AddressList();
};

}  // namespace keep::server
