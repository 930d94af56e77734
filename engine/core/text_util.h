// Small text routines shared by request parsing and response building.
// All of them work on bytes and ASCII only, never on the C locale, so their
// results do not change with the host's language settings.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace brisvane {

inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Replaces each "%XY" with the byte 0xXY; "+" and everything else is kept.
// The two characters after "%" are not validated: a character that is not
// a hex digit counts as digit 0, so "%G1" gives byte 0x01. A "%" followed
// by fewer than two characters is kept as it is, with what follows it.
void DecodePercentInPlace(std::string& text);

// Replaces each of "%", " ", "?", "+" and "&", and every byte below 0x21 or
// above 0x7E, by "%" and two lower-case hex digits; all other bytes are
// copied unchanged. For a path: a decoded "?" stays part of the name.
std::string EscapeForUrl(std::string_view text);

// Escapes only the bytes below 0x21 or above 0x7E, for text that already is
// a URL or a query: its "%", "?" and "&" keep their meaning, but no line
// break, control byte or 8-bit byte passes.
std::string EscapeUrlUnsafeBytes(std::string_view text);

// Decodes four characters at a time into three bytes, or into one byte when
// the group's third character is "=" and two when its fourth is. Characters
// outside the alphabet are not rejected and count as 0. A final group of
// fewer than four characters is read as if padded with "=", so unpadded
// input decodes the same as padded input.
std::string Base64Decode(std::string_view text);
// Padded output, the inverse of Base64Decode for well-formed input.
std::string Base64Encode(std::string_view bytes);

}  // namespace brisvane
