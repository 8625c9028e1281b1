// The common shape of every link to the UPS and of the traffic log: a component opened and closed
// through Active, with before/after notifications, that sends and receives bytes and can copy them
// into a traffic log. Link errors are raised as EConnectError inside this folder; the link
// operations that the rest of the server calls (serial_link.h and later links) catch them and
// return result codes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace keep::server {

class EConnectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr char kConnectionIsActive[] = "Connection is active";
inline constexpr char kConnectionIsInactive[] = "Connection is inactive";

class TConnection;
using TConnectionNotifyEvent = std::function<void(TConnection& DataSet)>;

// Not thread-safe: a connection is opened, closed and configured from one thread (the main loop).
class TConnection {
 public:
  TConnection() = default;
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  // A concrete class must call Destroy() in its own destructor, because the closing it needs is
  // virtual and no longer reachable here.
  virtual ~TConnection() = default;

  // May be read from any thread.
  bool Active() const { return active_.load(); }
  // Opening runs BeforeOpen, DoOpen, then AfterOpen; an error of DoOpen leaves the connection
  // inactive and reaches the caller. Closing runs BeforeClose, DoClose, AfterClose (the
  // notifications are skipped while the connection is being destroyed). Setting the present state
  // again does nothing. While loading, a true value is only remembered (see EndLoading).
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // Stored-form loading: between these, SetActive(true) is remembered and applied at EndLoading.
  void BeginLoading() { loading_ = true; }
  void EndLoading();

  TConnectionNotifyEvent BeforeOpen;
  TConnectionNotifyEvent BeforeClose;
  TConnectionNotifyEvent AfterOpen;
  TConnectionNotifyEvent AfterClose;

 protected:
  virtual void DoOpen() = 0;
  virtual void DoClose() = 0;
  virtual void DoBeforeOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterOpen();
  virtual void DoAfterClose();

  // EConnectError kConnectionIsActive when active; every setter of a property the link needs while
  // open calls it first.
  void CheckInactive() const;
  // EConnectError kConnectionIsInactive when not active.
  void CheckActive() const;

  // Held around every change of Active. A connection whose other operations run on several threads
  // (the loggers) returns its lock, so opening and closing never overlap those operations.
  virtual std::recursive_mutex* ActiveLock() { return nullptr; }

  // Closes without notifications; for destructors of concrete classes. Never throws.
  void Destroy();
  bool Destroying() const { return destroying_; }

 private:
  std::atomic<bool> active_{false};
  bool loading_ = false;
  bool pending_activation_ = false;
  bool destroying_ = false;
};

}  // namespace keep::server
