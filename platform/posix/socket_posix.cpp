// Sockets on POSIX with Windows Sockets meaning. A socket handle is the
// descriptor. Errors are kept per thread as Windows Sockets codes, and
// also as the thread's last error, since Windows keeps them in one place.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/errno_map.h"
#include "platform/posix/file_internal.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace platform {
namespace {

thread_local os_error g_socket_error = 0;

int fd_of(SocketHandle s) { return s == kInvalidSocket ? -1 : static_cast<int>(s); }

void set_socket_error(os_error e) {
  g_socket_error = e;
  set_last_error(e);
}

os_error record_errno() {
  os_error e = posix::socket_error_from_errno(errno);
  set_socket_error(e);
  return e;
}

bool fail() {
  record_errno();
  return false;
}

bool is_nonblocking(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  return fl >= 0 && (fl & O_NONBLOCK);
}

// EAGAIN on a blocking socket means its receive or send time-out passed,
// which Windows reports as timed out; on a non-blocking one, would block.
void record_transfer_error(int fd) {
  if (errno == EAGAIN || errno == EWOULDBLOCK)
    set_socket_error(is_nonblocking(fd) ? err::kWsaWouldBlock : err::kWsaTimedOut);
  else
    record_errno();
}

sockaddr_in to_native(const SockAddrV4& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = a.addr;
  sa.sin_port = a.port;
  return sa;
}

SockAddrV4 from_native(const sockaddr_in& sa) {
  SockAddrV4 a;
  a.addr = sa.sin_addr.s_addr;
  a.port = sa.sin_port;
  return a;
}

bool set_int_option(int fd, int level, int name, int value) {
  if (::setsockopt(fd, level, name, &value, sizeof value) != 0) return fail();
  return true;
}

// Sends the whole buffer on a blocking socket, what fits on a non-blocking
// one. -1 when nothing could be sent.
int64_t send_all(int fd, const char* at, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::send(fd, at + done, len - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && is_nonblocking(fd)) {
      if (done > 0) return static_cast<int64_t>(done);
      set_socket_error(err::kWsaWouldBlock);
      return -1;
    }
    record_transfer_error(fd);
    return -1;
  }
  return static_cast<int64_t>(done);
}

// Where sendfile cannot take the file: reads and sends.
uint64_t send_file_by_reads(int sock, int file, uint64_t offset, uint64_t length) {
  char buf[65536];
  uint64_t sent = 0;
  while (sent < length) {
    size_t want = length - sent < sizeof buf ? static_cast<size_t>(length - sent) : sizeof buf;
    ssize_t got = ::pread(file, buf, want, static_cast<off_t>(offset + sent));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      record_errno();
      return sent;
    }
    if (got == 0) {
      set_socket_error(err::kSuccess);
      return sent;
    }
    int64_t n = send_all(sock, buf, static_cast<size_t>(got));
    if (n < 0) return sent;
    sent += static_cast<uint64_t>(n);
    if (n < got) {  // a non-blocking socket took only part
      set_socket_error(err::kWsaWouldBlock);
      return sent;
    }
  }
  return sent;
}

}  // namespace

bool sockets_startup(SocketsInfo* info, os_error* error) {
  // sendfile has no MSG_NOSIGNAL: a client that resets the connection in
  // the middle of a document would kill the process. A broken connection is
  // an error result here, as it is on Windows, so SIGPIPE is ignored unless
  // the program chose a handler of its own.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    signal(SIGPIPE, SIG_IGN);
  info->description = "POSIX sockets";
  info->version = 0x0101;
  info->high_version = 0x0202;
  if (error) *error = err::kSuccess;
  return true;
}

void sockets_cleanup() {}

os_error socket_last_error() { return g_socket_error; }

SocketHandle socket_create(bool stream) {
  int fd = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    record_errno();
    return kInvalidSocket;
  }
  if (stream) {
    // Windows binds a port that only has connections in TIME_WAIT left on
    // it; Linux needs SO_REUSEADDR for that. It still refuses a port with
    // a listener, as Windows does.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  return static_cast<SocketHandle>(fd);
}

bool socket_close(SocketHandle s) {
  int fd = fd_of(s);
  if (fd < 0) {
    set_socket_error(err::kWsaNotSocket);
    return false;
  }
  // The descriptor is released even when close reports EINTR.
  if (::close(fd) != 0 && errno != EINTR) return fail();
  return true;
}

bool socket_bind(SocketHandle s, const SockAddrV4& addr) {
  sockaddr_in sa = to_native(addr);
  if (::bind(fd_of(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return fail();
  return true;
}

bool socket_listen(SocketHandle s, int backlog) {
  if (::listen(fd_of(s), backlog) != 0) return fail();
  return true;
}

SocketHandle socket_accept(SocketHandle s) {
  while (true) {
    int fd = ::accept4(fd_of(s), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return static_cast<SocketHandle>(fd);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      set_socket_error(err::kWsaWouldBlock);
    else
      record_errno();
    return kInvalidSocket;
  }
}

AcceptOutcome socket_accept_connection(SocketHandle listener, SocketHandle* accepted) {
  *accepted = kInvalidSocket;
  while (true) {
    int fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      *accepted = static_cast<SocketHandle>(fd);
      return AcceptOutcome::kAccepted;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      set_socket_error(err::kWsaWouldBlock);
      return AcceptOutcome::kWouldBlock;
    }
    os_error e = record_errno();
    return e == err::kWsaTooManyFiles || e == err::kWsaNoBufs ? AcceptOutcome::kNoResources
                                                              : AcceptOutcome::kFailed;
  }
}

bool socket_connect(SocketHandle s, const SockAddrV4& addr) {
  int fd = fd_of(s);
  sockaddr_in sa = to_native(addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return true;
  if (errno == EINPROGRESS) {  // Windows says would block for a non-blocking connect
    set_socket_error(err::kWsaWouldBlock);
    return false;
  }
  if (errno != EINTR) return fail();
  // Interrupted, the connection goes on in the background: wait for it.
  pollfd p{fd, POLLOUT, 0};
  while (::poll(&p, 1, -1) < 0) {
    if (errno != EINTR) return fail();
  }
  int so_error = 0;
  socklen_t len = sizeof so_error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return fail();
  if (so_error == 0) return true;
  errno = so_error;
  return fail();
}

bool socket_connect_within(SocketHandle s, const SockAddrV4& addr, uint32_t ms) {
  int fd = fd_of(s);
  if (!socket_set_blocking(s, false)) return false;
  sockaddr_in sa = to_native(addr);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  if (!ok && errno != EINPROGRESS && errno != EINTR) {
    record_errno();
  } else if (!ok) {
    int ready = socket_wait(s, true, ms);
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (ready == 0) {
      set_socket_error(err::kWsaTimedOut);
    } else if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) {
      record_errno();
    } else if (ready > 0 && so_error != 0) {
      errno = so_error;
      record_errno();
    } else {
      ok = ready > 0;
    }
  }
  // Keep the failing call's code: restoring the mode must not overwrite it.
  os_error saved = g_socket_error;
  socket_set_blocking(s, true);
  if (!ok) set_socket_error(saved);
  return ok;
}

int64_t socket_recv(SocketHandle s, void* buf, size_t len) {
  int fd = fd_of(s);
  while (true) {
    ssize_t n = ::recv(fd, buf, len, 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    record_transfer_error(fd);
    return -1;
  }
}

int64_t socket_recv_nowait(SocketHandle s, void* buf, size_t len) {
  while (true) {
    ssize_t n = ::recv(fd_of(s), buf, len, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    // No mode look-up here: with MSG_DONTWAIT, EAGAIN only means "nothing yet".
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      set_socket_error(err::kWsaWouldBlock);
    else
      record_errno();
    return -1;
  }
}

int64_t socket_send(SocketHandle s, const void* data, size_t len) {
  return send_all(fd_of(s), static_cast<const char*>(data), len);
}

int64_t socket_recv_from(SocketHandle s, SockAddrV4* from, void* buf, size_t len) {
  int fd = fd_of(s);
  while (true) {
    sockaddr_in sa{};
    iovec iov{buf, len};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n = ::recvmsg(fd, &msg, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      record_transfer_error(fd);
      return -1;
    }
    if (from) *from = from_native(sa);
    // A datagram too large for the buffer fails on Windows instead of
    // passing cut short.
    if (msg.msg_flags & MSG_TRUNC) {
      set_socket_error(err::kWsaMsgSize);
      return -1;
    }
    return n;
  }
}

int64_t socket_send_to(SocketHandle s, const SockAddrV4& to, const void* data, size_t len) {
  int fd = fd_of(s);
  sockaddr_in sa = to_native(to);
  while (true) {
    ssize_t n = ::sendto(fd, data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    record_transfer_error(fd);
    return -1;
  }
}

bool socket_set_option(SocketHandle s, SocketOption option, uint32_t value) {
  int fd = fd_of(s);
  int flag = value ? 1 : 0;
  switch (option) {
    case SocketOption::kReuseAddress: return set_int_option(fd, SOL_SOCKET, SO_REUSEADDR, flag);
    case SocketOption::kBroadcast: return set_int_option(fd, SOL_SOCKET, SO_BROADCAST, flag);
    case SocketOption::kKeepAlive: return set_int_option(fd, SOL_SOCKET, SO_KEEPALIVE, flag);
    case SocketOption::kNoDelay: return set_int_option(fd, IPPROTO_TCP, TCP_NODELAY, flag);
    case SocketOption::kReceiveTimeout:
    case SocketOption::kSendTimeout: {
      timeval tv{};
      tv.tv_sec = static_cast<time_t>(value / 1000);
      tv.tv_usec = static_cast<suseconds_t>((value % 1000) * 1000);
      int name = option == SocketOption::kReceiveTimeout ? SO_RCVTIMEO : SO_SNDTIMEO;
      if (::setsockopt(fd, SOL_SOCKET, name, &tv, sizeof tv) != 0) return fail();
      return true;
    }
  }
  set_socket_error(err::kWsaInvalid);
  return false;
}

bool socket_set_blocking(SocketHandle s, bool blocking) {
  int fd = fd_of(s);
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return fail();
  int want = blocking ? (fl & ~O_NONBLOCK) : (fl | O_NONBLOCK);
  if (want != fl && ::fcntl(fd, F_SETFL, want) != 0) return fail();
  return true;
}

bool socket_set_linger(SocketHandle s, bool on, uint16_t seconds) {
  linger l{};
  l.l_onoff = on ? 1 : 0;
  l.l_linger = seconds;
  if (::setsockopt(fd_of(s), SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return fail();
  return true;
}

bool socket_shutdown(SocketHandle s, int how) {
  // SHUT_RD, SHUT_WR and SHUT_RDWR are 0, 1 and 2 as on Windows. On a
  // listening socket Linux accepts it and wakes a thread blocked in
  // accept, which closing the descriptor would not.
  static_assert(SHUT_RD == 0 && SHUT_WR == 1 && SHUT_RDWR == 2);
  if (::shutdown(fd_of(s), how) != 0) return fail();
  return true;
}

namespace {
// poll() for up to `ms` in all, through interruptions: its count of ready
// descriptors, 0 when the time passed, -1 (error recorded) on failure.
int poll_within(pollfd* p, nfds_t count, uint32_t ms) {
  uint32_t start = tick_count();
  uint32_t left = ms;
  while (true) {
    int r = ::poll(p, count, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (r >= 0) return r;
    if (errno != EINTR) {
      record_errno();
      return -1;
    }
    uint32_t spent = tick_count() - start;
    if (spent >= ms) return 0;
    left = ms - spent;
  }
}
}  // namespace

int socket_wait(SocketHandle s, bool writable, uint32_t ms) {
  pollfd p{fd_of(s), static_cast<short>(writable ? POLLOUT : POLLIN), 0};
  const int r = poll_within(&p, 1, ms);
  if (r > 0 && (p.revents & POLLNVAL)) {
    set_socket_error(err::kWsaNotSocket);
    return -1;
  }
  return r;  // ready, or an error or hang-up that the next call reports
}

int socket_wait_readable(const SocketHandle* sockets, size_t count, uint32_t ms) {
  if (count > kMaxWaitSockets) {
    set_socket_error(err::kWsaInvalid);
    return -1;
  }
  pollfd p[kMaxWaitSockets];
  for (size_t i = 0; i < count; ++i) p[i] = pollfd{fd_of(sockets[i]), POLLIN, 0};
  return poll_within(p, static_cast<nfds_t>(count), ms);
}

bool socket_local_address(SocketHandle s, SockAddrV4* addr) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd_of(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return fail();
  *addr = from_native(sa);
  return true;
}

bool socket_peer_address(SocketHandle s, SockAddrV4* addr) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(fd_of(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return fail();
  *addr = from_native(sa);
  return true;
}

uint64_t socket_send_file(SocketHandle s, FileHandle file, uint64_t offset, uint64_t length) {
  int sock = fd_of(s);
  int in = posix::file_descriptor(file);
  if (in < 0) {
    set_socket_error(err::kWsaInvalid);
    return 0;
  }
  uint64_t sent = 0;
  while (sent < length) {
    off_t at = static_cast<off_t>(offset + sent);
    uint64_t left = length - sent;
    size_t chunk = left > 0x7FFFF000u ? 0x7FFFF000u : static_cast<size_t>(left);
    ssize_t n = ::sendfile(sock, in, &at, chunk);
    if (n > 0) {
      sent += static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0) {  // the file ended
      set_socket_error(err::kSuccess);
      return sent;
    }
    if (errno == EINTR) continue;
    if (sent == 0 && (errno == EINVAL || errno == ENOSYS))
      return send_file_by_reads(sock, in, offset, length);
    record_transfer_error(sock);
    return sent;
  }
  set_socket_error(err::kSuccess);
  return sent;
}

bool resolve_host_name(const std::string& name, uint32_t* addr) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int r = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (r != 0 || !list) {
    set_socket_error(r == EAI_MEMORY ? err::kWsaNoBufs : err::kWsaHostNotFound);
    return false;
  }
  *addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(list);
  return true;
}

bool reverse_lookup(uint32_t addr, std::string* name) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  int r = ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (r != 0) {
    set_socket_error(r == EAI_MEMORY ? err::kWsaNoBufs : err::kWsaHostNotFound);
    return false;
  }
  *name = host;
  return true;
}

}  // namespace platform
