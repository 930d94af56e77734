// The readiness set on an I/O completion port. Arming posts one zero-byte
// overlapped receive (or send) per socket; its completion is the readiness
// event. Each socket's registration owns the OVERLAPPED of that operation,
// so the registration must outlive the operation: remove() cancels it and
// leaves the registration to the wait that takes its completion, which
// frees it instead of reporting it. Completions are not skipped on
// immediate success, so every posted operation ends in exactly one packet.
#include <winsock2.h>
#include <windows.h>

#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/poller.h"
#include "platform/system.h"

namespace platform {

namespace {

// The completion key of wake-up packets; sockets are associated with key 0
// and found by their OVERLAPPED instead.
constexpr ULONG_PTR kWakeKey = 1;

// How long the destructor waits for cancelled operations to come back
// before it gives their memory up for lost rather than risk a late write.
constexpr DWORD kDrainMs = 2000;

struct Registration {
  OVERLAPPED overlapped{};
  SOCKET socket = INVALID_SOCKET;
  uintptr_t key = 0;
  bool pending = false;  // an operation is out; its packet will come
  bool removed = false;  // free it when that packet comes
};

}  // namespace

struct Poller::State {
  HANDLE port = nullptr;
  std::mutex lock;
  std::unordered_map<SocketHandle, Registration*> sockets;
  size_t removed_pending = 0;  // removed registrations whose packet is due

  ~State();
};

namespace {

bool fail_with(DWORD e) {
  set_last_error(e);
  return false;
}

// Posts the zero-byte operation. Under the state's lock. A call that fails
// at once queues no packet; the socket is then reported anyway, so that the
// caller's next receive or send meets the error itself.
bool post(HANDLE port, Registration* r, PollInterest interest) {
  r->overlapped = OVERLAPPED{};
  WSABUF none{0, nullptr};
  DWORD flags = 0;
  int rc = interest == PollInterest::kReadable
               ? WSARecv(r->socket, &none, 1, nullptr, &flags, &r->overlapped, nullptr)
               : WSASend(r->socket, &none, 1, nullptr, 0, &r->overlapped, nullptr);
  if (rc == 0 || WSAGetLastError() == WSA_IO_PENDING) {
    r->pending = true;
    return true;
  }
  if (!PostQueuedCompletionStatus(port, 0, 0, &r->overlapped)) return fail_with(GetLastError());
  r->pending = true;
  return true;
}

}  // namespace

Poller::State::~State() {
  {
    std::lock_guard<std::mutex> hold(lock);
    for (auto& [s, r] : sockets) {
      if (r->pending) {
        r->removed = true;
        ++removed_pending;
        CancelIoEx(reinterpret_cast<HANDLE>(r->socket), &r->overlapped);
      } else {
        delete r;
      }
    }
    sockets.clear();
  }
  // Take the packets of the cancelled operations; what does not come back
  // in time stays allocated, since the system may still write to it.
  uint32_t start = tick_count();
  while (removed_pending > 0 && tick_count() - start < kDrainMs) {
    OVERLAPPED_ENTRY got[kMaxPollBatch];
    ULONG n = 0;
    if (!GetQueuedCompletionStatusEx(port, got, kMaxPollBatch, &n, kDrainMs, FALSE)) break;
    for (ULONG i = 0; i < n; ++i) {
      if (got[i].lpCompletionKey == kWakeKey || !got[i].lpOverlapped) continue;
      delete CONTAINING_RECORD(got[i].lpOverlapped, Registration, overlapped);
      --removed_pending;
    }
  }
  if (port) CloseHandle(port);
}

Poller::Poller() noexcept {
  auto state = std::unique_ptr<State>(new (std::nothrow) State);
  if (!state) {
    set_last_error(err::kNotEnoughMemory);
    return;
  }
  state->port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
  if (!state->port) {
    set_last_error(GetLastError());
    return;
  }
  state_ = std::move(state);
}

Poller::~Poller() = default;

bool Poller::add(SocketHandle s, uintptr_t key, PollInterest interest) noexcept {
  if (!state_) return fail_with(err::kInvalidHandle);
  std::lock_guard<std::mutex> hold(state_->lock);
  if (state_->sockets.count(s)) return fail_with(err::kAlreadyExists);
  // A handle stays tied to its port until it is closed; one added again
  // after remove() is tied to this port already, which is what is wanted.
  if (!CreateIoCompletionPort(reinterpret_cast<HANDLE>(s), state_->port, 0, 0) &&
      GetLastError() != ERROR_INVALID_PARAMETER)
    return fail_with(GetLastError());
  auto* r = new (std::nothrow) Registration;
  if (!r) return fail_with(err::kNotEnoughMemory);
  r->socket = static_cast<SOCKET>(s);
  r->key = key;
  if (!post(state_->port, r, interest)) {
    delete r;
    return false;
  }
  state_->sockets.emplace(s, r);
  return true;
}

bool Poller::arm(SocketHandle s, uintptr_t key, PollInterest interest) noexcept {
  if (!state_) return fail_with(err::kInvalidHandle);
  std::lock_guard<std::mutex> hold(state_->lock);
  auto it = state_->sockets.find(s);
  if (it == state_->sockets.end()) return fail_with(err::kInvalidParameter);
  Registration* r = it->second;
  r->key = key;
  // Still armed: a second operation would share the OVERLAPPED.
  if (r->pending) return true;
  return post(state_->port, r, interest);
}

bool Poller::remove(SocketHandle s) noexcept {
  if (!state_) return fail_with(err::kInvalidHandle);
  std::lock_guard<std::mutex> hold(state_->lock);
  auto it = state_->sockets.find(s);
  if (it == state_->sockets.end()) return fail_with(err::kInvalidParameter);
  Registration* r = it->second;
  state_->sockets.erase(it);
  if (!r->pending) {
    delete r;
    return true;
  }
  r->removed = true;
  ++state_->removed_pending;
  // The packet still comes (cancelled, or completed just now); wait frees
  // the registration when it takes it.
  CancelIoEx(reinterpret_cast<HANDLE>(r->socket), &r->overlapped);
  return true;
}

int Poller::wait(PollEvent* events, size_t capacity, uint32_t timeout_ms) noexcept {
  if (!state_) {
    set_last_error(err::kInvalidHandle);
    return -1;
  }
  ULONG want = static_cast<ULONG>(capacity < kMaxPollBatch ? capacity : kMaxPollBatch);
  if (want == 0) {
    set_last_error(err::kInvalidParameter);
    return -1;
  }
  uint32_t start = tick_count();
  while (true) {
    DWORD left = INFINITE;
    if (timeout_ms != kWaitInfinite) {
      uint32_t spent = tick_count() - start;
      left = spent >= timeout_ms ? 0 : timeout_ms - spent;
    }
    OVERLAPPED_ENTRY got[kMaxPollBatch];
    ULONG n = 0;
    if (!GetQueuedCompletionStatusEx(state_->port, got, want, &n, left, FALSE)) {
      DWORD e = GetLastError();
      if (e == WAIT_TIMEOUT) return 0;
      set_last_error(e);
      return -1;
    }
    int count = 0;
    int wakes = 0;
    std::lock_guard<std::mutex> hold(state_->lock);
    for (ULONG i = 0; i < n; ++i) {
      if (got[i].lpCompletionKey == kWakeKey) {
        ++wakes;
        continue;
      }
      auto* r = CONTAINING_RECORD(got[i].lpOverlapped, Registration, overlapped);
      r->pending = false;
      if (r->removed) {
        --state_->removed_pending;
        delete r;
        continue;
      }
      events[count++].key = r->key;
    }
    // One batch may hold several wake-ups; this wait uses one, the rest go
    // back for the waits they were meant for.
    for (int extra = 1; extra < wakes; ++extra) PostQueuedCompletionStatus(state_->port, 0, kWakeKey, nullptr);
    // Only packets of removed sockets: nothing to report, keep waiting.
    if (count > 0 || wakes > 0) return count;
  }
}

bool Poller::wake() noexcept {
  if (!state_) return fail_with(err::kInvalidHandle);
  if (!PostQueuedCompletionStatus(state_->port, 0, kWakeKey, nullptr)) return fail_with(GetLastError());
  return true;
}

}  // namespace platform
