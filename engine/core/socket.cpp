#include "engine/core/socket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/error.h"
#include "platform/message_box.h"
#include "platform/pipe.h"  // kWaitInfinite
#include "platform/system.h"

namespace brisvane {
namespace {

// What a connection's input buffer starts with and keeps between
// requests; it grows only while a head larger than that arrives, up to
// room for the largest head the reader takes (a request line and header
// lines at their limits), so that such a head never needs a wait.
constexpr size_t kInputBufferSize = 16384;
constexpr size_t kLargestInputBuffer = 96 * 1024;
// How long a close waits for room to send close_notify: the client may
// have stopped reading, and the close must not wait on it.
constexpr uint32_t kCloseNotifyWaitMs = 100;

// A time-out of 0 means none.
uint32_t WaitLimit(uint32_t timeout_ms) { return timeout_ms == 0 ? platform::kWaitInfinite : timeout_ms; }

// Built on first use: the sockets library may be started from another
// file's static initialisation.
platform::SocketsInfo& SocketsInfoStore() {
  static platform::SocketsInfo info;
  return info;
}

}  // namespace

Socket::~Socket() {
  tls_.reset();  // the session borrows the handle
  if (IsValid()) platform::socket_close(handle_);
}

bool Socket::Fail() {
  last_error_ = platform::socket_last_error();
  return false;
}

bool Socket::Connect(const platform::SockAddrV4& addr) {
  if (!IsValid()) return false;
  return platform::socket_connect(handle_, addr) || Fail();
}

Socket* Socket::Accept() {
  if (!IsValid()) return nullptr;
  platform::SocketHandle h = platform::socket_accept(handle_);
  if (h == platform::kInvalidSocket) {
    Fail();
    return nullptr;
  }
  return new Socket(h);
}

bool Socket::Close() {
  if (!IsValid()) return false;
  EndTls();
  bool ok = platform::socket_close(handle_);
  handle_ = platform::kInvalidSocket;
  have_local_ = have_peer_ = false;
  in_begin_ = in_end_ = 0;
  return ok || Fail();
}

int64_t Socket::Receive(void* buf, size_t len) {
  if (!IsValid()) return -1;
  if (in_begin_ < in_end_) {
    size_t n = std::min(len, in_end_ - in_begin_);
    std::memcpy(buf, in_.get() + in_begin_, n);
    in_begin_ += n;
    return static_cast<int64_t>(n);
  }
  return ReceiveSome(buf, len);
}

int64_t Socket::ReceiveSome(void* buf, size_t len) {
  if (!tls_) {
    if (!PrepareReceive()) return -1;
    int64_t n = platform::socket_recv(handle_, buf, len);
    if (n < 0) Fail();
    return n;
  }
  uint32_t wait = base_timeout_;
  if (clock_on_ && !ClockWait(&wait)) return -1;
  size_t got = 0;
  switch (tls_->read_within(buf, len, &got, WaitLimit(wait))) {
    case platform::TlsOutcome::kDone:
      return static_cast<int64_t>(got);
    case platform::TlsOutcome::kClosed:
      return 0;
    default:
      last_error_ = tls_->last_error();
      return -1;
  }
}

int64_t Socket::Send(const void* data, size_t len) {
  if (!IsValid()) return -1;
  if (tls_) {
    if (tls_->write_all_within(data, len, WaitLimit(send_timeout_)) == platform::TlsOutcome::kDone)
      return static_cast<int64_t>(len);
    last_error_ = tls_->last_error();
    return -1;
  }
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < len) {
    int64_t n = platform::socket_send(handle_, p + done, len - done);
    if (n <= 0) {
      Fail();
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool Socket::CreateAndBind(bool stream, uint16_t port, uint32_t addr) {
  if (IsValid()) Close();
  handle_ = platform::socket_create(stream);
  if (!IsValid()) {
    Fail();
    ShowFatalSocketError("Unable to create socket", last_error_);
    return false;
  }
  SetReuseAddress(true);
  platform::SockAddrV4 a;
  a.addr = addr;
  a.port = platform::host_to_net16(port);
  if (!platform::socket_bind(handle_, a)) {
    Fail();
    platform::socket_close(handle_);
    handle_ = platform::kInvalidSocket;
    ShowFatalSocketError("Unable to bind socket", last_error_);
    return false;
  }
  return true;
}

bool Socket::CreateStream() {
  if (IsValid()) Close();
  handle_ = platform::socket_create(true);
  return IsValid() || Fail();
}

bool Socket::Listen(int backlog) {
  if (!IsValid()) return false;
  if (platform::socket_listen(handle_, backlog)) return true;
  Fail();
  ShowFatalSocketError("Socket listen error", last_error_);
  return false;
}

bool Socket::SetBlocking(bool blocking) {
  if (!IsValid()) return false;
  return platform::socket_set_blocking(handle_, blocking) || Fail();
}

bool Socket::SetReuseAddress(bool on) {
  if (!IsValid()) return false;
  return platform::socket_set_option(handle_, platform::SocketOption::kReuseAddress, on) || Fail();
}

bool Socket::SetNoDelay(bool on) {
  if (!IsValid()) return false;
  return platform::socket_set_option(handle_, platform::SocketOption::kNoDelay, on) || Fail();
}

bool Socket::SetLinger(bool on, uint16_t seconds) {
  if (!IsValid()) return false;
  return platform::socket_set_linger(handle_, on, seconds) || Fail();
}

bool Socket::SetReceiveTimeout(uint32_t ms) {
  if (!IsValid()) return false;
  base_timeout_ = ms;
  return UseTimeout(ms);
}

bool Socket::UseTimeout(uint32_t ms) {
  if (timeout_known_ && timeout_in_force_ == ms) return true;
  if (!platform::socket_set_option(handle_, platform::SocketOption::kReceiveTimeout, ms)) return Fail();
  timeout_in_force_ = ms;
  timeout_known_ = true;
  return true;
}

bool Socket::PrepareReceive() {
  uint32_t wait = base_timeout_;
  if (clock_on_ && !ClockWait(&wait)) return false;
  return wait == 0 || UseTimeout(wait);
}

void Socket::MakeRoom() {
  if (in_begin_ == in_end_) {
    in_begin_ = in_end_ = 0;
    // An idle connection goes back to the small buffer.
    if (in_ && in_cap_ == kInputBufferSize) return;
    in_.reset(new char[kInputBufferSize]);
    in_cap_ = kInputBufferSize;
    return;
  }
  if (in_end_ < in_cap_) return;
  if (in_begin_ > 0) {
    std::memmove(in_.get(), in_.get() + in_begin_, in_end_ - in_begin_);
    in_end_ -= in_begin_;
    in_begin_ = 0;
    return;
  }
  if (in_cap_ >= kLargestInputBuffer) return;
  const size_t grown = std::min(in_cap_ * 2, kLargestInputBuffer);
  std::unique_ptr<char[]> bigger(new char[grown]);
  std::memcpy(bigger.get(), in_.get(), in_end_);
  in_ = std::move(bigger);
  in_cap_ = grown;
}

Socket::Arrival Socket::ReceiveAvailable() {
  if (!IsValid()) return Arrival::kFailed;
  MakeRoom();
  if (in_end_ == in_cap_) return Arrival::kNothing;
  if (tls_) return ReceiveAvailableTls();
  int64_t n = platform::socket_recv_nowait(handle_, in_.get() + in_end_, in_cap_ - in_end_);
  if (n > 0) {
    in_end_ += static_cast<size_t>(n);
    return Arrival::kData;
  }
  if (n == 0) return Arrival::kClosed;
  Fail();
  return last_error_ == platform::err::kWsaWouldBlock ? Arrival::kNothing : Arrival::kFailed;
}

Socket::Arrival Socket::ReceiveAvailableTls() {
  // A record may hold more than one read takes: reading on while the
  // session holds bytes means that nothing decrypted is left behind when
  // the connection is parked. Bytes still in the socket keep it readable,
  // so they need no read here (one receive less per request).
  switch (ContinueHandshake()) {
    case Handshake::kDone:
      break;
    case Handshake::kWantRead:
    case Handshake::kWantWrite:
      return Arrival::kNothing;
    case Handshake::kFailed:
      return Arrival::kFailed;
  }
  Arrival arrival = Arrival::kNothing;
  while (in_end_ < in_cap_) {
    size_t got = 0;
    switch (tls_->read(in_.get() + in_end_, in_cap_ - in_end_, &got)) {
      case platform::TlsOutcome::kDone:
        in_end_ += got;
        arrival = Arrival::kData;
        if (!tls_->has_buffered()) return arrival;
        continue;
      case platform::TlsOutcome::kWantRead:
      case platform::TlsOutcome::kWantWrite:
        return arrival;
      case platform::TlsOutcome::kClosed:
        return arrival == Arrival::kData ? arrival : Arrival::kClosed;
      case platform::TlsOutcome::kFailed:
        last_error_ = tls_->last_error();
        return arrival == Arrival::kData ? arrival : Arrival::kFailed;
    }
  }
  return arrival;
}

bool Socket::StartTls(std::shared_ptr<const platform::TlsServerTable> table) {
  if (!IsValid()) return false;
  secure_ = true;
  tls_ = std::make_unique<platform::TlsSession>(std::move(table), handle_);
  if (tls_->ok()) return true;
  last_error_ = tls_->last_error();
  tls_.reset();
  return false;
}

Socket::Handshake Socket::ContinueHandshake() {
  if (!tls_) return secure_ ? Handshake::kFailed : Handshake::kDone;  // a session that failed or ended
  if (handshake_done_) return Handshake::kDone;
  switch (tls_->handshake()) {
    case platform::TlsOutcome::kDone:
      handshake_done_ = true;
      return Handshake::kDone;
    case platform::TlsOutcome::kWantRead:
      return Handshake::kWantRead;
    case platform::TlsOutcome::kWantWrite:
      return Handshake::kWantWrite;
    case platform::TlsOutcome::kClosed:
    case platform::TlsOutcome::kFailed:
      break;
  }
  last_error_ = tls_->last_error();
  return Handshake::kFailed;
}

std::string Socket::TlsServerName() const { return tls_ && handshake_done_ ? tls_->server_name() : ""; }

std::string Socket::TlsFailure() const {
  return tls_ ? tls_->error_text() : platform::error_message(last_error_);
}

void Socket::EndTls() {
  if (!tls_) return;
  if (handshake_done_) tls_->close_within(kCloseNotifyWaitMs);
  tls_.reset();
  platform::socket_set_blocking(handle_, true);
}

bool Socket::HeadBuffered() const {
  if (in_end_ - in_begin_ >= kLargestInputBuffer) return true;
  const char* p = in_ ? in_.get() + in_begin_ : nullptr;
  const char* end = in_ ? in_.get() + in_end_ : nullptr;
  bool first = true;
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!lf) return false;
    size_t len = static_cast<size_t>(lf - p);
    if (len > 0 && p[len - 1] == '\r') --len;
    if (first) {
      const char* blank = static_cast<const char*>(std::memchr(p, ' ', len));
      if (!blank || !std::memchr(blank + 1, ' ', static_cast<size_t>(p + len - blank - 1))) return true;
      first = false;
    } else if (len == 0) {
      return true;
    }
    p = lf + 1;
  }
  return false;
}

void Socket::StartReadClock() {
  clock_on_ = true;
  clock_started_ = false;
}

bool Socket::ClockWait(uint32_t* wait) {
  if (base_timeout_ == 0) return true;  // no time-out: nothing to bound
  uint32_t now = platform::tick_count();
  if (!clock_started_) {
    clock_started_ = true;
    clock_start_ = now;
  }
  uint32_t used = now - clock_start_;
  if (used >= base_timeout_) {
    last_error_ = platform::err::kWsaTimedOut;
    return false;
  }
  // The option is changed only when the rest is clearly shorter, so a
  // request that arrives in a few quick pieces costs no extra calls; the
  // clock may run over by at most the slack.
  constexpr uint32_t kSlack = 100;
  uint32_t left = base_timeout_ - used;
  if (*wait == 0 || left + kSlack < *wait) *wait = left;
  return true;
}

bool Socket::SetSendTimeout(uint32_t ms) {
  if (!IsValid()) return false;
  send_timeout_ = ms;
  return platform::socket_set_option(handle_, platform::SocketOption::kSendTimeout, ms) || Fail();
}

bool Socket::Shutdown(int how) {
  if (!IsValid()) return false;
  constexpr int kShutdownReceive = 0;
  if (how != kShutdownReceive) EndTls();  // close_notify goes before the end of the stream
  return platform::socket_shutdown(handle_, how) || Fail();
}

bool Socket::WaitReadable(uint32_t ms) {
  if (!IsValid()) return false;
  if (HasBuffered()) return true;  // a pipelined request is waiting
  int r = platform::socket_wait(handle_, false, ms);
  if (r < 0) Fail();
  return r > 0;
}

bool Socket::LocalAddress(platform::SockAddrV4* addr) {
  if (!IsValid()) return false;
  if (!have_local_) {
    if (!platform::socket_local_address(handle_, &local_)) return Fail();
    // Only a connected socket keeps its address for good.
    have_local_ = have_peer_;
  }
  *addr = local_;
  return true;
}

bool Socket::PeerAddress(platform::SockAddrV4* addr) {
  if (!IsValid()) return false;
  if (!have_peer_) {
    if (!platform::socket_peer_address(handle_, &peer_)) return Fail();
    have_peer_ = true;
  }
  *addr = peer_;
  return true;
}

bool Socket::ReceiveMore() { return IsValid() && Fill(); }

bool Socket::Fill() {
  MakeRoom();
  if (in_end_ == in_cap_) return false;
  int64_t n = ReceiveSome(in_.get() + in_end_, in_cap_ - in_end_);
  if (n <= 0) return false;
  in_end_ += static_cast<size_t>(n);
  return true;
}

void Socket::Consume(size_t n) { in_begin_ += std::min(n, in_end_ - in_begin_); }

bool Socket::TakeLine(std::string* line, size_t capacity) {
  if (capacity == 0 || !in_) return false;
  const char* start = in_.get() + in_begin_;
  const size_t avail = in_end_ - in_begin_;
  const size_t max = capacity - 1;
  const size_t scan = std::min(avail, max);
  if (const void* lf = std::memchr(start, '\n', scan)) {
    size_t n = static_cast<size_t>(static_cast<const char*>(lf) - start);
    in_begin_ += n + 1;
    if (n > 0 && start[n - 1] == '\r') --n;
    line->assign(start, n);
    return true;
  }
  if (avail < max) return false;
  // The line ends at the capacity; a carriage return that belongs to a
  // line end just beyond stays part of the text, as a byte-wise reader
  // would have it. The rest stays for the next call.
  line->assign(start, max);
  in_begin_ += max;
  return true;
}

bool Socket::ReadLine(std::string* line, size_t capacity) {
  if (!IsValid() || capacity == 0) return false;
  while (!TakeLine(line, capacity)) {
    if (!Fill()) return false;
  }
  return true;
}

bool Socket::SendFile(platform::FileHandle file, uint64_t offset, uint64_t length) {
  if (!IsValid()) return false;
  if (tls_) {
    last_error_ = platform::err::kWsaInvalid;
    return false;
  }
  uint64_t sent = platform::socket_send_file(handle_, file, offset, length);
  if (sent == length) return true;
  last_error_ = platform::socket_last_error();
  return false;
}

bool Socket::Resolve(const std::string& host, uint16_t port, bool names_allowed,
                     platform::SockAddrV4* addr) {
  addr->port = platform::host_to_net16(port);
  if (platform::parse_ipv4(host, &addr->addr)) return true;
  if (!names_allowed) return false;
  return platform::resolve_host_name(host, &addr->addr);
}

bool StartSockets() {
  platform::os_error error = 0;
  platform::SocketsInfo info;
  if (!platform::sockets_startup(&info, &error)) {
    ShowFatalSocketError("Unable to initialized Winsock API", error);
    return false;
  }
  // Every start-up reports the same; the first is kept, and later readers
  // never see it change.
  static std::once_flag kept;
  std::call_once(kept, [&info] { SocketsInfoStore() = info; });
  return true;
}

void StopSockets() { platform::sockets_cleanup(); }

const platform::SocketsInfo& SocketsInfo() { return SocketsInfoStore(); }

void ShowFatalSocketError(const char* message, platform::os_error code) {
  if (code == 0) code = platform::socket_last_error();
  char text[256];
  std::snprintf(text, sizeof text, "Windows Socket error %d: %s - %s", static_cast<int>(code), message,
                platform::error_message(code).c_str());
  platform::message_beep();
  platform::notify_failure(text, "Fatal Error", platform::kMbOk);
}

}  // namespace brisvane
