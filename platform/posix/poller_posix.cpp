// The readiness set on epoll. Every socket is registered EPOLLONESHOT, so
// the kernel disarms it as it reports it; arming is EPOLL_CTL_MOD. Wake-ups
// come through a semaphore eventfd: each wake() adds one, each wait that
// sees it takes one, so one call returns one wait as on Windows.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/poller.h"
#include "platform/posix/errno_map.h"
#include "platform/system.h"

namespace platform {

struct Poller::State {
  int epoll_fd = -1;
  int wake_fd = -1;
  ~State() {
    if (wake_fd >= 0) ::close(wake_fd);
    if (epoll_fd >= 0) ::close(epoll_fd);
  }
  // The wake-up descriptor's key: the state's own address, which no
  // caller's key can be.
  uint64_t wake_key() const { return reinterpret_cast<uintptr_t>(this); }
};

namespace {

int fd_of(SocketHandle s) { return s == kInvalidSocket ? -1 : static_cast<int>(s); }

uint32_t events_for(PollInterest interest) {
  return (interest == PollInterest::kReadable ? EPOLLIN : EPOLLOUT) | EPOLLONESHOT;
}

bool fail() {
  posix::set_last_from_errno();
  return false;
}

bool not_ready() {
  set_last_error(err::kInvalidHandle);
  return false;
}

}  // namespace

Poller::Poller() noexcept {
  auto state = std::unique_ptr<State>(new (std::nothrow) State);
  if (!state) {
    set_last_error(err::kNotEnoughMemory);
    return;
  }
  state->epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  if (state->epoll_fd < 0) {
    fail();
    return;
  }
  state->wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
  if (state->wake_fd < 0) {
    fail();
    return;
  }
  // Level-triggered: the descriptor stays ready while wake-ups are unused.
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = state->wake_key();
  if (::epoll_ctl(state->epoll_fd, EPOLL_CTL_ADD, state->wake_fd, &ev) != 0) {
    fail();
    return;
  }
  state_ = std::move(state);
}

Poller::~Poller() = default;

bool Poller::add(SocketHandle s, uintptr_t key, PollInterest interest) noexcept {
  if (!state_) return not_ready();
  if (key == state_->wake_key()) {
    set_last_error(err::kInvalidParameter);
    return false;
  }
  epoll_event ev{};
  ev.events = events_for(interest);
  ev.data.u64 = key;
  if (::epoll_ctl(state_->epoll_fd, EPOLL_CTL_ADD, fd_of(s), &ev) != 0) return fail();
  return true;
}

bool Poller::arm(SocketHandle s, uintptr_t key, PollInterest interest) noexcept {
  if (!state_) return not_ready();
  epoll_event ev{};
  ev.events = events_for(interest);
  ev.data.u64 = key;
  if (::epoll_ctl(state_->epoll_fd, EPOLL_CTL_MOD, fd_of(s), &ev) != 0) return fail();
  return true;
}

bool Poller::remove(SocketHandle s) noexcept {
  if (!state_) return not_ready();
  // Older kernels want an event structure even for a deletion.
  epoll_event ev{};
  if (::epoll_ctl(state_->epoll_fd, EPOLL_CTL_DEL, fd_of(s), &ev) != 0) return fail();
  return true;
}

int Poller::wait(PollEvent* events, size_t capacity, uint32_t timeout_ms) noexcept {
  if (!state_) {
    not_ready();
    return -1;
  }
  epoll_event ready[kMaxPollBatch];
  int want = static_cast<int>(capacity < kMaxPollBatch ? capacity : kMaxPollBatch);
  if (want <= 0) {
    set_last_error(err::kInvalidParameter);
    return -1;
  }
  uint32_t start = tick_count();
  while (true) {
    int left = -1;
    if (timeout_ms != kWaitInfinite) {
      uint32_t spent = tick_count() - start;
      uint32_t rest = spent >= timeout_ms ? 0 : timeout_ms - spent;
      left = rest > INT_MAX ? INT_MAX : static_cast<int>(rest);
    }
    int n = ::epoll_wait(state_->epoll_fd, ready, want, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      posix::set_last_from_errno();
      return -1;
    }
    int count = 0;
    bool woken = false;
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.u64 == state_->wake_key()) {
        // Another waiter may have taken the wake-up first; then this
        // wait goes on waiting, so that one wake() ends one wait.
        uint64_t one = 0;
        woken = ::read(state_->wake_fd, &one, sizeof one) == sizeof one || woken;
        continue;
      }
      events[count++].key = static_cast<uintptr_t>(ready[i].data.u64);
    }
    if (count > 0 || woken || n == 0) return count;
  }
}

bool Poller::wake() noexcept {
  if (!state_) return not_ready();
  uint64_t one = 1;
  while (::write(state_->wake_fd, &one, sizeof one) < 0) {
    if (errno != EINTR) return fail();
  }
  return true;
}

}  // namespace platform
