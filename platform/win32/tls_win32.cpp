// TLS with Schannel through SSPI, the system's own TLS: the Windows
// programs ship no TLS library. Certificates come from PEM files (the key
// as PKCS#8, imported into the software key storage provider under a name
// derived from the certificate, because Schannel does its key operations
// in the system's security process and cannot use an in-process key) or
// from a .pfx/.p12 file.
//
// Schannel picks no certificate by SNI on its own: the server name is read
// from the ClientHello before the first AcceptSecurityContext, which is
// then given the credentials of the context the table selects.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <winsock2.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <ncrypt.h>
#include <sspi.h>
#include <schannel.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/tls.h"
#include "platform/tls_client_hello.h"

namespace platform {

static_assert(err::kSecUnsupportedFunction == static_cast<os_error>(SEC_E_UNSUPPORTED_FUNCTION) &&
              err::kSecInternalError == static_cast<os_error>(SEC_E_INTERNAL_ERROR) &&
              err::kSecNoCredentials == static_cast<os_error>(SEC_E_NO_CREDENTIALS) &&
              err::kSecContextExpired == static_cast<os_error>(SEC_E_CONTEXT_EXPIRED) &&
              err::kSecIncompleteMessage == static_cast<os_error>(SEC_E_INCOMPLETE_MESSAGE) &&
              err::kSecIllegalMessage == static_cast<os_error>(SEC_E_ILLEGAL_MESSAGE) &&
              err::kSecCertExpired == static_cast<os_error>(SEC_E_CERT_EXPIRED) &&
              err::kSecDecryptFailure == static_cast<os_error>(SEC_E_DECRYPT_FAILURE) &&
              err::kSecAlgorithmMismatch == static_cast<os_error>(SEC_E_ALGORITHM_MISMATCH) &&
              err::kCryptBadKey == static_cast<os_error>(NTE_BAD_KEY) &&
              err::kCryptNotSupported == static_cast<os_error>(NTE_NOT_SUPPORTED) &&
              err::kCertExpired == static_cast<os_error>(CERT_E_EXPIRED) &&
              err::kCryptNoMatch == static_cast<os_error>(CRYPT_E_NO_MATCH));

struct TlsContext::State {
  HCERTSTORE store = nullptr;  // the leaf and the chain's other certificates
  PCCERT_CONTEXT cert = nullptr;
  CredHandle cred{};
  bool has_cred = false;
  ~State() {
    if (has_cred) FreeCredentialsHandle(&cred);
    if (cert) CertFreeCertificateContext(cert);
    if (store) CertCloseStore(store, 0);
  }
};

// The largest TLS record on the wire: header, 16 KiB of data, and room for
// padding and the authentication tag.
constexpr size_t kMaxRecord = 5 + 16384 + 2048;
// ALPN as SEC_APPLICATION_PROTOCOLS wants it: one ALPN list with one name.
constexpr unsigned char kAlpnList[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

struct TlsSession::State {
  std::shared_ptr<const TlsServerTable> table;
  TlsContext* context = nullptr;  // chosen from the ClientHello
  CtxtHandle ctx{};
  bool has_ctx = false;
  bool established = false;
  bool broken = false;
  SecPkgContext_StreamSizes sizes{};
  std::string server_name;
  std::vector<char> in;     // received, not yet decrypted
  std::vector<char> plain;  // decrypted, not yet read
  size_t plain_at = 0;
  std::vector<char> out;  // encrypted or handshake bytes not yet sent
  size_t out_at = 0;
  size_t pending_plain = 0;  // bytes of a write() whose record is still going out
  std::string detail;
  ~State() {
    if (has_ctx) DeleteSecurityContext(&ctx);
  }
};

namespace {

std::string hex(os_error code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(code));
  return buf;
}

// The SSPI name of the codes a server meets, for trace lines: Windows has
// message texts for few of them.
const char* sec_name(os_error code) {
  switch (code) {
    case err::kSecUnsupportedFunction: return "SEC_E_UNSUPPORTED_FUNCTION";
    case err::kSecInternalError: return "SEC_E_INTERNAL_ERROR";
    case err::kSecNoCredentials: return "SEC_E_NO_CREDENTIALS";
    case err::kSecIllegalMessage: return "SEC_E_ILLEGAL_MESSAGE";
    case err::kSecDecryptFailure: return "SEC_E_DECRYPT_FAILURE";
    case err::kSecAlgorithmMismatch: return "SEC_E_ALGORITHM_MISMATCH";
    case static_cast<os_error>(SEC_I_RENEGOTIATE): return "SEC_I_RENEGOTIATE, renegotiation refused";
    default: return "";
  }
}

// "Call returned 0x80090302 (SEC_E_UNSUPPORTED_FUNCTION)".
std::string sspi_failure(const char* call, os_error code) {
  std::string text = std::string(call) + " returned " + hex(code);
  const char* name = sec_name(code);
  return *name ? text + " (" + name + ")" : text + ": " + error_message(code);
}

bool fail_load(TlsLoadError* why, const std::string& file, const std::string& reason, os_error code) {
  if (why) {
    why->file = file;
    why->reason = reason;
    why->code = code;
  }
  return false;
}

bool read_file(const std::string& path, std::vector<BYTE>* data, TlsLoadError* why) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    os_error code = GetLastError();
    return fail_load(why, path, "cannot open the file: " + error_message(code), code);
  }
  LARGE_INTEGER size{};
  DWORD got = 0;
  bool ok = GetFileSizeEx(h, &size) && size.QuadPart < (16 << 20);
  if (ok) {
    data->resize(static_cast<size_t>(size.QuadPart));
    ok = ReadFile(h, data->data(), static_cast<DWORD>(data->size()), &got, nullptr) && got == data->size();
  }
  os_error code = GetLastError();
  CloseHandle(h);
  return ok || fail_load(why, path, "cannot read the file: " + error_message(code), code);
}

bool has_suffix(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && _stricmp(s.c_str() + s.size() - n, suffix) == 0;
}

// The PEM blocks of one kind ("CERTIFICATE", "PRIVATE KEY"), decoded.
std::vector<std::vector<BYTE>> pem_blocks(const std::vector<BYTE>& file, const std::string& label) {
  std::vector<std::vector<BYTE>> blocks;
  std::string text(file.begin(), file.end());
  const std::string begin = "-----BEGIN " + label + "-----";
  const std::string end = "-----END " + label + "-----";
  size_t at = 0;
  while ((at = text.find(begin, at)) != std::string::npos) {
    size_t stop = text.find(end, at);
    if (stop == std::string::npos) break;
    stop += end.size();
    DWORD len = 0;
    const char* pem = text.c_str() + at;
    DWORD pem_len = static_cast<DWORD>(stop - at);
    if (CryptStringToBinaryA(pem, pem_len, CRYPT_STRING_BASE64HEADER, nullptr, &len, nullptr, nullptr)) {
      std::vector<BYTE> der(len);
      if (CryptStringToBinaryA(pem, pem_len, CRYPT_STRING_BASE64HEADER, der.data(), &len, nullptr, nullptr))
        blocks.push_back(std::move(der));
    }
    at = stop;
  }
  return blocks;
}

// A key container name that stays the same for one certificate, so that a
// reload replaces the key rather than piling up new ones.
std::wstring container_name(PCCERT_CONTEXT cert) {
  BYTE hash[20];
  DWORD len = sizeof hash;
  std::wstring name = L"Brisvane-TLS-";
  if (CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &len)) {
    for (DWORD i = 0; i < len; ++i) {
      wchar_t two[3];
      std::swprintf(two, 3, L"%02X", hash[i]);
      name += two;
    }
  }
  return name;
}

// The public half of a key as a CNG blob, without its algorithm-specific
// magic (ECDH and ECDSA keys of one curve differ only there).
bool public_blob(NCRYPT_KEY_HANDLE key, std::vector<BYTE>* blob) {
  DWORD len = 0;
  if (NCryptExportKey(key, 0, BCRYPT_PUBLIC_KEY_BLOB, nullptr, nullptr, 0, &len, 0) != ERROR_SUCCESS) return false;
  blob->resize(len);
  if (NCryptExportKey(key, 0, BCRYPT_PUBLIC_KEY_BLOB, nullptr, blob->data(), len, &len, 0) != ERROR_SUCCESS)
    return false;
  blob->resize(len);
  if (blob->size() > 4) blob->erase(blob->begin(), blob->begin() + 4);
  return true;
}

bool cert_public_blob(PCCERT_CONTEXT cert, std::vector<BYTE>* blob) {
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, 0, nullptr, &key))
    return false;
  ULONG len = 0;
  bool ok = BCryptExportKey(key, nullptr, BCRYPT_PUBLIC_KEY_BLOB, nullptr, 0, &len, 0) == 0;
  if (ok) {
    blob->resize(len);
    ok = BCryptExportKey(key, nullptr, BCRYPT_PUBLIC_KEY_BLOB, blob->data(), len, &len, 0) == 0;
    blob->resize(len);
    if (blob->size() > 4) blob->erase(blob->begin(), blob->begin() + 4);
  }
  BCryptDestroyKey(key);
  return ok;
}

// Imports a PKCS#8 key under the certificate's container name, checks that
// it is the certificate's, and ties it to the certificate.
bool attach_key(PCCERT_CONTEXT cert, const std::vector<BYTE>& pkcs8, const std::string& file, TlsLoadError* why) {
  NCRYPT_PROV_HANDLE prov = 0;
  SECURITY_STATUS s = NCryptOpenStorageProvider(&prov, MS_KEY_STORAGE_PROVIDER, 0);
  if (s != ERROR_SUCCESS)
    return fail_load(why, file, "the key storage provider cannot be opened (" + hex(s) + ")", static_cast<os_error>(s));
  std::wstring name = container_name(cert);
  NCryptBuffer param{static_cast<ULONG>((name.size() + 1) * sizeof(wchar_t)), NCRYPTBUFFER_PKCS_KEY_NAME,
                     const_cast<wchar_t*>(name.c_str())};
  NCryptBufferDesc params{NCRYPTBUFFER_VERSION, 1, &param};
  NCRYPT_KEY_HANDLE key = 0;
  s = NCryptImportKey(prov, 0, NCRYPT_PKCS8_PRIVATE_KEY_BLOB, &params, &key, const_cast<BYTE*>(pkcs8.data()),
                      static_cast<DWORD>(pkcs8.size()), NCRYPT_OVERWRITE_KEY_FLAG);
  NCryptFreeObject(prov);
  // NTE_NOT_SUPPORTED is the system's limit (Wine's key storage imports no
  // PKCS#8), not a fault of the file, and is passed on as such.
  if (s == NTE_NOT_SUPPORTED)
    return fail_load(why, file, "NCryptImportKey returned " + hex(s) + ": this system cannot import PKCS#8 keys",
                     err::kCryptNotSupported);
  if (s != ERROR_SUCCESS)
    return fail_load(why, file, "the private key cannot be imported (" + hex(s) + ")", err::kCryptBadKey);
  std::vector<BYTE> mine, theirs;
  bool same = public_blob(key, &mine) && cert_public_blob(cert, &theirs) && mine == theirs;
  if (!same) {
    NCryptDeleteKey(key, 0);  // also frees the handle
    return fail_load(why, file, "the private key does not match the certificate", err::kCryptBadKey);
  }
  NCryptFreeObject(key);
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = const_cast<wchar_t*>(name.c_str());
  info.pwszProvName = const_cast<wchar_t*>(MS_KEY_STORAGE_PROVIDER);
  info.dwProvType = 0;  // CNG
  if (!CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info))
    return fail_load(why, file, "the key cannot be tied to the certificate", GetLastError());
  return true;
}

bool check_validity(PCCERT_CONTEXT cert, const std::string& file, TlsLoadError* why) {
  LONG v = CertVerifyTimeValidity(nullptr, cert->pCertInfo);
  if (v == 0) return true;
  const FILETIME& when = v > 0 ? cert->pCertInfo->NotAfter : cert->pCertInfo->NotBefore;
  SYSTEMTIME t{};
  FileTimeToSystemTime(&when, &t);
  char date[40];
  std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
  return fail_load(why, file,
                   v > 0 ? std::string("the certificate expired on ") + date
                         : std::string("the certificate is not valid before ") + date,
                   err::kCertExpired);
}

bool load_pem(const std::string& cert_path, const std::string& key_file, TlsContext::State* st, TlsLoadError* why) {
  std::vector<BYTE> cert_file, key_data;
  if (!read_file(cert_path, &cert_file, why)) return false;
  std::vector<std::vector<BYTE>> certs = pem_blocks(cert_file, "CERTIFICATE");
  if (certs.empty()) return fail_load(why, cert_path, "no usable PEM certificate in the file", err::kCryptNoMatch);
  st->store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  for (size_t i = 0; st->store && i < certs.size(); ++i) {
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(st->store, X509_ASN_ENCODING, certs[i].data(),
                                          static_cast<DWORD>(certs[i].size()), CERT_STORE_ADD_ALWAYS,
                                          i == 0 ? &added : nullptr))
      return fail_load(why, cert_path, "a certificate in the file cannot be read", GetLastError());
    if (i == 0) st->cert = added;
  }
  if (!st->cert) return fail_load(why, cert_path, "the certificate store cannot be made", GetLastError());
  // Before the key import, so that an expired certificate leaves no key behind.
  if (!check_validity(st->cert, cert_path, why)) return false;
  if (key_file == cert_path) {
    key_data = cert_file;
  } else if (!read_file(key_file, &key_data, why)) {
    return false;
  }
  std::vector<std::vector<BYTE>> keys = pem_blocks(key_data, "PRIVATE KEY");
  if (keys.empty())
    return fail_load(why, key_file,
                     "no usable PEM private key in the file (PKCS#8 \"BEGIN PRIVATE KEY\" is needed; "
                     "openssl pkcs8 -topk8 -nocrypt converts others)",
                     err::kCryptBadKey);
  return attach_key(st->cert, keys.front(), key_file, why);
}

// A .pfx/.p12 without password: the first certificate that has a key.
bool load_pfx(const std::string& path, TlsContext::State* st, TlsLoadError* why) {
  std::vector<BYTE> data;
  if (!read_file(path, &data, why)) return false;
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(data.size()), data.data()};
  st->store = PFXImportCertStore(&blob, L"", CRYPT_USER_KEYSET);
  if (!st->store) return fail_load(why, path, "the file is not a PKCS#12 file without password", GetLastError());
  PCCERT_CONTEXT c = nullptr;
  while ((c = CertEnumCertificatesInStore(st->store, c)) != nullptr) {
    DWORD len = 0;
    if (CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &len)) {
      st->cert = CertDuplicateCertificateContext(c);
      CertFreeCertificateContext(c);
      return true;
    }
  }
  return fail_load(why, path, "no certificate with its private key in the file", err::kCryptNoMatch);
}

// TLS 1.2 and 1.3 only; RSA key exchange and CBC ciphers off, which leaves
// ECDHE/DHE with AES-GCM: the "intermediate" choice as far as Schannel has
// it (it has no ChaCha20).
SECURITY_STATUS acquire(TlsContext::State* st) {
  UNICODE_STRING rsa{6, 8, const_cast<wchar_t*>(L"RSA")};
  UNICODE_STRING aes{6, 8, const_cast<wchar_t*>(L"AES")};
  UNICODE_STRING cbc{static_cast<USHORT>(wcslen(BCRYPT_CHAIN_MODE_CBC) * 2),
                     static_cast<USHORT>(wcslen(BCRYPT_CHAIN_MODE_CBC) * 2 + 2),
                     const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)};
  CRYPTO_SETTINGS off[2]{};
  off[0].eAlgorithmUsage = TlsParametersCngAlgUsageKeyExchange;
  off[0].strCngAlgId = rsa;
  off[1].eAlgorithmUsage = TlsParametersCngAlgUsageCipher;
  off[1].strCngAlgId = aes;
  off[1].cChainingModes = 1;
  off[1].rgstrChainingModes = &cbc;
  TLS_PARAMETERS params{};
  params.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_SERVER | SP_PROT_TLS1_3_SERVER));
  params.cDisabledCrypto = 2;
  params.pDisabledCrypto = off;
  SCH_CREDENTIALS cred{};
  cred.dwVersion = SCH_CREDENTIALS_VERSION;
  cred.cCreds = 1;
  cred.paCred = &st->cert;
  cred.dwFlags = SCH_USE_STRONG_CRYPTO | SCH_CRED_NO_SYSTEM_MAPPER;
  cred.cTlsParameters = 1;
  cred.pTlsParameters = &params;
  TimeStamp expiry;
  SECURITY_STATUS s = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_INBOUND,
                                                nullptr, &cred, nullptr, nullptr, &st->cred, &expiry);
  if (s == SEC_E_OK) return s;
  // Systems before SCH_CREDENTIALS (Windows 10 1809 and older): TLS 1.2
  // only, through the older structure.
  ALG_ID algs[] = {CALG_AES_128, CALG_AES_256, CALG_ECDH_EPHEM, CALG_DH_EPHEM, CALG_SHA_256, CALG_SHA_384,
                   CALG_ECDSA, CALG_RSA_SIGN};
  SCHANNEL_CRED old{};
  old.dwVersion = SCHANNEL_CRED_VERSION;
  old.cCreds = 1;
  old.paCred = &st->cert;
  old.grbitEnabledProtocols = SP_PROT_TLS1_2_SERVER;
  old.cSupportedAlgs = sizeof algs / sizeof algs[0];
  old.palgSupportedAlgs = algs;
  old.dwFlags = SCH_USE_STRONG_CRYPTO | SCH_CRED_NO_SYSTEM_MAPPER;
  return AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_INBOUND, nullptr, &old,
                                   nullptr, nullptr, &st->cred, &expiry);
}

std::string common_name(PCCERT_CONTEXT cert) {
  char cn[256] = "";
  CertGetNameStringA(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), cn, sizeof cn);
  return cn;
}

}  // namespace

void TlsContext::StateDeleter::operator()(State* state) const noexcept { delete state; }

std::shared_ptr<TlsContext> TlsContext::load(const std::string& cert_path, const std::string& key_path,
                                             TlsLoadError* why) noexcept {
  StatePtr st(new State());
  bool pfx = key_path.empty() && (has_suffix(cert_path, ".pfx") || has_suffix(cert_path, ".p12"));
  const std::string& key_file = key_path.empty() ? cert_path : key_path;
  if (pfx ? !load_pfx(cert_path, st.get(), why) || !check_validity(st->cert, cert_path, why)
          : !load_pem(cert_path, key_file, st.get(), why))
    return nullptr;
  SECURITY_STATUS s = acquire(st.get());
  if (s != SEC_E_OK) {
    fail_load(why, cert_path, "the certificate was refused: " + sspi_failure("AcquireCredentialsHandle", s),
              static_cast<os_error>(s));
    return nullptr;
  }
  st->has_cred = true;
  std::string subject = common_name(st->cert);
  return std::shared_ptr<TlsContext>(new TlsContext(std::move(st), std::move(subject)));
}

// --- sessions -------------------------------------------------------------------

namespace {

uint32_t be16(const unsigned char* p) { return (p[0] << 8) | p[1]; }

// Whether `in` holds one whole TLS record (header and body).
bool whole_record(const std::vector<char>& in) {
  if (in.size() < 5) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  return in.size() >= 5 + be16(p + 3);
}

}  // namespace

TlsSession::TlsSession(std::shared_ptr<const TlsServerTable> table, SocketHandle socket) noexcept
    : socket_(socket) {
  if (!table || !table->select("")) {
    error_ = err::kSecNoCredentials;
    return;
  }
  if (!socket_set_blocking(socket, false)) {
    error_ = socket_last_error();
    return;
  }
  state_ = std::make_unique<State>();
  state_->table = std::move(table);
}

TlsSession::~TlsSession() = default;

namespace {

// Sends what is queued in `out`; false while some is left (or on error,
// with `*error` set and `*failed`).
bool flush(TlsSession::State* st, SocketHandle s, os_error* error, bool* failed) {
  while (st->out_at < st->out.size()) {
    int64_t n = socket_send(s, st->out.data() + st->out_at, st->out.size() - st->out_at);
    if (n < 0) {
      if (socket_last_error() != err::kWsaWouldBlock) {
        *error = socket_last_error();
        *failed = true;
        st->broken = true;
      }
      return false;
    }
    st->out_at += static_cast<size_t>(n);
  }
  st->out.clear();
  st->out_at = 0;
  return true;
}

// Receives what has arrived into `in`: kDone when bytes came, kWantRead
// when none, kClosed on an orderly close, kFailed on error.
TlsOutcome fill(TlsSession::State* st, SocketHandle s, os_error* error) {
  size_t have = st->in.size();
  st->in.resize(std::max(have + 4096, kMaxRecord));
  int64_t n = socket_recv_nowait(s, st->in.data() + have, st->in.size() - have);
  st->in.resize(have + static_cast<size_t>(std::max<int64_t>(n, 0)));
  if (n > 0) return TlsOutcome::kDone;
  if (n == 0) return TlsOutcome::kClosed;
  if (socket_last_error() == err::kWsaWouldBlock) return TlsOutcome::kWantRead;
  *error = socket_last_error();
  st->broken = true;
  return TlsOutcome::kFailed;
}

void queue(TlsSession::State* st, const SecBuffer& token) {
  if (token.pvBuffer && token.cbBuffer > 0) {
    const char* p = static_cast<const char*>(token.pvBuffer);
    st->out.insert(st->out.end(), p, p + token.cbBuffer);
  }
  if (token.pvBuffer) FreeContextBuffer(token.pvBuffer);
}

// Keeps only the bytes SSPI did not consume (reported as SECBUFFER_EXTRA,
// always at the end of the input).
void keep_extra(std::vector<char>* in, const SecBuffer* bufs, int count) {
  for (int i = 0; i < count; ++i) {
    if (bufs[i].BufferType == SECBUFFER_EXTRA) {
      in->erase(in->begin(), in->end() - bufs[i].cbBuffer);
      return;
    }
  }
  in->clear();
}

}  // namespace

TlsOutcome TlsSession::handshake() noexcept {
  if (!state_ || state_->broken) return TlsOutcome::kFailed;
  State* st = state_.get();
  bool failed = false;
  while (true) {
    if (!flush(st, socket_, &error_, &failed)) return failed ? TlsOutcome::kFailed : TlsOutcome::kWantWrite;
    if (st->established) return TlsOutcome::kDone;
    if (!st->context) {
      // Wait for the whole first record of a handshake; anything else (plain
      // HTTP on the TLS port) goes to Schannel at once, which refuses it.
      bool handshake_record = !st->in.empty() && st->in[0] == 22;
      if (st->in.empty() || (handshake_record && !whole_record(st->in))) {
        TlsOutcome got = fill(st, socket_, &error_);
        if (got != TlsOutcome::kDone) return got;
        continue;
      }
      st->server_name = client_hello_server_name(reinterpret_cast<const unsigned char*>(st->in.data()), st->in.size());
      st->context = st->table->select(st->server_name);
    }
    unsigned char alpn_buf[sizeof(SEC_APPLICATION_PROTOCOLS) + sizeof kAlpnList];
    auto* alpn = reinterpret_cast<SEC_APPLICATION_PROTOCOLS*>(alpn_buf);
    alpn->ProtocolListsSize = static_cast<ULONG>(offsetof(SEC_APPLICATION_PROTOCOL_LIST, ProtocolList) + sizeof kAlpnList);
    alpn->ProtocolLists[0].ProtoNegoExt = SecApplicationProtocolNegotiationExt_ALPN;
    alpn->ProtocolLists[0].ProtocolListSize = sizeof kAlpnList;
    std::memcpy(alpn->ProtocolLists[0].ProtocolList, kAlpnList, sizeof kAlpnList);
    SecBuffer in[3] = {{static_cast<ULONG>(st->in.size()), SECBUFFER_TOKEN, st->in.data()},
                       {0, SECBUFFER_EMPTY, nullptr},
                       {static_cast<ULONG>(sizeof(ULONG) + alpn->ProtocolListsSize), SECBUFFER_APPLICATION_PROTOCOLS,
                        alpn}};
    SecBufferDesc in_desc{SECBUFFER_VERSION, st->has_ctx ? 2ul : 3ul, in};
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 2, out};
    ULONG attrs = 0;
    TimeStamp expiry;
    SECURITY_STATUS s = AcceptSecurityContext(
        &st->context->state()->cred, st->has_ctx ? &st->ctx : nullptr, &in_desc,
        ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM | ASC_REQ_CONFIDENTIALITY | ASC_REQ_SEQUENCE_DETECT |
            ASC_REQ_REPLAY_DETECT | ASC_REQ_EXTENDED_ERROR,
        0, &st->ctx, &out_desc, &attrs, &expiry);
    if (s == SEC_E_INCOMPLETE_MESSAGE) {
      if (out[1].pvBuffer) FreeContextBuffer(out[1].pvBuffer);
      TlsOutcome got = fill(st, socket_, &error_);
      if (got != TlsOutcome::kDone) return got;
      continue;
    }
    if (s == SEC_I_CONTINUE_NEEDED || s == SEC_E_OK) st->has_ctx = true;
    queue(st, out[0]);
    if (s != SEC_I_CONTINUE_NEEDED && s != SEC_E_OK) {
      // The alert (if any) goes out once, without waiting.
      queue(st, out[1]);
      flush(st, socket_, &error_, &failed);
      error_ = static_cast<os_error>(s);
      st->detail = sspi_failure("AcceptSecurityContext", error_);
      st->broken = true;
      return TlsOutcome::kFailed;
    }
    if (out[1].pvBuffer) FreeContextBuffer(out[1].pvBuffer);
    keep_extra(&st->in, in, 2);
    if (s == SEC_E_OK) {
      // Writes are cut to the record size: without it none could be made.
      s = QueryContextAttributesW(&st->ctx, SECPKG_ATTR_STREAM_SIZES, &st->sizes);
      if (s != SEC_E_OK || st->sizes.cbMaximumMessage == 0) {
        error_ = s != SEC_E_OK ? static_cast<os_error>(s) : err::kSecInternalError;
        st->detail = sspi_failure("QueryContextAttributes(STREAM_SIZES)", error_);
        st->broken = true;
        return TlsOutcome::kFailed;
      }
      st->established = true;
    }
  }
}

TlsOutcome TlsSession::read(void* buf, size_t capacity, size_t* got) noexcept {
  *got = 0;
  if (!state_ || state_->broken || !state_->established) return TlsOutcome::kFailed;
  State* st = state_.get();
  while (st->plain_at >= st->plain.size()) {
    SecBuffer bufs[4] = {{static_cast<ULONG>(st->in.size()), SECBUFFER_DATA, st->in.data()},
                         {0, SECBUFFER_EMPTY, nullptr},
                         {0, SECBUFFER_EMPTY, nullptr},
                         {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    SECURITY_STATUS s = st->in.empty() ? SEC_E_INCOMPLETE_MESSAGE : DecryptMessage(&st->ctx, &desc, 0, nullptr);
    if (s == SEC_E_INCOMPLETE_MESSAGE) {
      TlsOutcome more = fill(st, socket_, &error_);
      if (more == TlsOutcome::kClosed) error_ = err::kSecContextExpired;
      if (more != TlsOutcome::kDone) return more;
      continue;
    }
    if (s == SEC_I_CONTEXT_EXPIRED) {
      error_ = err::kSecContextExpired;
      return TlsOutcome::kClosed;
    }
    if (s != SEC_E_OK) {
      // SEC_I_RENEGOTIATE included: renegotiation is refused (so is a
      // TLS 1.3 key update, which HTTP clients do not send on short
      // connections).
      error_ = static_cast<os_error>(s);
      st->detail = sspi_failure("DecryptMessage", error_);
      st->broken = true;
      return TlsOutcome::kFailed;
    }
    st->plain.clear();
    st->plain_at = 0;
    for (const SecBuffer& b : bufs) {
      if (b.BufferType == SECBUFFER_DATA) {
        const char* p = static_cast<const char*>(b.pvBuffer);
        st->plain.assign(p, p + b.cbBuffer);
      }
    }
    keep_extra(&st->in, bufs, 4);
  }
  size_t n = std::min(capacity, st->plain.size() - st->plain_at);
  std::memcpy(buf, st->plain.data() + st->plain_at, n);
  st->plain_at += n;
  *got = n;
  return TlsOutcome::kDone;
}

TlsOutcome TlsSession::write(const void* data, size_t length, size_t* sent) noexcept {
  *sent = 0;
  if (!state_ || state_->broken || !state_->established) return TlsOutcome::kFailed;
  State* st = state_.get();
  bool failed = false;
  if (st->pending_plain == 0 && length > 0) {
    // One record per call: the caller's buffer is not ours to encrypt in
    // place, so the record is built in `out`.
    size_t n = std::min<size_t>(length, st->sizes.cbMaximumMessage);
    size_t header = st->sizes.cbHeader, trailer = st->sizes.cbTrailer;
    st->out.assign(header + n + trailer, 0);
    st->out_at = 0;
    std::memcpy(st->out.data() + header, data, n);
    SecBuffer bufs[4] = {{static_cast<ULONG>(header), SECBUFFER_STREAM_HEADER, st->out.data()},
                         {static_cast<ULONG>(n), SECBUFFER_DATA, st->out.data() + header},
                         {static_cast<ULONG>(trailer), SECBUFFER_STREAM_TRAILER, st->out.data() + header + n},
                         {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    SECURITY_STATUS s = EncryptMessage(&st->ctx, 0, &desc, 0);
    if (s != SEC_E_OK) {
      error_ = static_cast<os_error>(s);
      st->detail = sspi_failure("EncryptMessage", error_);
      st->broken = true;
      return TlsOutcome::kFailed;
    }
    st->out.resize(bufs[0].cbBuffer + bufs[1].cbBuffer + bufs[2].cbBuffer);
    st->pending_plain = n;
  }
  if (!flush(st, socket_, &error_, &failed)) return failed ? TlsOutcome::kFailed : TlsOutcome::kWantWrite;
  *sent = st->pending_plain;
  st->pending_plain = 0;
  return TlsOutcome::kDone;
}

bool TlsSession::has_buffered() const noexcept {
  return state_ && (state_->plain_at < state_->plain.size() || whole_record(state_->in));
}

void TlsSession::close_within(uint32_t ms) noexcept {
  if (!state_ || state_->broken || !state_->established) return;
  State* st = state_.get();
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc desc{SECBUFFER_VERSION, 1, &token};
  if (ApplyControlToken(&st->ctx, &desc) != SEC_E_OK) return;
  SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
  ULONG attrs = 0;
  TimeStamp expiry;
  SECURITY_STATUS s = AcceptSecurityContext(&st->context->state()->cred, &st->ctx, nullptr,
                                            ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM | ASC_REQ_CONFIDENTIALITY, 0,
                                            &st->ctx, &out_desc, &attrs, &expiry);
  if (FAILED(s)) {
    if (out.pvBuffer) FreeContextBuffer(out.pvBuffer);
    return;
  }
  queue(st, out);
  bool failed = false;
  while (!flush(st, socket_, &error_, &failed) && !failed && wait_for(TlsOutcome::kWantWrite, ms)) {
  }
  st->broken = true;  // nothing more goes out on this session
}

std::string TlsSession::server_name() const { return state_ ? state_->server_name : ""; }

std::string TlsSession::protocol() const {
  SecPkgContext_ConnectionInfo info{};
  if (!state_ || !state_->established ||
      QueryContextAttributesW(const_cast<CtxtHandle*>(&state_->ctx), SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
    return "";
  if (info.dwProtocol & SP_PROT_TLS1_3) return "TLSv1.3";
  if (info.dwProtocol & SP_PROT_TLS1_2) return "TLSv1.2";
  return "TLS (" + hex(info.dwProtocol) + ")";
}

std::string TlsSession::cipher() const {
  SecPkgContext_CipherInfo info{};
  info.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
  if (!state_ || !state_->established ||
      QueryContextAttributesW(const_cast<CtxtHandle*>(&state_->ctx), SECPKG_ATTR_CIPHER_INFO, &info) != SEC_E_OK)
    return "";
  char name[SZ_ALG_MAX_SIZE * 2] = "";
  WideCharToMultiByte(CP_ACP, 0, info.szCipherSuite, -1, name, sizeof name, nullptr, nullptr);
  return name;
}

std::string TlsSession::alpn() const {
  SecPkgContext_ApplicationProtocol info{};
  if (!state_ || !state_->established ||
      QueryContextAttributesW(const_cast<CtxtHandle*>(&state_->ctx), SECPKG_ATTR_APPLICATION_PROTOCOL, &info) !=
          SEC_E_OK ||
      info.ProtoNegoStatus != SecApplicationProtocolNegotiationStatus_Success)
    return "";
  return std::string(reinterpret_cast<const char*>(info.ProtocolId), info.ProtocolIdSize);
}

std::string TlsSession::error_text() const {
  if (state_ && !state_->detail.empty()) return state_->detail;
  return error_message(error_);
}

}  // namespace platform
