// Lists of IPv4 addresses and networks from the settings ("SrvClientsAllowed", "SrvControlAllowed"):
// entries separated by ",", each an address "192.168.1.20" or a network "192.168.1.0/24", blanks
// around them ignored. Immutable once parsed, so any thread may ask it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keep::server {

class AddressList {
 public:
  // The list in `text`; an empty (or blank) text is the empty list. Nullopt when any entry is not an
  // address or network (an empty entry, an octet above 255, a prefix above 32, anything else): a
  // damaged list must never be taken for an empty one, which lets everyone in.
  static std::optional<AddressList> Parse(std::string_view text);

  bool Empty() const { return networks_.empty(); }
  // Whether the dotted IPv4 `address` lies in one of the entries; false for a text that is no address.
  bool Contains(std::string_view address) const;

 private:
  struct Network {
    uint32_t base = 0;
    uint32_t mask = 0;
  };
  std::vector<Network> networks_;
};

// The dotted IPv4 address `text` ("10.0.0.1": four decimal octets 0-255, nothing else) as a number.
std::optional<uint32_t> ParseIpv4(std::string_view text);

}  // namespace keep::server
