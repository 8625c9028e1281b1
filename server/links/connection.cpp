#include "server/links/connection.h"

namespace keep::server {

void TConnection::SetActive(bool value) {
  std::unique_lock<std::recursive_mutex> guard;
  if (std::recursive_mutex* lock = ActiveLock()) guard = std::unique_lock(*lock);
  if (loading_) {
    // The stored state is applied once every other property has been read.
    if (value) pending_activation_ = true;
    return;
  }
  if (value == active_) return;
  if (value) {
    DoBeforeOpen();
    DoOpen();
    active_ = true;
    DoAfterOpen();
  } else {
    if (!destroying_) DoBeforeClose();
    DoClose();
    active_ = false;
    if (!destroying_) DoAfterClose();
  }
}

void TConnection::EndLoading() {
  loading_ = false;
  if (pending_activation_) {
    pending_activation_ = false;
    SetActive(true);
  }
}

void TConnection::DoBeforeOpen() {
  if (BeforeOpen) BeforeOpen(*this);
}

void TConnection::DoBeforeClose() {
  if (BeforeClose) BeforeClose(*this);
}

void TConnection::DoAfterOpen() {
  if (AfterOpen) AfterOpen(*this);
}

void TConnection::DoAfterClose() {
  if (AfterClose) AfterClose(*this);
}

void TConnection::CheckInactive() const {
  if (active_) throw EConnectError(kConnectionIsActive);
}

void TConnection::CheckActive() const {
  if (!active_) throw EConnectError(kConnectionIsInactive);
}

void TConnection::Destroy() {
  destroying_ = true;
  loading_ = false;
  pending_activation_ = false;
  try {
    SetActive(false);
  } catch (...) {
    // A destructor cannot report the failure; the resources go with the object anyway.
    active_ = false;
  }
}

}  // namespace keep::server
