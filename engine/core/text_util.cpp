#include "engine/core/text_util.h"

#include <array>
#include <cstdint>

namespace brisvane {

namespace {

constexpr std::array<uint8_t, 256> MakeBase64Reverse() {
  std::array<uint8_t, 256> table{};  // bytes outside the alphabet stay 0
  for (uint8_t i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kBase64Alphabet[i])] = i;
  }
  return table;
}

constexpr std::array<uint8_t, 256> kBase64Reverse = MakeBase64Reverse();

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

bool IsUnsafeUrlByte(unsigned char c) { return c < 0x21 || c > 0x7E; }

void AppendPercentEscape(std::string* out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('%');
  out->push_back(kHex[c >> 4]);
  out->push_back(kHex[c & 0xF]);
}

}  // namespace

void DecodePercentInPlace(std::string& text) {
  // The output never grows, so it can overwrite the input behind the
  // read position.
  size_t out = 0;
  size_t in = 0;
  while (in < text.size()) {
    if (text[in] == '%' && text.size() - in >= 3) {
      text[out++] = static_cast<char>(HexValue(text[in + 1]) * 16 +
                                      HexValue(text[in + 2]));
      in += 3;
    } else {
      text[out++] = text[in++];
    }
  }
  text.resize(out);
}

std::string EscapeForUrl(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '%' || c == '?' || c == '+' || c == '&' || IsUnsafeUrlByte(u))
      AppendPercentEscape(&out, u);
    else
      out += c;
  }
  return out;
}

std::string EscapeUrlUnsafeBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (IsUnsafeUrlByte(u))
      AppendPercentEscape(&out, u);
    else
      out += c;
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    char group[4] = {'=', '=', '=', '='};
    for (size_t k = 0; k < 4 && i + k < text.size(); ++k) group[k] = text[i + k];

    uint32_t bits = 0;
    for (char c : group) {
      bits = (bits << 6) | kBase64Reverse[static_cast<unsigned char>(c)];
    }
    out += static_cast<char>(bits >> 16);
    if (group[2] == '=') continue;
    out += static_cast<char>((bits >> 8) & 0xFF);
    if (group[3] == '=') continue;
    out += static_cast<char>(bits & 0xFF);
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    uint32_t bits = 0;
    for (size_t k = 0; k < 3; ++k) {
      bits <<= 8;
      if (k < n) bits |= static_cast<unsigned char>(bytes[i + k]);
    }
    out += kBase64Alphabet[(bits >> 18) & 63];
    out += kBase64Alphabet[(bits >> 12) & 63];
    out += n > 1 ? kBase64Alphabet[(bits >> 6) & 63] : '=';
    out += n > 2 ? kBase64Alphabet[bits & 63] : '=';
  }
  return out;
}

}  // namespace brisvane
