// The service manager, and the network message service through the workstation calls. The
// service-process registration belongs to the old non-NT systems, which this build does not serve.
#include <windows.h>
// After windows.h, whose types it uses.
#include <lm.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/services.h"
#include "platform/wide_text_win.h"

namespace keep::platform {

namespace {

// Closes a service manager handle on every path out.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

uint32_t ServiceState(std::string_view name) {
  if (name.empty() || HasNul(name)) return 0;
  const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return 0;
  const ServiceHandle service(::OpenServiceW(manager.get(), WideFromUtf8(name).c_str(), SERVICE_QUERY_STATUS));
  if (service.get() == nullptr) return 0;
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.get(), &status)) return 0;
  return static_cast<uint32_t>(status.dwCurrentState);
}

bool SetServiceProcess(bool /*register_process*/) { return false; }

std::string WorkgroupName() {
  WKSTA_INFO_100* info = nullptr;
  if (::NetWkstaGetInfo(nullptr, 100, reinterpret_cast<BYTE**>(&info)) != NERR_Success || info == nullptr) return {};
  std::string name = info->wki100_langroup != nullptr ? Utf8FromWide(info->wki100_langroup) : std::string();
  ::NetApiBufferFree(info);
  return name;
}

bool SendNetworkMessage(std::string_view recipient, std::string_view sender, std::string_view text) {
  if (recipient.empty() || HasNul(recipient) || HasNul(sender) || HasNul(text)) return false;
  std::wstring message = WideFromUtf8(text);
  const std::wstring to = WideFromUtf8(recipient);
  const std::wstring from = WideFromUtf8(sender);
  // The message travels as bytes of UTF-16 with its terminating NUL.
  const DWORD bytes = static_cast<DWORD>((message.size() + 1) * sizeof(wchar_t));
  return ::NetMessageBufferSend(nullptr, to.c_str(), from.empty() ? nullptr : from.c_str(),
                                reinterpret_cast<BYTE*>(message.data()), bytes) == NERR_Success;
}

}  // namespace keep::platform
