// Address conversions that need no system call, shared by both backends.
#include <bit>
#include <cstring>

#include "platform/socket.h"

namespace platform {

uint16_t host_to_net16(uint16_t v) {
  if constexpr (std::endian::native == std::endian::little) return static_cast<uint16_t>((v >> 8) | (v << 8));
  return v;
}

uint32_t host_to_net32(uint32_t v) {
  if constexpr (std::endian::native == std::endian::little)
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
  return v;
}

std::string format_ipv4(uint32_t addr) {
  unsigned char b[4];
  std::memcpy(b, &addr, 4);  // network order: first byte first
  std::string out;
  for (int i = 0; i < 4; ++i) {
    if (i) out += '.';
    out += std::to_string(b[i]);
  }
  return out;
}

// Only the dotted quad: four decimal numbers 0..255. A part with a leading
// zero is refused, since older parsers read it as octal and a log or an
// access list must not mean a different host than the text suggests.
bool parse_ipv4(const std::string& text, uint32_t* addr) {
  unsigned char b[4];
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    size_t begin = at;
    unsigned value = 0;
    while (at < text.size() && at - begin < 4 && text[at] >= '0' && text[at] <= '9')
      value = value * 10 + static_cast<unsigned>(text[at++] - '0');
    size_t digits = at - begin;
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[begin] == '0')) return false;
    b[part] = static_cast<unsigned char>(value);
  }
  if (at != text.size()) return false;
  std::memcpy(addr, b, 4);
  return true;
}

}  // namespace platform
