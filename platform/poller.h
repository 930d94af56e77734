// A readiness set: many sockets parked without a thread each, and one call
// that waits until some of them can be served.
//
// How the connection layer uses it: a connection that is idle between
// requests, or whose request head is still arriving, is parked here, armed
// for readability, and costs no thread. The request threads wait in the
// set themselves, one event at a time (leader/followers with the kernel
// choosing the leader: epoll and the completion port each wake one waiting
// thread per event). The thread that takes a connection serves it itself,
// with no hand-off and no second wake-up: it reads what arrived, without
// blocking, into the connection's own buffer; with the head incomplete it
// arms the connection again and goes back to waiting, otherwise it runs
// the request, writes the answer and, if the next request is already
// buffered, goes on with it at once. A thread of its own accepts and parks
// new connections; Stop sets the layer's flag and calls wake() once per
// waiting thread.
//
// Contract, the same on both backends:
// - One-shot: a socket is reported once per arming; it stays silent until
//   the thread that served it arms it again, so exactly one thread ever
//   holds a ready connection. Arm only after the socket's event was
//   taken; arming one that is still armed does no harm.
// - Readable means a receive will not block: data arrived, the peer closed
//   (the receive returns 0) or the connection failed (the receive reports
//   the error). Writable means a send has room again.
// - A socket is added to one poller only, and removed before it is closed:
//   the Windows backend may still hold an operation on it, whose late
//   completion remove() swallows so that no stale key is reported.
// - add, arm, remove and wake may be called from any thread, also while
//   other threads wait; any number of threads may wait at once.
// - Failures return false (or -1) and set last_error() to a Windows code.
//
// Backends: epoll on POSIX (EPOLLONESHOT, an eventfd to wake). I/O
// completion ports on Windows: arming for readability posts a zero-byte
// overlapped receive, which completes when data or a close arrives and
// takes no bytes and no buffer; arming for writability posts a zero-byte
// overlapped send, which completes once earlier sends have room. A
// completion port reports finished I/O, not readiness; the zero-byte
// receive is the way Microsoft's guidance for scalable servers parks many
// connections without a buffer each, and Wine implements it alike
// (receive, close, send room and cancellation). WSAPoll and WSAEventSelect
// were the other choices: WSAPoll scans the whole set on every wait and
// needs a socket pair of its own to be woken; WSAEventSelect waits on at
// most 64 events per thread.
//
// Listening sockets are not parked: a zero-byte receive does not work on
// them, so the layer accepts on a thread of its own (socket_accept_
// connection tells "out of descriptors" apart so that it can back off).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/error.h"
#include "platform/pipe.h"  // kWaitInfinite
#include "platform/socket.h"

namespace platform {

enum class PollInterest : uint8_t { kReadable, kWritable };

// One ready socket: the key it was added with.
struct PollEvent {
  uintptr_t key = 0;
};

// Most events one wait returns; a caller may ask for fewer.
inline constexpr size_t kMaxPollBatch = 64;

class Poller {
 public:
  // Creates the set; ok() tells whether that worked (last_error() why not).
  Poller() noexcept;
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  bool ok() const noexcept { return state_ != nullptr; }

  // Adds a socket and arms it for `interest`. `key` comes back in its
  // events (a pointer or an integer). A socket that is ready already is
  // reported by the next wait.
  bool add(SocketHandle s, uintptr_t key, PollInterest interest) noexcept;
  // Arms an added socket again after its event was taken; `key` is the
  // key to report from now on (epoll keeps it with the arming).
  bool arm(SocketHandle s, uintptr_t key, PollInterest interest) noexcept;
  // Takes a socket out: no event for it is reported after remove returns
  // (one already handed to a waiting thread is that thread's to serve).
  bool remove(SocketHandle s) noexcept;

  // Waits until some sockets are ready, up to `timeout_ms` (kWaitInfinite:
  // without limit; 0 only looks). Fills up to `capacity` events (at most
  // kMaxPollBatch) and returns their count: 0 when the time passed or
  // wake() was called, -1 on error.
  int wait(PollEvent* events, size_t capacity, uint32_t timeout_ms) noexcept;

  // Makes one wait return early: one in progress in another thread, or the
  // next one to start. Each call is good for one return, so that Stop can
  // wake every waiting thread by calling it once per thread.
  bool wake() noexcept;

 private:
  struct State;  // per backend
  std::unique_ptr<State> state_;
};

}  // namespace platform
