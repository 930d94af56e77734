// The tests' TLS client on Windows: Schannel as a client, blocking. It
// trusts any server certificate: the tests check which one was presented.
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <sspi.h>
#include <schannel.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tls_test_client.h"

namespace platform::test {

struct TlsTestClient::State {
  SocketHandle s = kInvalidSocket;
  CredHandle cred{};
  CtxtHandle ctx{};
  bool has_cred = false, has_ctx = false;
  SecPkgContext_StreamSizes sizes{};
  std::vector<char> in, plain;
  ~State() {
    if (has_ctx) DeleteSecurityContext(&ctx);
    if (has_cred) FreeCredentialsHandle(&cred);
  }
  bool recv_more() {
    char buf[8192];
    int64_t n = socket_recv(s, buf, sizeof buf);
    if (n <= 0) return false;
    in.insert(in.end(), buf, buf + n);
    return true;
  }
  void keep_extra(const SecBuffer* bufs, int count) {
    for (int i = 0; i < count; ++i)
      if (bufs[i].BufferType == SECBUFFER_EXTRA) {
        in.erase(in.begin(), in.end() - bufs[i].cbBuffer);
        return;
      }
    in.clear();
  }
};

TlsTestClient::TlsTestClient() : state_(std::make_unique<State>()) {}
TlsTestClient::~TlsTestClient() = default;

bool TlsTestClient::connect(SocketHandle s, const std::string& sni, TlsVersion version, std::string* why) {
  State* st = state_.get();
  st->s = s;
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.grbitEnabledProtocols = version == TlsVersion::k11   ? SP_PROT_TLS1_1_CLIENT
                               : version == TlsVersion::k12 ? SP_PROT_TLS1_2_CLIENT
                               : version == TlsVersion::k13 ? SP_PROT_TLS1_3_CLIENT
                                                            : 0;
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TimeStamp expiry;
  SECURITY_STATUS r = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                                nullptr, &cred, nullptr, nullptr, &st->cred, &expiry);
  if (r != SEC_E_OK) {
    *why = "AcquireCredentialsHandle " + std::to_string(static_cast<unsigned long>(r));
    return false;
  }
  st->has_cred = true;
  std::wstring target(sni.begin(), sni.end());
  static const unsigned char alpn_list[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
  unsigned char alpn_buf[sizeof(SEC_APPLICATION_PROTOCOLS) + sizeof alpn_list];
  auto* alpn = reinterpret_cast<SEC_APPLICATION_PROTOCOLS*>(alpn_buf);
  alpn->ProtocolListsSize = static_cast<ULONG>(offsetof(SEC_APPLICATION_PROTOCOL_LIST, ProtocolList) + sizeof alpn_list);
  alpn->ProtocolLists[0].ProtoNegoExt = SecApplicationProtocolNegotiationExt_ALPN;
  alpn->ProtocolLists[0].ProtocolListSize = sizeof alpn_list;
  std::memcpy(alpn->ProtocolLists[0].ProtocolList, alpn_list, sizeof alpn_list);
  const ULONG flags = ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_CONFIDENTIALITY | ISC_REQ_SEQUENCE_DETECT |
                      ISC_REQ_REPLAY_DETECT | ISC_REQ_MANUAL_CRED_VALIDATION;
  bool first = true;
  while (true) {
    SecBuffer in[2] = {{static_cast<ULONG>(st->in.size()), SECBUFFER_TOKEN, st->in.data()}, {0, SECBUFFER_EMPTY, nullptr}};
    SecBuffer alpn_in{static_cast<ULONG>(sizeof(ULONG) + alpn->ProtocolListsSize), SECBUFFER_APPLICATION_PROTOCOLS, alpn};
    SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
    SecBufferDesc first_desc{SECBUFFER_VERSION, 1, &alpn_in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
    ULONG attrs = 0;
    r = InitializeSecurityContextW(&st->cred, first ? nullptr : &st->ctx,
                                   target.empty() ? nullptr : const_cast<wchar_t*>(target.c_str()), flags, 0, 0,
                                   first ? &first_desc : &in_desc, 0, &st->ctx, &out_desc, &attrs, &expiry);
    if (first) st->has_ctx = true;
    first = false;
    if (out.pvBuffer && out.cbBuffer > 0) {
      socket_send(s, out.pvBuffer, out.cbBuffer);
    }
    if (out.pvBuffer) FreeContextBuffer(out.pvBuffer);
    if (r == SEC_E_INCOMPLETE_MESSAGE || (r == SEC_I_CONTINUE_NEEDED && st->in.empty())) {
      if (!st->recv_more()) {
        *why = "connection closed during the handshake";
        return false;
      }
      continue;
    }
    if (r == SEC_I_CONTINUE_NEEDED) {
      st->keep_extra(in, 2);
      if (st->in.empty() && !st->recv_more()) {
        *why = "connection closed during the handshake";
        return false;
      }
      continue;
    }
    if (r != SEC_E_OK) {
      *why = "InitializeSecurityContext " + std::to_string(static_cast<unsigned long>(r));
      return false;
    }
    st->keep_extra(in, 2);
    QueryContextAttributesW(&st->ctx, SECPKG_ATTR_STREAM_SIZES, &st->sizes);
    return true;
  }
}

bool TlsTestClient::send_all(const std::string& data) {
  State* st = state_.get();
  for (size_t at = 0; at < data.size();) {
    size_t n = std::min<size_t>(data.size() - at, st->sizes.cbMaximumMessage);
    std::vector<char> rec(st->sizes.cbHeader + n + st->sizes.cbTrailer);
    std::memcpy(rec.data() + st->sizes.cbHeader, data.data() + at, n);
    SecBuffer b[4] = {{st->sizes.cbHeader, SECBUFFER_STREAM_HEADER, rec.data()},
                      {static_cast<ULONG>(n), SECBUFFER_DATA, rec.data() + st->sizes.cbHeader},
                      {st->sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, rec.data() + st->sizes.cbHeader + n},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc d{SECBUFFER_VERSION, 4, b};
    if (EncryptMessage(&st->ctx, 0, &d, 0) != SEC_E_OK) return false;
    size_t len = b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer;
    if (socket_send(st->s, rec.data(), len) != static_cast<int64_t>(len)) return false;
    at += n;
  }
  return true;
}

namespace {

// Decrypts one record into `plain`: 1 data, 0 close_notify or closed, -1 error.
int decrypt_one(TlsTestClient::State* st) {
  while (true) {
    SecBuffer b[4] = {{static_cast<ULONG>(st->in.size()), SECBUFFER_DATA, st->in.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc d{SECBUFFER_VERSION, 4, b};
    SECURITY_STATUS r = st->in.empty() ? SEC_E_INCOMPLETE_MESSAGE : DecryptMessage(&st->ctx, &d, 0, nullptr);
    if (r == SEC_E_INCOMPLETE_MESSAGE) {
      if (!st->recv_more()) return 0;
      continue;
    }
    if (r == SEC_I_CONTEXT_EXPIRED) return 0;
    if (r != SEC_E_OK && r != SEC_I_RENEGOTIATE) return -1;
    for (const SecBuffer& x : b)
      if (x.BufferType == SECBUFFER_DATA)
        st->plain.insert(st->plain.end(), static_cast<char*>(x.pvBuffer), static_cast<char*>(x.pvBuffer) + x.cbBuffer);
    st->keep_extra(b, 4);
    // TLS 1.3 tickets come as SEC_I_RENEGOTIATE with no data: read on.
    if (!st->plain.empty()) return 1;
  }
}

}  // namespace

std::string TlsTestClient::recv_exactly(size_t want) {
  State* st = state_.get();
  while (st->plain.size() < want && decrypt_one(st) > 0) {
  }
  size_t n = std::min(want, st->plain.size());
  std::string got(st->plain.data(), n);
  st->plain.erase(st->plain.begin(), st->plain.begin() + n);
  return got;
}

bool TlsTestClient::sees_close() { return state_->plain.empty() && decrypt_one(state_.get()) == 0; }

std::string TlsTestClient::peer_common_name() {
  PCCERT_CONTEXT cert = nullptr;
  if (QueryContextAttributesW(&state_->ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert) return "";
  char cn[256] = "";
  CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), cn, sizeof cn);
  CertFreeCertificateContext(cert);
  return cn;
}

}  // namespace platform::test
