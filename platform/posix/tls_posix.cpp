// TLS with OpenSSL 3 (the system's libssl). The socket is reached through a
// BIO of our own over the platform socket calls, so that transport errors
// arrive as Windows Sockets codes and no write can raise SIGPIPE.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/tls.h"

namespace platform {

// Mozilla's "intermediate" profile (version 5.7).
constexpr const char kTls12Ciphers[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr const char kTls13Suites[] = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
constexpr const char kGroups[] = "X25519:prime256v1:secp384r1";
// ALPN wire form: length-prefixed names.
constexpr unsigned char kAlpnHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
// Sessions resumed through the server cache must come from one of our contexts.
constexpr unsigned char kSessionIdContext[] = "brisvane";

struct TlsContext::State {
  SSL_CTX* ctx = nullptr;
  ~State() { SSL_CTX_free(ctx); }
};

struct TlsSession::State {
  SSL* ssl = nullptr;
  std::shared_ptr<const TlsServerTable> table;
  SocketHandle socket = kInvalidSocket;
  os_error transport_error = err::kSuccess;  // the last failed socket call's code
  bool broken = false;                       // a fatal error: no close_notify may follow
  std::string detail;
  ~State() { SSL_free(ssl); }
};

namespace {

// --- the socket BIO ---------------------------------------------------------

int bio_write(BIO* bio, const char* data, int len) {
  auto* st = static_cast<TlsSession::State*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  int64_t n = socket_send(st->socket, data, static_cast<size_t>(len));
  if (n >= 0) return static_cast<int>(n);
  if (socket_last_error() == err::kWsaWouldBlock) {
    BIO_set_retry_write(bio);
  } else {
    st->transport_error = socket_last_error();
  }
  return -1;
}

int bio_read(BIO* bio, char* buf, int len) {
  auto* st = static_cast<TlsSession::State*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  int64_t n = socket_recv_nowait(st->socket, buf, static_cast<size_t>(len));
  if (n >= 0) return static_cast<int>(n);
  if (socket_last_error() == err::kWsaWouldBlock) {
    BIO_set_retry_read(bio);
  } else {
    st->transport_error = socket_last_error();
  }
  return -1;
}

long bio_ctrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* socket_bio_method() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "platform socket");
    if (m) {
      BIO_meth_set_write(m, bio_write);
      BIO_meth_set_read(m, bio_read);
      BIO_meth_set_ctrl(m, bio_ctrl);
      BIO_meth_set_create(m, bio_create);
    }
    return m;
  }();
  return method;
}

// --- contexts -----------------------------------------------------------------

int on_server_name(SSL* ssl, int*, void*) {
  auto* st = static_cast<TlsSession::State*>(SSL_get_app_data(ssl));
  const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
  TlsContext* chosen = st->table->select(name ? name : "");
  if (chosen && chosen->state()->ctx != SSL_get_SSL_CTX(ssl)) SSL_set_SSL_CTX(ssl, chosen->state()->ctx);
  return SSL_TLSEXT_ERR_OK;
}

// Agrees on http/1.1 when offered; a client that offers only other
// protocols goes on without ALPN rather than being refused.
int on_alpn(SSL*, const unsigned char** out, unsigned char* outlen, const unsigned char* in, unsigned int inlen,
            void*) {
  unsigned char* chosen = nullptr;
  if (SSL_select_next_proto(&chosen, outlen, kAlpnHttp11, sizeof kAlpnHttp11, in, inlen) != OPENSSL_NPN_NEGOTIATED)
    return SSL_TLSEXT_ERR_NOACK;
  *out = chosen;
  return SSL_TLSEXT_ERR_OK;
}

// Whether a ClientHello offers TLS 1.3 (its supported_versions list
// names 0x0304): with both ends able to, 1.3 is what gets agreed.
bool offers_tls13(SSL* ssl) {
  const unsigned char* ext = nullptr;
  size_t len = 0;
  if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_supported_versions, &ext, &len) != 1 || len < 1) return false;
  const size_t list = std::min<size_t>(ext[0], len - 1);
  for (size_t i = 1; i + 1 <= list; i += 2)
    if (ext[i] == 0x03 && ext[i + 1] == 0x04) return true;
  return false;
}

// The server's order for TLS 1.2, where clients' lists still hold weaker
// suites first (ChaCha20 kept first for a client that puts it first: it
// has no AES in hardware); the client's for TLS 1.3, whose every suite
// is strong.
int on_client_hello(SSL* ssl, int*, void*) {
  constexpr uint64_t kServerOrder = SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_PRIORITIZE_CHACHA;
  if (offers_tls13(ssl))
    SSL_clear_options(ssl, kServerOrder);
  else
    SSL_set_options(ssl, kServerOrder);
  return SSL_CLIENT_HELLO_SUCCESS;
}

bool apply_policy(SSL_CTX* ctx) {
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET |
                               SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_client_hello_cb(ctx, on_client_hello, nullptr);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                            SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_dh_auto(ctx, 1);
  SSL_CTX_set_tlsext_servername_callback(ctx, on_server_name);
  SSL_CTX_set_alpn_select_cb(ctx, on_alpn, nullptr);
  return SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) == 1 &&
         SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) == 1 &&
         SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) == 1 && SSL_CTX_set_ciphersuites(ctx, kTls13Suites) == 1 &&
         SSL_CTX_set1_groups_list(ctx, kGroups) == 1 &&
         SSL_CTX_set_session_id_context(ctx, kSessionIdContext, sizeof kSessionIdContext - 1) == 1;
}

bool fail_load(TlsLoadError* why, const std::string& file, const std::string& reason, os_error code) {
  ERR_clear_error();
  if (why) {
    why->file = file;
    why->reason = reason;
    why->code = code;
  }
  return false;
}

// A file that cannot be opened is told apart from one without what we need.
bool check_readable(const std::string& path, TlsLoadError* why) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) {
    std::fclose(f);
    return true;
  }
  os_error code = errno == ENOENT ? err::kFileNotFound : errno == ENOTDIR ? err::kPathNotFound : err::kAccessDenied;
  return fail_load(why, path, "cannot open the file: " + error_message(code), code);
}

std::string format_asn1_time(const ASN1_TIME* t) {
  struct tm tm {};
  if (ASN1_TIME_to_tm(t, &tm) != 1) return "an unreadable date";
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

bool check_validity(X509* leaf, const std::string& file, TlsLoadError* why) {
  if (X509_cmp_current_time(X509_get0_notAfter(leaf)) < 0)
    return fail_load(why, file, "the certificate expired on " + format_asn1_time(X509_get0_notAfter(leaf)),
                     err::kCertExpired);
  if (X509_cmp_current_time(X509_get0_notBefore(leaf)) > 0)
    return fail_load(why, file,
                     "the certificate is not valid before " + format_asn1_time(X509_get0_notBefore(leaf)),
                     err::kCertExpired);
  return true;
}

bool load_key(SSL_CTX* ctx, const std::string& key_file, TlsLoadError* why) {
  ERR_clear_error();
  if (SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) == 1 && SSL_CTX_check_private_key(ctx) == 1)
    return true;
  unsigned long e = ERR_peek_last_error();
  if (ERR_GET_LIB(e) == ERR_LIB_X509 && ERR_GET_REASON(e) == X509_R_KEY_VALUES_MISMATCH)
    return fail_load(why, key_file, "the private key does not match the certificate", err::kCryptBadKey);
  return fail_load(why, key_file, "no usable PEM private key in the file", err::kCryptBadKey);
}

std::string common_name(X509* leaf) {
  char cn[256] = "";
  X509_NAME_get_text_by_NID(X509_get_subject_name(leaf), NID_commonName, cn, sizeof cn);
  return cn;
}

}  // namespace

void TlsContext::StateDeleter::operator()(State* state) const noexcept { delete state; }

std::shared_ptr<TlsContext> TlsContext::load(const std::string& cert_path, const std::string& key_path,
                                             TlsLoadError* why) noexcept {
  const std::string& key_file = key_path.empty() ? cert_path : key_path;
  if (!check_readable(cert_path, why) || !check_readable(key_file, why)) return nullptr;
  StatePtr state(new State());
  state->ctx = SSL_CTX_new(TLS_server_method());
  if (!state->ctx || !apply_policy(state->ctx)) {
    fail_load(why, cert_path, "the TLS library could not be set up", err::kSecInternalError);
    return nullptr;
  }
  if (SSL_CTX_use_certificate_chain_file(state->ctx, cert_path.c_str()) != 1) {
    fail_load(why, cert_path, "no usable PEM certificate in the file", err::kCryptNoMatch);
    return nullptr;
  }
  X509* leaf = SSL_CTX_get0_certificate(state->ctx);
  if (!check_validity(leaf, cert_path, why) || !load_key(state->ctx, key_file, why)) return nullptr;
  std::string subject = common_name(leaf);
  return std::shared_ptr<TlsContext>(new TlsContext(std::move(state), std::move(subject)));
}

// --- sessions -------------------------------------------------------------------

namespace {

// The Windows code nearest to an OpenSSL failure reason.
os_error code_of_reason(int reason) {
  switch (reason) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_SHARED_GROUPS:
      return err::kSecAlgorithmMismatch;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
      return err::kSecDecryptFailure;
    default:
      return err::kSecIllegalMessage;
  }
}

}  // namespace

TlsSession::TlsSession(std::shared_ptr<const TlsServerTable> table, SocketHandle socket) noexcept
    : socket_(socket) {
  TlsContext* first = table ? table->select("") : nullptr;
  const BIO_METHOD* method = socket_bio_method();
  if (!first || !method) {
    error_ = first ? err::kSecInternalError : err::kSecNoCredentials;
    return;
  }
  auto state = std::make_unique<State>();
  state->table = std::move(table);
  state->socket = socket;
  state->ssl = SSL_new(first->state()->ctx);
  BIO* bio = BIO_new(method);
  if (!state->ssl || !bio || !socket_set_blocking(socket, false)) {
    BIO_free(bio);
    error_ = state->ssl && bio ? socket_last_error() : err::kNotEnoughMemory;
    return;
  }
  BIO_set_data(bio, state.get());
  SSL_set_bio(state->ssl, bio, bio);
  SSL_set_app_data(state->ssl, state.get());
  SSL_set_accept_state(state->ssl);
  state_ = std::move(state);
}

TlsSession::~TlsSession() = default;

namespace {

// Turns a failed OpenSSL call into an outcome, keeping the code and text.
TlsOutcome outcome_of(TlsSession::State* st, int result, os_error* error) {
  int e = SSL_get_error(st->ssl, result);
  switch (e) {
    case SSL_ERROR_WANT_READ:
      return TlsOutcome::kWantRead;
    case SSL_ERROR_WANT_WRITE:
      return TlsOutcome::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
      *error = err::kSecContextExpired;
      return TlsOutcome::kClosed;
    case SSL_ERROR_SYSCALL:
      st->broken = true;
      *error = st->transport_error != err::kSuccess ? st->transport_error : err::kWsaConnReset;
      st->detail = error_message(*error);
      return TlsOutcome::kFailed;
    default: {
      st->broken = true;
      unsigned long code = ERR_peek_error();
      const char* text = ERR_reason_error_string(code);
      st->detail = text ? text : "TLS failure";
      *error = code ? code_of_reason(ERR_GET_REASON(code)) : err::kSecInternalError;
      ERR_clear_error();
      return TlsOutcome::kFailed;
    }
  }
}

}  // namespace

TlsOutcome TlsSession::handshake() noexcept {
  if (!state_ || state_->broken) return TlsOutcome::kFailed;
  ERR_clear_error();
  int r = SSL_do_handshake(state_->ssl);
  return r == 1 ? TlsOutcome::kDone : outcome_of(state_.get(), r, &error_);
}

TlsOutcome TlsSession::read(void* buf, size_t capacity, size_t* got) noexcept {
  *got = 0;
  if (!state_ || state_->broken) return TlsOutcome::kFailed;
  ERR_clear_error();
  int r = SSL_read_ex(state_->ssl, buf, capacity, got);
  return r == 1 ? TlsOutcome::kDone : outcome_of(state_.get(), r, &error_);
}

TlsOutcome TlsSession::write(const void* data, size_t length, size_t* sent) noexcept {
  *sent = 0;
  if (!state_ || state_->broken) return TlsOutcome::kFailed;
  if (length == 0) return TlsOutcome::kDone;
  ERR_clear_error();
  int r = SSL_write_ex(state_->ssl, data, length, sent);
  return r == 1 ? TlsOutcome::kDone : outcome_of(state_.get(), r, &error_);
}

bool TlsSession::has_buffered() const noexcept { return state_ && SSL_has_pending(state_->ssl) == 1; }

void TlsSession::close_within(uint32_t ms) noexcept {
  if (!state_ || state_->broken || !SSL_is_init_finished(state_->ssl)) return;
  while (true) {
    ERR_clear_error();
    int r = SSL_shutdown(state_->ssl);
    // 0: our close_notify went out; the peer's is not awaited.
    if (r >= 0) return;
    if (SSL_get_error(state_->ssl, r) != SSL_ERROR_WANT_WRITE || !wait_for(TlsOutcome::kWantWrite, ms)) return;
  }
}

std::string TlsSession::server_name() const {
  const char* name = state_ ? SSL_get_servername(state_->ssl, TLSEXT_NAMETYPE_host_name) : nullptr;
  return name ? name : "";
}

std::string TlsSession::protocol() const { return state_ ? SSL_get_version(state_->ssl) : ""; }

std::string TlsSession::cipher() const {
  const SSL_CIPHER* c = state_ ? SSL_get_current_cipher(state_->ssl) : nullptr;
  const char* name = c ? SSL_CIPHER_standard_name(c) : nullptr;
  return name ? name : "";
}

std::string TlsSession::alpn() const {
  const unsigned char* p = nullptr;
  unsigned int len = 0;
  if (state_) SSL_get0_alpn_selected(state_->ssl, &p, &len);
  return p ? std::string(reinterpret_cast<const char*>(p), len) : "";
}

std::string TlsSession::error_text() const {
  if (state_ && !state_->detail.empty()) return state_->detail;
  return error_message(error_);
}

}  // namespace platform
