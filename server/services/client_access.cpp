#include "server/services/client_access.h"

#include "common/text_lists.h"
#include "server/records/registry_keys.h"

namespace keep::server {
namespace {

bool Allowed(const std::optional<AddressList>& list, std::string_view peer) {
  if (peer == kLocalConsoleAddress) return true;
  return list && (list->Empty() || list->Contains(peer));
}

}  // namespace

std::optional<InvalidSetting> FindInvalidAccessSetting(const TServerSetup& setup) {
  const std::string_view listen = TrimBlanks(setup.SrvListenAddress);
  if (!listen.empty() && !ParseIpv4(listen)) {
    return InvalidSetting{std::string(regkeys::kSrvListenAddress), setup.SrvListenAddress};
  }
  if (!AddressList::Parse(setup.SrvClientsAllowed)) {
    return InvalidSetting{std::string(regkeys::kSrvClientsAllowed), setup.SrvClientsAllowed};
  }
  if (!AddressList::Parse(setup.SrvControlAllowed)) {
    return InvalidSetting{std::string(regkeys::kSrvControlAllowed), setup.SrvControlAllowed};
  }
  return std::nullopt;
}

bool IsControlRequest(int code) { return code == 203 || (code >= 300 && code < 500); }

ClientAccess::ClientAccess(const TServerSetup& setup)
    : clients_(AddressList::Parse(setup.SrvClientsAllowed)), control_(AddressList::Parse(setup.SrvControlAllowed)) {}

bool ClientAccess::MayConnect(std::string_view peer) const { return Allowed(clients_, peer); }

bool ClientAccess::MayControl(std::string_view peer) const { return Allowed(control_, peer); }

}  // namespace keep::server
