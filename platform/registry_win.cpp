// The machine's settings in the Windows registry, below HKEY_LOCAL_MACHINE. Every call opens the
// keys it needs and closes them again, as the interface promises.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// Strings longer than this are not settings: they are refused rather than read into memory.
constexpr DWORD kMaxStringBytes = 64 * 1024;

// Closes on every path out.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// A NUL would cut the path or name short in the system call, naming another key or value.
bool Usable(std::string_view text) { return text.find('\0') == std::string_view::npos; }

class WindowsRegistry final : public Registry {
 public:
  bool KeyExists(std::string_view key) const override {
    Key opened;
    return Open(key, KEY_READ, &opened);
  }

  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const override {
    Key opened;
    if (!Usable(name) || !Open(key, KEY_QUERY_VALUE, &opened)) return std::nullopt;
    const std::wstring wide_name = WideFromUtf8(name);
    // The value may change between asking its size and reading it: try again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0;
      DWORD bytes = 0;
      if (::RegQueryValueExW(opened.get(), wide_name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
      }
      if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
      if (bytes > kMaxStringBytes) return std::nullopt;
      std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
      DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
      const LSTATUS status = ::RegQueryValueExW(opened.get(), wide_name.c_str(), nullptr, &type,
                                                reinterpret_cast<BYTE*>(text.data()), &got);
      if (status == ERROR_MORE_DATA) continue;
      if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
      // The stored bytes need not end in a NUL, nor be a whole number of characters.
      text.resize(got / sizeof(wchar_t));
      const size_t end = text.find(L'\0');
      if (end != std::wstring::npos) text.resize(end);
      return Utf8FromWide(text);
    }
    return std::nullopt;
  }

  std::optional<uint32_t> ReadDword(std::string_view key, std::string_view name) const override {
    Key opened;
    if (!Usable(name) || !Open(key, KEY_QUERY_VALUE, &opened)) return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    const LSTATUS status = ::RegQueryValueExW(opened.get(), WideFromUtf8(name).c_str(), nullptr, &type,
                                              reinterpret_cast<BYTE*>(&value), &bytes);
    // A value of another type (or a short one) is as good as missing: the caller takes its default.
    if (status != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof value) return std::nullopt;
    return static_cast<uint32_t>(value);
  }

  bool WriteString(std::string_view key, std::string_view name, std::string_view value) override {
    if (!Usable(name) || !Usable(value)) return false;
    Key opened;
    if (!Create(key, &opened)) return false;
    const std::wstring wide = WideFromUtf8(value);
    const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
    if (bytes > kMaxStringBytes) return false;
    return ::RegSetValueExW(opened.get(), WideFromUtf8(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(wide.c_str()), bytes) == ERROR_SUCCESS;
  }

  bool WriteDword(std::string_view key, std::string_view name, uint32_t value) override {
    if (!Usable(name)) return false;
    Key opened;
    if (!Create(key, &opened)) return false;
    const DWORD data = value;
    return ::RegSetValueExW(opened.get(), WideFromUtf8(name).c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
  }

  bool CreateKey(std::string_view key) override {
    Key opened;
    return Create(key, &opened);
  }

 private:
  static bool Open(std::string_view key, REGSAM access, Key* opened) {
    if (!Usable(key)) return false;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(key).c_str(), 0, access, opened->out()) == ERROR_SUCCESS;
  }

  static bool Create(std::string_view key, Key* opened) {
    if (key.empty() || !Usable(key)) return false;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_READ | KEY_WRITE, nullptr, opened->out(), nullptr) == ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<Registry> Registry::CreateSystem() { return std::make_unique<WindowsRegistry>(); }

// The named mutex needs no folder; "" tells InstanceLock::Acquire so.
std::string Registry::SystemStoreFolder() { return std::string(); }

}  // namespace keep::platform
