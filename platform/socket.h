// TCP/UDP sockets over IPv4 with Windows Sockets meaning on every backend:
// errors are Windows Sockets codes (10035 would block, 10060 timed out,
// ...), kept per thread and read with socket_last_error(). A receive or
// send on a blocking socket whose time-out passed fails with 10060.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/file.h"

namespace platform {

using SocketHandle = uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// An IPv4 address and port, both in network byte order as in sockaddr_in.
struct SockAddrV4 {
  uint32_t addr = 0;
  uint16_t port = 0;
};

uint16_t host_to_net16(uint16_t v);
uint32_t host_to_net32(uint32_t v);

struct SocketsInfo {
  std::string description;  // e.g. "WinSock 2.0"
  uint16_t version = 0;       // negotiated, low byte major
  uint16_t high_version = 0;  // highest supported
};

// Starts the sockets library (version 1.1 requested on Windows). False on
// failure, with the code in `error`.
bool sockets_startup(SocketsInfo* info, os_error* error);
void sockets_cleanup();

os_error socket_last_error();

SocketHandle socket_create(bool stream);
// Closes the handle; the handle is invalid afterwards whatever the result.
bool socket_close(SocketHandle s);
bool socket_bind(SocketHandle s, const SockAddrV4& addr);
bool socket_listen(SocketHandle s, int backlog);
// An accepted connection, or kInvalidSocket. The new socket is blocking.
SocketHandle socket_accept(SocketHandle s);
// What accepting a connection came to. kNoResources: the process or the
// system ran out of descriptors or buffers (EMFILE, ENFILE, ENOBUFS,
// WSAEMFILE, WSAENOBUFS); accepting again at once would fail the same way,
// so the caller backs off until descriptors come back. kWouldBlock: a
// non-blocking listener has no connection waiting.
enum class AcceptOutcome { kAccepted, kWouldBlock, kNoResources, kFailed };
// Accepts one connection into `*accepted` (kInvalidSocket unless
// kAccepted). The new socket is non-blocking, ready to be parked in a
// Poller, and not inherited by child processes. socket_last_error() holds
// the code of any outcome but kAccepted.
AcceptOutcome socket_accept_connection(SocketHandle listener, SocketHandle* accepted);
bool socket_connect(SocketHandle s, const SockAddrV4& addr);
// Connects a blocking socket but gives up after `ms`: false with 10060 when
// the time passed (a peer that never answers), or with the connect error.
// The socket is blocking again afterwards.
bool socket_connect_within(SocketHandle s, const SockAddrV4& addr, uint32_t ms);
// Bytes moved, 0 for an orderly close (receive), or -1.
int64_t socket_recv(SocketHandle s, void* buf, size_t len);
int64_t socket_send(SocketHandle s, const void* data, size_t len);
// Receives what has arrived without waiting, whatever the socket's mode:
// bytes, 0 for an orderly close, or -1; -1 with kWsaWouldBlock means
// nothing has arrived yet (park the socket and try when it is readable).
int64_t socket_recv_nowait(SocketHandle s, void* buf, size_t len);
int64_t socket_recv_from(SocketHandle s, SockAddrV4* from, void* buf, size_t len);
int64_t socket_send_to(SocketHandle s, const SockAddrV4& to, const void* data, size_t len);

enum class SocketOption {
  kReuseAddress,    // value 0/1
  kBroadcast,       // value 0/1
  kKeepAlive,       // value 0/1
  kNoDelay,         // value 0/1 (TCP_NODELAY)
  kReceiveTimeout,  // milliseconds, 0 = none
  kSendTimeout,     // milliseconds, 0 = none
};
bool socket_set_option(SocketHandle s, SocketOption option, uint32_t value);
bool socket_set_blocking(SocketHandle s, bool blocking);
bool socket_set_linger(SocketHandle s, bool on, uint16_t seconds);
// how: 0 receive, 1 send, 2 both.
bool socket_shutdown(SocketHandle s, int how);
// 1 when the socket became readable (writable) within `ms`, 0 on time-out,
// -1 on error. 0 ms only polls.
int socket_wait(SocketHandle s, bool writable, uint32_t ms);
// The same for reading on several sockets at once (a few listeners): the
// number that became readable within `ms`, 0 on time-out, -1 on error.
// At most kMaxWaitSockets.
inline constexpr size_t kMaxWaitSockets = 8;
int socket_wait_readable(const SocketHandle* sockets, size_t count, uint32_t ms);
bool socket_local_address(SocketHandle s, SockAddrV4* addr);
bool socket_peer_address(SocketHandle s, SockAddrV4* addr);

// Sends `length` bytes of an open file, starting at `offset`, as fast as
// the system allows (sendfile, TransmitFile or buffered reads). Returns the
// bytes sent; fewer than `length` means the file ended or the send failed
// (socket_last_error tells which: 0 when the file ended).
uint64_t socket_send_file(SocketHandle s, FileHandle file, uint64_t offset, uint64_t length);

// "a.b.c.d" <-> address in network order.
std::string format_ipv4(uint32_t addr);
bool parse_ipv4(const std::string& text, uint32_t* addr);
// First IPv4 address of a host name.
bool resolve_host_name(const std::string& name, uint32_t* addr);
// Host name of an address, by reverse look-up.
bool reverse_lookup(uint32_t addr, std::string* name);

}  // namespace platform
