// The engine's socket: one handle plus the Windows Sockets code of its last
// failed call. It never throws; every operation reports failure by its
// result. Received bytes pass through a per-socket buffer so that reading
// request lines costs one system call per buffer, not per byte.
//
// An encrypted socket carries a TLS session, and every read and write goes
// through it. The session keeps the handle non-blocking; the blocking
// calls (Receive, ReadLine, Send) wait on the socket themselves, bounded
// by the same time-outs and read clock as a plain socket's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "platform/tls.h"

namespace brisvane {

class Socket {
 public:
  Socket() = default;
  explicit Socket(platform::SocketHandle accepted) : handle_(accepted) {}
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Connect(const platform::SockAddrV4& addr);
  // A new heap-allocated socket owning the accepted handle, or nullptr.
  Socket* Accept();
  // Closes the handle; it is invalid afterwards even when closing fails.
  bool Close();
  // Bytes received (0 when the peer closed), or -1. Buffered bytes first.
  int64_t Receive(void* buf, size_t len);
  // Sends everything or fails: bytes sent, or -1.
  int64_t Send(const void* data, size_t len);

  // Creates a socket of the kind and binds it to `port` (host order) and
  // `addr` (network order, 0 for any). Failures show the fatal box.
  bool CreateAndBind(bool stream, uint16_t port, uint32_t addr);
  // A new unbound stream socket, without any box on failure.
  bool CreateStream();
  bool Listen(int backlog);
  bool SetBlocking(bool blocking);
  bool SetReuseAddress(bool on);
  bool SetNoDelay(bool on);
  bool SetLinger(bool on, uint16_t seconds);
  bool SetReceiveTimeout(uint32_t ms);
  bool SetSendTimeout(uint32_t ms);
  bool Shutdown(int how);
  // True when data is (or becomes, within `ms`) ready to read.
  bool WaitReadable(uint32_t ms);

  // What receiving without waiting came to.
  enum class Arrival { kData, kNothing, kClosed, kFailed };
  // Moves what has arrived into the input buffer without waiting, in
  // either mode. kNothing: nothing came yet (or the buffer is at its
  // largest and full, which HeadBuffered then reports). On an encrypted
  // socket it advances a handshake still going first (kNothing while it
  // waits; the layer asks ContinueHandshake itself to learn which
  // readiness).
  Arrival ReceiveAvailable();
  // Waits (bounded by the receive time-out and the read clock) until more
  // arrives in the input buffer; false when the peer closed, the receive
  // failed or timed out, or the buffer is full.
  bool ReceiveMore();
  // True when the input buffer holds a whole request head, so that the
  // reader can parse it without waiting: up to the empty line, or a
  // request line without a version (HTTP/0.9, or a line the reader
  // closes on). A buffer grown to its largest and full counts too: it
  // holds more than the reader takes for a head, which it refuses.
  bool HeadBuffered() const;
  // Bytes of a next request are already here (or decrypted and waiting in
  // the session, where the socket no longer shows them as readable).
  bool HasBuffered() const { return in_begin_ < in_end_ || (tls_ && tls_->has_buffered()); }
  // What the input buffer holds; Consume drops the first `n` bytes of it.
  std::string_view Buffered() const {
    return in_ ? std::string_view(in_.get() + in_begin_, in_end_ - in_begin_) : std::string_view();
  }
  void Consume(size_t n);
  // Gives back an empty input buffer: a connection idle between requests
  // keeps no buffer (the next arrival makes one).
  void ReleaseInput() {
    if (in_begin_ == in_end_) {
      in_.reset();
      in_cap_ = in_begin_ = in_end_ = 0;
    }
  }
  // ReadLine on the buffered bytes alone: false, taking nothing, when no
  // whole line (or capacity - 1 bytes of one) is buffered yet.
  bool TakeLine(std::string* line, size_t capacity);

  // Between these two, the receives together may take no longer than the
  // receive time-out set last; a pending keep-alive wait is not counted.
  // A receive after the time is up fails with 10060, so a client cannot
  // hold a thread by trickling a request byte by byte.
  void StartReadClock();
  void StopReadClock() { clock_on_ = false; }
  bool LocalAddress(platform::SockAddrV4* addr);
  bool PeerAddress(platform::SockAddrV4* addr);

  // Reads one line into `line`: a line feed ends it and is dropped, with a
  // carriage return right before it. At most capacity - 1 bytes are taken;
  // the rest of a longer line stays for the next call. False when the peer
  // closes, an error occurs or the receive time-out passes mid-line.
  bool ReadLine(std::string* line, size_t capacity);

  // Sends `length` bytes of an open file from `offset`; true when all went.
  // A plain socket only: an encrypted one's bytes must pass through the
  // session, so it refuses (the caller copies through Send instead).
  bool SendFile(platform::FileHandle file, uint64_t offset, uint64_t length);

  // Fills `addr` from a dotted address or, when allowed, a host name.
  static bool Resolve(const std::string& host, uint16_t port, bool names_allowed,
                      platform::SockAddrV4* addr);

  // Makes this an encrypted connection, served with a certificate from
  // `table`; the handshake then runs through ContinueHandshake. False when
  // no session could be made (no certificate at all, for one): TlsFailure
  // says why.
  bool StartTls(std::shared_ptr<const platform::TlsServerTable> table);
  // What one step of the handshake came to; kWantRead / kWantWrite: call
  // again once the socket is readable / writable.
  enum class Handshake { kDone, kWantRead, kWantWrite, kFailed };
  // Advances the handshake without waiting; kDone at once for a plain
  // socket or once it has finished.
  Handshake ContinueHandshake();
  bool HandshakePending() const { return tls_ && !handshake_done_; }
  // The host name the client asked for in its handshake ("" for none).
  std::string TlsServerName() const;
  // The TLS library's words for the last failure, for a trace line.
  std::string TlsFailure() const;

  // The connection is encrypted (it came in on the TLS listener).
  bool secure() const { return secure_; }

  bool IsValid() const { return handle_ != platform::kInvalidSocket; }
  platform::SocketHandle handle() const { return handle_; }
  platform::os_error last_error() const { return last_error_; }

 private:
  bool Fail();  // records the thread's socket error; returns false
  bool Fill();  // reads more into the input buffer; false at close/error
  // One receive as Receive makes it past its buffer: waits within the
  // time-out and read clock; bytes, 0 at close, -1 on failure.
  int64_t ReceiveSome(void* buf, size_t len);
  Arrival ReceiveAvailableTls();
  // Sends close_notify (bounded) and ends the session; the socket is then
  // a plain blocking one again, for the drain before the close.
  void EndTls();
  // Room at the end of the input buffer: allocated, emptied, moved to its
  // start or grown (up to its largest) as needed.
  void MakeRoom();

  platform::SocketHandle handle_ = platform::kInvalidSocket;
  platform::os_error last_error_ = 0;
  bool secure_ = false;
  std::unique_ptr<platform::TlsSession> tls_;
  bool handshake_done_ = false;
  uint32_t send_timeout_ = 0;
  bool UseTimeout(uint32_t ms);
  bool PrepareReceive();
  bool ClockWait(uint32_t* wait);
  uint32_t base_timeout_ = 0;
  bool clock_on_ = false;
  bool clock_started_ = false;
  uint32_t clock_start_ = 0;
  uint32_t timeout_in_force_ = 0;
  bool timeout_known_ = false;

  // A connected socket's addresses never change; each is asked once.
  bool have_local_ = false;
  bool have_peer_ = false;
  platform::SockAddrV4 local_;
  platform::SockAddrV4 peer_;
  std::unique_ptr<char[]> in_;
  size_t in_cap_ = 0;
  size_t in_begin_ = 0;
  size_t in_end_ = 0;
};

// Start-up of the sockets library, once for each StopSockets to come (the
// system counts them); the description and versions are kept for the
// start-up trace line. A failure shows the fatal box.
bool StartSockets();
void StopSockets();
const platform::SocketsInfo& SocketsInfo();

// "Windows Socket error %d: <message> - <the system's text for the code>"
// in a "Fatal Error" box, with a beep; without a desktop it goes to the
// error log and the console. A zero code takes the thread's last socket
// error.
void ShowFatalSocketError(const char* message, platform::os_error code);

}  // namespace brisvane
