// A TLS client for the server-side tests: OpenSSL's client on POSIX,
// Schannel's on Windows. Blocking, on a platform socket the caller owns.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/socket.h"

namespace platform::test {

enum class TlsVersion { k11, k12, k13, kAny };

class TlsTestClient {
 public:
  TlsTestClient();
  ~TlsTestClient();
  // Handshakes over a connected blocking socket, offering `sni` (none
  // when empty), ALPN http/1.1 and only `version`. False with `*why`.
  bool connect(SocketHandle s, const std::string& sni, TlsVersion version, std::string* why);
  bool send_all(const std::string& data);
  // Reads until `want` bytes came; fewer when the stream ended.
  std::string recv_exactly(size_t want);
  // True when the server's close_notify (or the TCP close) comes next.
  bool sees_close();
  // The common name of the certificate the server presented.
  std::string peer_common_name();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace platform::test
