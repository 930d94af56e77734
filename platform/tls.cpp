// The parts of the TLS layer that are the same on every backend: the SNI
// table and the waiting calls built on the non-blocking steps.
#include "platform/tls.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/tls_client_hello.h"


namespace platform {

namespace {

uint32_t be16(const unsigned char* p) { return (p[0] << 8) | p[1]; }
uint32_t be24(const unsigned char* p) { return (p[0] << 16) | (p[1] << 8) | p[2]; }

std::string lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string client_hello_server_name(const unsigned char* p, size_t n) {
  constexpr unsigned char kHandshakeRecord = 22, kClientHello = 1;
  if (n < 5 + 4 || p[0] != kHandshakeRecord || p[5] != kClientHello || n < 5 + be16(p + 3)) return "";
  size_t end = 5 + static_cast<size_t>(be16(p + 3));
  end = std::min(end, 9 + static_cast<size_t>(be24(p + 6)));
  size_t at = 9 + 2 + 32;  // version, random
  auto skip = [&](size_t len_bytes) {
    if (at + len_bytes > end) return false;
    size_t len = len_bytes == 1 ? p[at] : be16(p + at);
    at += len_bytes + len;
    return at <= end;
  };
  if (!skip(1) || !skip(2) || !skip(1)) return "";  // session id, suites, compression
  if (at + 2 > end) return "";
  size_t ext_end = std::min(end, at + 2 + be16(p + at));
  at += 2;
  while (at + 4 <= ext_end) {
    uint32_t type = be16(p + at), len = be16(p + at + 2);
    size_t data = at + 4;
    if (data + len > ext_end) return "";
    // server_name_list: its length, then entries of type (0 = host name),
    // length and name.
    if (type == 0 && len >= 5 && p[data + 2] == 0) {
      size_t name_len = be16(p + data + 3);
      if (5 + name_len > len) return "";
      return std::string(reinterpret_cast<const char*>(p + data + 5), name_len);
    }
    at = data + len;
  }
  return "";
}

void TlsServerTable::add(const std::string& name, std::shared_ptr<TlsContext> context) {
  by_name_[lower(name)] = std::move(context);
}

TlsContext* TlsServerTable::select(const std::string& name) const noexcept {
  if (!name.empty()) {
    auto it = by_name_.find(lower(name));
    if (it != by_name_.end()) return it->second.get();
  }
  return default_.get();
}

bool TlsSession::wait_for(TlsOutcome want, uint32_t ms) noexcept {
  int r = socket_wait(socket_, want == TlsOutcome::kWantWrite, ms);
  if (r > 0) return true;
  error_ = r == 0 ? err::kWsaTimedOut : socket_last_error();
  return false;
}

TlsOutcome TlsSession::handshake_within(uint32_t ms) noexcept {
  while (true) {
    TlsOutcome o = handshake();
    if (o != TlsOutcome::kWantRead && o != TlsOutcome::kWantWrite) return o;
    if (!wait_for(o, ms)) return TlsOutcome::kFailed;
  }
}

TlsOutcome TlsSession::read_within(void* buf, size_t capacity, size_t* got, uint32_t ms) noexcept {
  while (true) {
    TlsOutcome o = read(buf, capacity, got);
    if (o != TlsOutcome::kWantRead && o != TlsOutcome::kWantWrite) return o;
    if (!wait_for(o, ms)) return TlsOutcome::kFailed;
  }
}

TlsOutcome TlsSession::write_all_within(const void* data, size_t length, uint32_t ms) noexcept {
  const char* at = static_cast<const char*>(data);
  size_t done = 0;
  while (done < length) {
    size_t sent = 0;
    TlsOutcome o = write(at + done, length - done, &sent);
    if (o == TlsOutcome::kDone) {
      done += sent;
      continue;
    }
    if (o != TlsOutcome::kWantRead && o != TlsOutcome::kWantWrite) return o;
    if (!wait_for(o, ms)) return TlsOutcome::kFailed;
  }
  return TlsOutcome::kDone;
}

}  // namespace platform
