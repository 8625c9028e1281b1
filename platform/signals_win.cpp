// Stop requests from the console (Ctrl+C, Ctrl+Break, closing the window, logging off, shutting down),
// delivered as tasks on the event loop.
//
// The system calls the console handler on a thread of its own and with no context, so the handler
// finds its way through kernel objects named after the process rather than through a global of
// ours: it signals an event, and a watcher thread posts the matching task to the loop.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/signals.h"

namespace keep::platform {
namespace {

// How long the handler of a closing console holds the process open for the stop sequence; Windows
// ends the process after about five seconds whatever the handler does.
constexpr DWORD kCloseGraceMs = 4500;

std::wstring EventName(const wchar_t* what) {
  return L"Local\\KeepStop-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + what;
}

// Signals the named event of this process, if there is one.
void SignalNamed(const wchar_t* what) {
  HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(what).c_str());
  if (event == nullptr) return;
  ::SetEvent(event);
  ::CloseHandle(event);
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      SignalNamed(L"interrupt");
      return TRUE;
    case CTRL_BREAK_EVENT:
      SignalNamed(L"terminate");
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      SignalNamed(L"terminate");
      // Returning ends the process at once: wait until the stop sequence has let go of the handler.
      HANDLE released = ::OpenEventW(SYNCHRONIZE, FALSE, EventName(L"released").c_str());
      if (released != nullptr) {
        ::WaitForSingleObject(released, kCloseGraceMs);
        ::CloseHandle(released);
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

class ConsoleStopSignals final : public StopSignals {
 public:
  ConsoleStopSignals(EventLoop& loop, std::function<void()> on_terminate, std::function<void()> on_interrupt)
      : loop_(loop), on_terminate_(std::move(on_terminate)), on_interrupt_(std::move(on_interrupt)) {
    interrupt_ = ::CreateEventW(nullptr, FALSE, FALSE, EventName(L"interrupt").c_str());
    terminate_ = ::CreateEventW(nullptr, FALSE, FALSE, EventName(L"terminate").c_str());
    released_ = ::CreateEventW(nullptr, TRUE, FALSE, EventName(L"released").c_str());
    leave_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    watcher_ = std::thread([this] { Watch(); });
  }

  ~ConsoleStopSignals() override {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    ::SetEvent(leave_);
    watcher_.join();
    ::SetEvent(released_);
    for (HANDLE handle : {interrupt_, terminate_, released_, leave_}) {
      if (handle != nullptr) ::CloseHandle(handle);
    }
  }

  ConsoleStopSignals(const ConsoleStopSignals&) = delete;
  ConsoleStopSignals& operator=(const ConsoleStopSignals&) = delete;

 private:
  void Watch() {
    if (interrupt_ == nullptr || terminate_ == nullptr || leave_ == nullptr) return;
    const HANDLE handles[3] = {leave_, terminate_, interrupt_};
    for (;;) {
      const DWORD which = ::WaitForMultipleObjects(3, handles, FALSE, INFINITE);
      if (which == WAIT_OBJECT_0 + 1) {
        loop_.Post(on_terminate_);
      } else if (which == WAIT_OBJECT_0 + 2) {
        loop_.Post(on_interrupt_);
      } else {
        return;
      }
    }
  }

  EventLoop& loop_;
  std::function<void()> on_terminate_;
  std::function<void()> on_interrupt_;
  HANDLE interrupt_ = nullptr;
  HANDLE terminate_ = nullptr;
  HANDLE released_ = nullptr;
  HANDLE leave_ = nullptr;
  std::thread watcher_;
};

}  // namespace

std::unique_ptr<StopSignals> StopSignals::Install(EventLoop& loop, std::function<void()> on_terminate,
                                                  std::function<void()> on_interrupt) {
  return std::make_unique<ConsoleStopSignals>(loop, std::move(on_terminate), std::move(on_interrupt));
}

bool StopSignals::InteractiveTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

}  // namespace keep::platform
