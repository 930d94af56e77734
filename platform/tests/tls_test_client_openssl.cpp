#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "tls_test_client.h"

namespace platform::test {

struct TlsTestClient::State {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  ~State() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  }
};

TlsTestClient::TlsTestClient() : state_(std::make_unique<State>()) {}
TlsTestClient::~TlsTestClient() = default;

bool TlsTestClient::connect(SocketHandle s, const std::string& sni, TlsVersion version, std::string* why) {
  state_->ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX* ctx = state_->ctx;
  int v = version == TlsVersion::k11 ? TLS1_1_VERSION : version == TlsVersion::k12 ? TLS1_2_VERSION : TLS1_3_VERSION;
  if (version != TlsVersion::kAny) {
    SSL_CTX_set_min_proto_version(ctx, v);
    SSL_CTX_set_max_proto_version(ctx, v);
  }
  // The library's own floor would keep a TLS 1.1 hello from being sent.
  if (version == TlsVersion::k11) SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
  static const unsigned char alpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
  SSL_CTX_set_alpn_protos(ctx, alpn, sizeof alpn);
  state_->ssl = SSL_new(ctx);
  SSL_set_fd(state_->ssl, static_cast<int>(s));
  if (!sni.empty()) SSL_set_tlsext_host_name(state_->ssl, sni.c_str());
  if (SSL_connect(state_->ssl) == 1) return true;
  char buf[256];
  ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
  *why = buf;
  return false;
}

bool TlsTestClient::send_all(const std::string& data) {
  size_t written = 0;
  return SSL_write_ex(state_->ssl, data.data(), data.size(), &written) == 1 && written == data.size();
}

std::string TlsTestClient::recv_exactly(size_t want) {
  std::string got;
  char buf[16384];
  while (got.size() < want) {
    size_t n = 0;
    if (SSL_read_ex(state_->ssl, buf, std::min(sizeof buf, want - got.size()), &n) != 1) break;
    got.append(buf, n);
  }
  return got;
}

bool TlsTestClient::sees_close() {
  char c;
  size_t n = 0;
  int r = SSL_read_ex(state_->ssl, &c, 1, &n);
  return r != 1 && SSL_get_error(state_->ssl, r) == SSL_ERROR_ZERO_RETURN;
}

std::string TlsTestClient::peer_common_name() {
  X509* cert = SSL_get1_peer_certificate(state_->ssl);
  if (!cert) return "";
  char cn[256] = "";
  X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn);
  X509_free(cert);
  return cn;
}

}  // namespace platform::test
