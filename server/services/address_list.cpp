#include "server/services/address_list.h"

#include <charconv>

#include "common/text_lists.h"

namespace keep::server {
namespace {

constexpr int kAddressBits = 32;

// A whole decimal number of one to three digits (no sign, no blanks).
std::optional<unsigned> SmallNumber(std::string_view text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  uint32_t address = 0;
  for (int octet = 0; octet < 4; ++octet) {
    const size_t dot = octet < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const std::optional<unsigned> value = SmallNumber(text.substr(0, dot));
    if (!value || *value > 255) return std::nullopt;
    address = (address << 8) | *value;
    text.remove_prefix(octet < 3 ? dot + 1 : dot);
  }
  return address;
}

std::optional<AddressList> AddressList::Parse(std::string_view text) {
  AddressList list;
  if (TrimBlanks(text).empty()) return list;
  for (;;) {
    const size_t comma = text.find(',');
    const std::string_view entry = TrimBlanks(text.substr(0, comma));
    const size_t slash = entry.find('/');
    const std::optional<uint32_t> address = ParseIpv4(entry.substr(0, slash));
    if (!address) return std::nullopt;
    unsigned prefix = kAddressBits;
    if (slash != std::string_view::npos) {
      const std::optional<unsigned> bits = SmallNumber(entry.substr(slash + 1));
      if (!bits || *bits > kAddressBits) return std::nullopt;
      prefix = *bits;
    }
    // A shift by the whole width is undefined, so /0 gets its mask by hand.
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (kAddressBits - prefix);
    list.networks_.push_back({*address & mask, mask});
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return list;
}

bool AddressList::Contains(std::string_view address) const {
  const std::optional<uint32_t> value = ParseIpv4(address);
  if (!value) return false;
  for (const Network& network : networks_) {
    if ((*value & network.mask) == network.base) return true;
  }
  return false;
}

}  // namespace keep::server
