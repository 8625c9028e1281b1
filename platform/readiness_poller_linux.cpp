#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <limits>

#include "platform/readiness_poller.h"

namespace keep::platform {
namespace {

// The wake-up's own descriptor reports with this token, which no watch uses.
constexpr uint64_t kWakeToken = std::numeric_limits<uint64_t>::max();
// Descriptors reported by one epoll_wait; more stay ready and come at the next.
constexpr int kBatch = 64;

class EpollPoller final : public ReadinessPoller {
 public:
  EpollPoller(int epoll_fd, int wake_fd) : epoll_fd_(epoll_fd), wake_fd_(wake_fd) {}
  EpollPoller(const EpollPoller&) = delete;
  EpollPoller& operator=(const EpollPoller&) = delete;
  ~EpollPoller() override {
    ::close(wake_fd_);
    ::close(epoll_fd_);
  }

  int Watch(int descriptor, unsigned events, uint64_t token) override {
    epoll_event event{};
    event.events = ((events & kReadable) != 0 ? EPOLLIN : 0u) | ((events & kWritable) != 0 ? EPOLLOUT : 0u);
    event.data.u64 = token;
    if (::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, descriptor, &event) == 0) return 0;
    if (errno != ENOENT) return errno;
    return ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, descriptor, &event) == 0 ? 0 : errno;
  }

  void Forget(int descriptor) override {
    epoll_event unused{};
    ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, descriptor, &unused);
  }

  void Wait(int timeout_ms, std::vector<Ready>* ready) override {
    ready->clear();
    epoll_event events[kBatch];
    const int count = ::epoll_wait(epoll_fd_, events, kBatch, timeout_ms < 0 ? -1 : timeout_ms);
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u64 == kWakeToken) {
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t drained = ::read(wake_fd_, &wakes, sizeof wakes);
        continue;
      }
      const uint32_t got = events[i].events;
      const bool broken = (got & (EPOLLERR | EPOLLHUP)) != 0;
      unsigned reported = 0;
      if ((got & EPOLLIN) != 0 || broken) reported |= kReadable;
      if ((got & EPOLLOUT) != 0 || broken) reported |= kWritable;
      ready->push_back({events[i].data.u64, reported});
    }
  }

  void Wake() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  }

 private:
  const int epoll_fd_;
  const int wake_fd_;
};

}  // namespace

std::unique_ptr<ReadinessPoller> ReadinessPoller::Create() {
  const int epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd < 0) return nullptr;
  const int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd < 0) {
    ::close(epoll_fd);
    return nullptr;
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeToken;
  if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &event) != 0) {
    ::close(wake_fd);
    ::close(epoll_fd);
    return nullptr;
  }
  return std::make_unique<EpollPoller>(epoll_fd, wake_fd);
}

}  // namespace keep::platform
