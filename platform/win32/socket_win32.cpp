#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <memory>

#include "platform/socket.h"

namespace platform {

static_assert(err::kWsaWouldBlock == WSAEWOULDBLOCK && err::kWsaTimedOut == WSAETIMEDOUT &&
              err::kWsaAddrInUse == WSAEADDRINUSE && err::kWsaConnReset == WSAECONNRESET &&
              err::kWsaNotConnected == WSAENOTCONN && err::kWsaMsgSize == WSAEMSGSIZE &&
              err::kWsaNotSocket == WSAENOTSOCK && err::kWsaHostNotFound == WSAHOST_NOT_FOUND &&
              err::kWsaTooManyFiles == WSAEMFILE && err::kWsaNoBufs == WSAENOBUFS);

namespace {

SOCKET to_native(SocketHandle s) { return static_cast<SOCKET>(s); }

int clamp(size_t len) { return len > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(len); }

sockaddr_in to_sockaddr(const SockAddrV4& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = a.addr;
  sa.sin_port = a.port;
  return sa;
}

SockAddrV4 from_sockaddr(const sockaddr_in& sa) {
  SockAddrV4 a;
  a.addr = sa.sin_addr.s_addr;
  a.port = sa.sin_port;
  return a;
}

bool set_option(SOCKET s, int level, int name, const void* value, int len) {
  return setsockopt(s, level, name, static_cast<const char*>(value), len) == 0;
}

// Sends all of a buffer, what fits on a non-blocking socket. -1 when
// nothing could be sent.
int64_t send_all(SOCKET s, const char* at, size_t len) {
  size_t done = 0;
  while (done < len) {
    int n = send(s, at + done, clamp(len - done), 0);
    if (n == SOCKET_ERROR) {
      if (done > 0 && WSAGetLastError() == WSAEWOULDBLOCK) break;
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

}  // namespace

bool sockets_startup(SocketsInfo* info, os_error* error) {
  WSADATA data;
  int r = WSAStartup(MAKEWORD(1, 1), &data);
  if (error) *error = static_cast<os_error>(r);
  if (r != 0) return false;
  info->description = data.szDescription;
  info->version = data.wVersion;
  info->high_version = data.wHighVersion;
  return true;
}

void sockets_cleanup() { WSACleanup(); }

os_error socket_last_error() { return static_cast<os_error>(WSAGetLastError()); }

SocketHandle socket_create(bool stream) {
  SOCKET s = socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Child processes (CGI programs) must not hold the server's sockets.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(s);
}

bool socket_close(SocketHandle s) { return closesocket(to_native(s)) == 0; }

bool socket_bind(SocketHandle s, const SockAddrV4& addr) {
  sockaddr_in sa = to_sockaddr(addr);
  return bind(to_native(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool socket_listen(SocketHandle s, int backlog) { return listen(to_native(s), backlog) == 0; }

SocketHandle socket_accept(SocketHandle s) {
  SOCKET c = accept(to_native(s), nullptr, nullptr);
  if (c == INVALID_SOCKET) return kInvalidSocket;
  // An accepted socket inherits non-blocking mode from the listener.
  u_long blocking = 0;
  ioctlsocket(c, FIONBIO, &blocking);
  SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(c);
}

AcceptOutcome socket_accept_connection(SocketHandle listener, SocketHandle* accepted) {
  *accepted = kInvalidSocket;
  SOCKET c = accept(to_native(listener), nullptr, nullptr);
  if (c == INVALID_SOCKET) {
    int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return AcceptOutcome::kWouldBlock;
    return e == WSAEMFILE || e == WSAENOBUFS ? AcceptOutcome::kNoResources : AcceptOutcome::kFailed;
  }
  u_long nonblocking = 1;
  if (ioctlsocket(c, FIONBIO, &nonblocking) != 0) {
    int e = WSAGetLastError();
    closesocket(c);
    WSASetLastError(e);
    return AcceptOutcome::kFailed;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
  *accepted = static_cast<SocketHandle>(c);
  return AcceptOutcome::kAccepted;
}

bool socket_connect(SocketHandle s, const SockAddrV4& addr) {
  sockaddr_in sa = to_sockaddr(addr);
  return connect(to_native(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool socket_connect_within(SocketHandle s, const SockAddrV4& addr, uint32_t ms) {
  SOCKET sock = to_native(s);
  u_long nonblocking = 1;
  if (ioctlsocket(sock, FIONBIO, &nonblocking) != 0) return false;
  sockaddr_in sa = to_sockaddr(addr);
  bool ok = connect(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  int error = ok ? 0 : WSAGetLastError();
  if (!ok && error == WSAEWOULDBLOCK) {
    // A refused connection shows in the exception set, a made one in the
    // write set; neither within the time means no answer.
    fd_set writes, faults;
    FD_ZERO(&writes);
    FD_ZERO(&faults);
    FD_SET(sock, &writes);
    FD_SET(sock, &faults);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    int ready = select(0, nullptr, &writes, &faults, &tv);
    int so_error = 0;
    int len = sizeof so_error;
    if (ready == 0) {
      error = WSAETIMEDOUT;
    } else if (ready < 0) {
      error = WSAGetLastError();
    } else if (getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len) != 0) {
      error = WSAGetLastError();
    } else if (so_error != 0 || !FD_ISSET(sock, &writes)) {
      error = so_error != 0 ? so_error : WSAECONNREFUSED;
    } else {
      ok = true;
    }
  }
  nonblocking = 0;
  ioctlsocket(sock, FIONBIO, &nonblocking);
  if (!ok) WSASetLastError(error);
  return ok;
}

int64_t socket_recv(SocketHandle s, void* buf, size_t len) {
  int n = recv(to_native(s), static_cast<char*>(buf), clamp(len), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int64_t socket_recv_nowait(SocketHandle s, void* buf, size_t len) {
  // Windows has no per-call "don't wait" flag: a look with no wait first,
  // so that a blocking socket does not block either. Readable means the
  // receive returns at once: data, the peer's close or its failure.
  SOCKET n = to_native(s);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(n, &readable);
  timeval now{0, 0};
  const int ready = select(0, &readable, nullptr, nullptr, &now);
  if (ready == SOCKET_ERROR) return -1;
  if (ready == 0) {
    WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  int got = recv(n, static_cast<char*>(buf), clamp(len), 0);
  return got == SOCKET_ERROR ? -1 : got;
}

int64_t socket_send(SocketHandle s, const void* data, size_t len) {
  return send_all(to_native(s), static_cast<const char*>(data), len);
}

int64_t socket_recv_from(SocketHandle s, SockAddrV4* from, void* buf, size_t len) {
  sockaddr_in sa{};
  int sa_len = sizeof sa;
  int n = recvfrom(to_native(s), static_cast<char*>(buf), clamp(len), 0, reinterpret_cast<sockaddr*>(&sa),
                   &sa_len);
  if (n == SOCKET_ERROR) return -1;
  if (from) *from = from_sockaddr(sa);
  return n;
}

int64_t socket_send_to(SocketHandle s, const SockAddrV4& to, const void* data, size_t len) {
  sockaddr_in sa = to_sockaddr(to);
  int n = sendto(to_native(s), static_cast<const char*>(data), clamp(len), 0, reinterpret_cast<sockaddr*>(&sa),
                 sizeof sa);
  return n == SOCKET_ERROR ? -1 : n;
}

bool socket_set_option(SocketHandle s, SocketOption option, uint32_t value) {
  SOCKET n = to_native(s);
  BOOL flag = value ? TRUE : FALSE;
  DWORD ms = value;
  switch (option) {
    case SocketOption::kReuseAddress: return set_option(n, SOL_SOCKET, SO_REUSEADDR, &flag, sizeof flag);
    case SocketOption::kBroadcast: return set_option(n, SOL_SOCKET, SO_BROADCAST, &flag, sizeof flag);
    case SocketOption::kKeepAlive: return set_option(n, SOL_SOCKET, SO_KEEPALIVE, &flag, sizeof flag);
    case SocketOption::kNoDelay: return set_option(n, IPPROTO_TCP, TCP_NODELAY, &flag, sizeof flag);
    case SocketOption::kReceiveTimeout: return set_option(n, SOL_SOCKET, SO_RCVTIMEO, &ms, sizeof ms);
    case SocketOption::kSendTimeout: return set_option(n, SOL_SOCKET, SO_SNDTIMEO, &ms, sizeof ms);
  }
  WSASetLastError(WSAEINVAL);
  return false;
}

bool socket_set_blocking(SocketHandle s, bool blocking) {
  u_long nonblocking = blocking ? 0 : 1;
  return ioctlsocket(to_native(s), FIONBIO, &nonblocking) == 0;
}

bool socket_set_linger(SocketHandle s, bool on, uint16_t seconds) {
  linger l{};
  l.l_onoff = on ? 1 : 0;
  l.l_linger = seconds;
  return set_option(to_native(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

bool socket_shutdown(SocketHandle s, int how) {
  static_assert(SD_RECEIVE == 0 && SD_SEND == 1 && SD_BOTH == 2);
  SOCKET n = to_native(s);
  bool ok = shutdown(n, how) == 0;
  if (!ok && WSAGetLastError() == WSAENOTCONN) {
    // A listener has no connection to shut down; stopping it is what the
    // caller wants, and Linux takes the call that way.
    BOOL listening = FALSE;
    int len = sizeof listening;
    ok = getsockopt(n, SOL_SOCKET, SO_ACCEPTCONN, reinterpret_cast<char*>(&listening), &len) == 0 && listening;
    if (!ok) WSASetLastError(WSAENOTCONN);
  }
  if (ok && how != SD_SEND) {
    // Unlike Linux, Windows leaves a thread blocked in recv or accept on
    // the socket waiting; cancelling the socket's pending I/O wakes it.
    CancelIoEx(reinterpret_cast<HANDLE>(n), nullptr);
  }
  return ok;
}

int socket_wait(SocketHandle s, bool writable, uint32_t ms) {
  SOCKET n = to_native(s);
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(n, &ready);
  // A failed non-blocking connect shows in the exception set only; it
  // counts as ready so that the caller learns the error, as on POSIX.
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(n, &failed);
  timeval tv{};
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  int r = select(0, writable ? nullptr : &ready, writable ? &ready : nullptr, writable ? &failed : nullptr, &tv);
  if (r == SOCKET_ERROR) return -1;
  return r > 0 ? 1 : 0;
}

int socket_wait_readable(const SocketHandle* sockets, size_t count, uint32_t ms) {
  if (count > kMaxWaitSockets) {
    WSASetLastError(WSAEINVAL);
    return -1;
  }
  fd_set ready;
  FD_ZERO(&ready);
  for (size_t i = 0; i < count; ++i) FD_SET(to_native(sockets[i]), &ready);
  timeval tv{};
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  int r = select(0, &ready, nullptr, nullptr, &tv);
  return r == SOCKET_ERROR ? -1 : r;
}

bool socket_local_address(SocketHandle s, SockAddrV4* addr) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (getsockname(to_native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  *addr = from_sockaddr(sa);
  return true;
}

bool socket_peer_address(SocketHandle s, SockAddrV4* addr) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (getpeername(to_native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  *addr = from_sockaddr(sa);
  return true;
}

uint64_t socket_send_file(SocketHandle s, FileHandle file, uint64_t offset, uint64_t length) {
  // Reads and sends in 64 KiB pieces. TransmitFile would save a copy, but
  // the workstation editions serve only two of them at a time.
  constexpr DWORD kChunk = 65536;
  std::unique_ptr<char[]> buf(new char[kChunk]);
  HANDLE h = reinterpret_cast<HANDLE>(file);
  SOCKET n = to_native(s);
  uint64_t sent = 0;
  while (sent < length) {
    uint64_t at = offset + sent;
    OVERLAPPED where{};  // a position for a synchronous handle, not overlapped I/O
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD want = length - sent < kChunk ? static_cast<DWORD>(length - sent) : kChunk;
    DWORD got = 0;
    if (!ReadFile(h, buf.get(), want, &got, &where)) {
      DWORD e = GetLastError();
      WSASetLastError(e == ERROR_HANDLE_EOF ? 0 : static_cast<int>(e));
      return sent;
    }
    if (got == 0) {
      WSASetLastError(0);
      return sent;
    }
    int64_t put = send_all(n, buf.get(), got);
    if (put < 0) return sent;
    sent += static_cast<uint64_t>(put);
    if (put < static_cast<int64_t>(got)) {  // a non-blocking socket took only part
      WSASetLastError(WSAEWOULDBLOCK);
      return sent;
    }
  }
  WSASetLastError(0);
  return sent;
}

bool resolve_host_name(const std::string& name, uint32_t* addr) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int r = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (r != 0 || !list) {
    WSASetLastError(r != 0 ? r : WSAHOST_NOT_FOUND);
    return false;
  }
  *addr = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  return true;
}

bool reverse_lookup(uint32_t addr, std::string* name) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  int r = getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (r != 0) {
    WSASetLastError(r);
    return false;
  }
  *name = host;
  return true;
}

}  // namespace platform
