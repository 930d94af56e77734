// Server-side TLS over a platform socket: certificates loaded into
// contexts, a table that picks one by the name the client asked for (SNI),
// and one session per connection.
//
// Policy is the backend's, not the caller's: TLS 1.2 and 1.3 only, the
// cipher choice of Mozilla's "intermediate" profile (forward-secret key
// exchange with AES-GCM or ChaCha20-Poly1305; the server's order for TLS
// 1.2, the client's for TLS 1.3), no compression, no
// renegotiation, ALPN "http/1.1". Schannel has no ChaCha20 and is given
// the nearest set it can express (ECDHE/DHE with AES-GCM).
//
// A session borrows its socket and drives it without blocking. Two ways to
// use it, which may be mixed on one session:
// - Readiness-driven (the connection layer with a Poller): handshake(),
//   read() and write() never wait; kWantRead / kWantWrite say which
//   readiness to arm for before calling again with the same arguments.
// - Blocking with a time-out (a handler thread): the *_within calls wait on
//   the socket themselves, each wait bounded by `ms`; a wait that passes
//   fails with kWsaTimedOut.
// A TLS record can hold decrypted bytes that the socket no longer shows as
// readable: has_buffered() tells, so that a caller serves them before it
// parks the connection again.
//
// Errors are Windows codes: SSPI's SEC_E_* values for TLS failures (the
// Schannel backend returns them as they come; the OpenSSL backend maps its
// reasons onto the nearest one, see below), Windows Sockets codes for the
// transport, file codes for certificate files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/socket.h"

namespace platform {

namespace err {
// SSPI and certificate codes (HRESULTs held as unsigned values).
inline constexpr os_error kSecUnsupportedFunction = 0x80090302u;  // SEC_E_UNSUPPORTED_FUNCTION
inline constexpr os_error kSecInternalError = 0x80090304u;        // SEC_E_INTERNAL_ERROR
inline constexpr os_error kSecNoCredentials = 0x8009030Eu;        // SEC_E_NO_CREDENTIALS
inline constexpr os_error kSecContextExpired = 0x80090317u;       // SEC_E_CONTEXT_EXPIRED: peer's close_notify
inline constexpr os_error kSecIncompleteMessage = 0x80090318u;    // SEC_E_INCOMPLETE_MESSAGE
inline constexpr os_error kSecIllegalMessage = 0x80090326u;       // SEC_E_ILLEGAL_MESSAGE: not TLS, bad record
inline constexpr os_error kSecCertExpired = 0x80090328u;          // SEC_E_CERT_EXPIRED
inline constexpr os_error kSecDecryptFailure = 0x80090330u;       // SEC_E_DECRYPT_FAILURE
// SEC_E_ALGORITHM_MISMATCH: no common version or cipher suite. Schannel
// reports a refused protocol version (a TLS 1.1 client) with it too.
inline constexpr os_error kSecAlgorithmMismatch = 0x80090331u;
inline constexpr os_error kCryptBadKey = 0x80090003u;             // NTE_BAD_KEY: key unreadable or not the cert's
inline constexpr os_error kCryptNotSupported = 0x80090029u;       // NTE_NOT_SUPPORTED: key storage cannot import it
inline constexpr os_error kCertExpired = 0x800B0101u;             // CERT_E_EXPIRED: outside its validity period
inline constexpr os_error kCryptNoMatch = 0x80092009u;            // CRYPT_E_NO_MATCH: no certificate in the file
}  // namespace err

// Why a certificate could not be loaded: the file at fault, a sentence a
// person can act on ("the private key does not match the certificate"),
// and the code.
struct TlsLoadError {
  std::string file;
  std::string reason;
  os_error code = err::kSuccess;
};

// One certificate chain with its private key, ready to serve handshakes.
// Shared by every session that uses it; immutable once loaded.
class TlsContext {
 public:
  // `cert_path`: a PEM file with the chain, leaf first; on Windows also a
  // .pfx/.p12 file (without password). `key_path`: a PEM private key, or
  // empty when the key follows the certificates in the same file (or is
  // inside the .pfx). On Windows a PEM key must be PKCS#8 ("BEGIN PRIVATE
  // KEY", as certbot writes it); it is stored in the user's key storage
  // under a name derived from the certificate, so a reload replaces it. Refuses a missing or unreadable file, a file without
  // certificate or key, a key that is not the certificate's, and a leaf
  // certificate outside its validity period. Null on failure, `*why` filled.
  static std::shared_ptr<TlsContext> load(const std::string& cert_path, const std::string& key_path,
                                          TlsLoadError* why) noexcept;
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // The leaf's subject common name, for log lines.
  const std::string& subject() const noexcept { return subject_; }

  struct State;  // per backend
  State* state() const noexcept { return state_.get(); }

 private:
  // Frees a State where its type is complete (the backend's file), so that
  // making and destroying a context need no per-backend code.
  struct StateDeleter {
    void operator()(State* state) const noexcept;
  };
  using StatePtr = std::unique_ptr<State, StateDeleter>;

  TlsContext(StatePtr state, std::string subject) noexcept
      : state_(std::move(state)), subject_(std::move(subject)) {}
  StatePtr state_;
  std::string subject_;
};

// Which context answers a handshake: the one added under the name the
// client sent (compared without regard to case), else the default. A
// session keeps the table alive, so a reload can build a new table while
// old sessions finish on the old one.
class TlsServerTable {
 public:
  void set_default(std::shared_ptr<TlsContext> context) { default_ = std::move(context); }
  void add(const std::string& name, std::shared_ptr<TlsContext> context);
  // The context for an SNI name ("" when the client sent none), or null
  // when there is neither a match nor a default.
  TlsContext* select(const std::string& name) const noexcept;

 private:
  std::shared_ptr<TlsContext> default_;
  std::map<std::string, std::shared_ptr<TlsContext>> by_name_;  // lower-case names
};

// What one step of a session came to.
enum class TlsOutcome {
  kDone,       // the step finished (bytes moved for read/write)
  kWantRead,   // call again once the socket is readable
  kWantWrite,  // call again once the socket is writable
  kClosed,     // the peer ended the stream (close_notify or TCP close)
  kFailed,     // the session is unusable; last_error() says why
};

// One TLS connection, server side. Not thread-safe: one thread at a time,
// as for the socket under it.
class TlsSession {
 public:
  // The socket stays the caller's and must outlive the session; it is put
  // in non-blocking mode. ok() is false when the session could not be made.
  TlsSession(std::shared_ptr<const TlsServerTable> table, SocketHandle socket) noexcept;
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  bool ok() const noexcept { return state_ != nullptr; }

  // Advances the handshake; kDone once it has finished.
  TlsOutcome handshake() noexcept;
  // Decrypted bytes into `buf`: kDone with `*got` > 0, or kWantRead,
  // kClosed, kFailed (also kWantWrite while TLS itself must send).
  TlsOutcome read(void* buf, size_t capacity, size_t* got) noexcept;
  // Encrypts and sends from `data`: kDone with `*sent` bytes taken (all of
  // them or part), kWantWrite when the socket had no room for any. A
  // call after kWantWrite must pass the same bytes again.
  TlsOutcome write(const void* data, size_t length, size_t* sent) noexcept;
  // Whether decrypted bytes are waiting that read() returns at once.
  bool has_buffered() const noexcept;

  // The same, waiting up to `ms` for each readiness of the socket.
  TlsOutcome handshake_within(uint32_t ms) noexcept;
  TlsOutcome read_within(void* buf, size_t capacity, size_t* got, uint32_t ms) noexcept;
  // kDone only when every byte was sent.
  TlsOutcome write_all_within(const void* data, size_t length, uint32_t ms) noexcept;
  // Sends close_notify (best effort; waits at most `ms` for room).
  void close_within(uint32_t ms) noexcept;

  // After the handshake: the SNI name the client sent ("" for none), the
  // version ("TLSv1.3") and cipher suite (IANA or OpenSSL name) for a trace
  // line, and the ALPN protocol agreed ("" when none was).
  std::string server_name() const;
  std::string protocol() const;
  std::string cipher() const;
  std::string alpn() const;

  os_error last_error() const noexcept { return error_; }
  // The TLS library's own words for the last failure ("no shared cipher"),
  // for a trace line; the code's message when it has none.
  std::string error_text() const;

  struct State;  // per backend

 private:
  // Waits for the readiness an outcome asks for; false with kWsaTimedOut
  // (or the socket's error) kept when none came.
  bool wait_for(TlsOutcome want, uint32_t ms) noexcept;

  std::unique_ptr<State> state_;
  SocketHandle socket_;
  os_error error_ = err::kSuccess;
};

}  // namespace platform
