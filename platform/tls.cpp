// The parts of the TLS layer that are the same on every backend: the SNI
// table and the waiting calls built on the non-blocking steps.
#include "platform/tls.h"

#include <cctype>


namespace platform {

namespace {

std::string lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

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
