// A text of fixed capacity, for the UPS data fields that hold one code character or a short
// identifier. It never allocates, so a record full of them stays flat, and it cannot grow past its
// capacity whatever a UPS reply carries: assignment keeps the first N bytes and drops the rest.
// A default-constructed text is empty. A plain value type with no thread affinity.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace keep::server {

template <std::size_t N>
class FixedText {
  static_assert(N > 0 && N < 256, "the length is kept in one byte");

 public:
  static constexpr std::size_t kCapacity = N;

  constexpr FixedText() = default;
  // Keeps the first N bytes of `text`.
  explicit FixedText(std::string_view text) { Assign(text); }

  // Keeps the first N bytes of `text`; the rest is dropped without notice.
  FixedText& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }

  std::string_view view() const { return std::string_view(data_.data(), size_); }
  std::string str() const { return std::string(view()); }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  void clear() { Assign({}); }

  friend bool operator==(const FixedText& a, const FixedText& b) { return a.view() == b.view(); }
  // Also serves `const char*` and std::string on either side.
  friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

  friend std::ostream& operator<<(std::ostream& out, const FixedText& text) { return out << text.view(); }

 private:
  void Assign(std::string_view text) {
    size_ = static_cast<unsigned char>(text.size() < N ? text.size() : N);
    data_.fill('\0');
    text.copy(data_.data(), size_);
  }

  std::array<char, N> data_{};
  unsigned char size_ = 0;
};

// One code character ("0", "1", "&", ...), empty when unset.
using TCode = FixedText<1>;
// A serial number or similar short identifier.
using TText12 = FixedText<12>;

}  // namespace keep::server
