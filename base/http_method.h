// HTTP method codes. Stored rights masks hold one bit per code (bit 1 << code),
// so the numbers are part of every saved access list and never change.
#pragma once

#include <cstdint>
#include <string_view>

namespace brisvane {

enum MethodCode : int32_t {
  kMethodUnknown = -1, kMethodOptions = 1, kMethodGet = 2, kMethodHead = 3, kMethodPost = 4,
  kMethodPut = 5, kMethodDelete = 6, kMethodTrace = 7
};

// The code of a method word, compared exactly ("get" is unknown).
constexpr int32_t MethodCodeOf(std::string_view word) {
  if (word == "GET") return kMethodGet;
  if (word == "HEAD") return kMethodHead;
  if (word == "POST") return kMethodPost;
  if (word == "PUT") return kMethodPut;
  if (word == "DELETE") return kMethodDelete;
  if (word == "OPTIONS") return kMethodOptions;
  if (word == "TRACE") return kMethodTrace;
  return kMethodUnknown;
}

// The word of a known code, or nullptr.
constexpr const char* MethodName(int32_t code) {
  switch (code) {
    case kMethodOptions: return "OPTIONS";
    case kMethodGet: return "GET";
    case kMethodHead: return "HEAD";
    case kMethodPost: return "POST";
    case kMethodPut: return "PUT";
    case kMethodDelete: return "DELETE";
    case kMethodTrace: return "TRACE";
    default: return nullptr;
  }
}

// The bit of a method in a rights mask: bit n for code n; an unrecognised
// method (-1) maps to bit 31, which no tool sets.
constexpr uint32_t MethodBit(int32_t code) { return 1u << (static_cast<uint32_t>(code) & 31u); }

}  // namespace brisvane
