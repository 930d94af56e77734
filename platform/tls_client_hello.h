// Reading the server name (SNI) out of a ClientHello, for a TLS library
// that does not choose the certificate by it itself (Schannel).
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The host name of the server_name extension in the first TLS record
// (RFC 8446 4.1.2, RFC 6066 3), reading no byte past `n`. "" when there is
// none, or the bytes are not (the whole of) a ClientHello record: the
// handshake itself then decides what they are.
std::string client_hello_server_name(const unsigned char* p, size_t n);

}  // namespace platform
