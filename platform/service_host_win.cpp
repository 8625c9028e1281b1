// The process as a service of the service control manager.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/service_host.h"
#include "platform/wide_text_win.h"

namespace keep::platform {
namespace {

// How long the manager waits for a start or stop before it calls the service hung. The start
// sequence only opens files and sockets; the stop may wait for commands to other computers, each
// bounded by its own time-out.
constexpr DWORD kStartWaitHintMs = 30000;
constexpr DWORD kStopWaitHintMs = 30000;

// The exit status when the manager started the process but the service could not begin.
constexpr int kNotRun = 1;

struct Session {
  std::wstring name;
  const std::function<int(ServiceHost&)>* body = nullptr;
  int status = 0;
  bool ran = false;
};

// The run's session while the dispatcher runs; the service's main function, which the manager calls
// without any context of ours, finds it here (as the console stop handler finds its mode). One
// dispatcher runs per process.
std::atomic<Session*> running_session{nullptr};

class ManagedHost final : public ServiceHost {
 public:
  bool UnderServiceManager() const override { return true; }

  bool Register(const std::wstring& name) {
    handle_ = ::RegisterServiceCtrlHandlerExW(name.c_str(), &ManagedHost::OnControl, this);
    return handle_ != nullptr;
  }

  void ReportStarting() {
    std::lock_guard<std::mutex> lock(mutex_);
    Report(SERVICE_START_PENDING, kStartWaitHintMs);
  }

  void ReportRunning() override {
    std::lock_guard<std::mutex> lock(mutex_);
    // A stop requested during the start has already been reported as pending.
    if (state_ == SERVICE_START_PENDING) Report(SERVICE_RUNNING, 0);
  }

  void SetStopHandler(std::function<void()> on_stop) override {
    std::lock_guard<std::mutex> lock(mutex_);
    on_stop_ = std::move(on_stop);
  }

  // The body has returned: nothing is handed on any more, and the manager learns how it ended.
  void ReportStopped(int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    on_stop_ = nullptr;
    exit_status_ = status;
    Report(SERVICE_STOPPED, 0);
  }

 private:
  static DWORD WINAPI OnControl(DWORD control, DWORD, void*, void* context) {
    auto* host = static_cast<ManagedHost*>(context);
    switch (control) {
      case SERVICE_CONTROL_STOP:
      case SERVICE_CONTROL_SHUTDOWN:
        host->Stop();
        return NO_ERROR;
      case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
      default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == SERVICE_STOPPED) return;
    if (state_ != SERVICE_STOP_PENDING) Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
    // Under the lock, so a handler being cleared is never still running once SetStopHandler returns.
    if (on_stop_) on_stop_();
  }

  // Caller holds mutex_.
  void Report(DWORD state, DWORD wait_hint) {
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    checkpoint_ = pending && state == state_ ? checkpoint_ + 1 : (pending ? 1 : 0);
    state_ = state;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exit_status_ == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exit_status_);
    status.dwCheckPoint = checkpoint_;
    status.dwWaitHint = wait_hint;
    ::SetServiceStatus(handle_, &status);
  }

  SERVICE_STATUS_HANDLE handle_ = nullptr;
  std::mutex mutex_;
  std::function<void()> on_stop_;
  DWORD state_ = 0;
  DWORD checkpoint_ = 0;
  int exit_status_ = 0;
};

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  Session* session = running_session.load();
  if (session == nullptr) return;
  ManagedHost host;
  // The manager passes the name the service was installed under, which is the one to register
  // with; the table's name only matters when a process hosts several services.
  const std::wstring name = argc > 0 && argv != nullptr && argv[0] != nullptr ? std::wstring(argv[0]) : session->name;
  // Without a status handle the manager cannot be told anything; it sees the service fail to start.
  if (!host.Register(name)) return;
  host.ReportStarting();
  session->ran = true;
  session->status = (*session->body)(host);
  host.ReportStopped(session->status);
}

}  // namespace

int RunServiceHost(std::string_view name, const std::function<int(ServiceHost&)>& body) {
  Session session{WideFromUtf8(name), &body, 0, false};
  {
    running_session.store(&session);
    std::wstring table_name = session.name;
    SERVICE_TABLE_ENTRYW table[] = {{table_name.data(), &ServiceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once when the manager did not start us.
    const bool dispatched = ::StartServiceCtrlDispatcherW(table) != 0;
    running_session.store(nullptr);
    if (dispatched) return session.ran ? session.status : kNotRun;
  }
  // Not started by the service manager (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), or it cannot be
  // reached: the body runs in the foreground, as without the manager.
  ForegroundServiceHost host;
  return body(host);
}

}  // namespace keep::platform
