// libFuzzer target: a script's header block, fed in pieces whose sizes the
// input chooses, into a response that must stay well-formed.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/core/response_writer.h"
#include "engine/dynamic/script_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  brisvane::HttpMessage response;
  response.version = brisvane::kHttp11;
  brisvane::ScriptHeaderParser parser(response);
  while (!rest.empty() && !parser.done()) {
    const std::string_view part = rest.substr(0, piece);
    const size_t used = parser.Feed(part);
    if (used > part.size() || (used < part.size() && !parser.done())) __builtin_trap();
    rest.remove_prefix(used);
  }
  if (!parser.done()) parser.Finish();
  const std::string head = brisvane::FormatResponseHead(response);
  if (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) __builtin_trap();
  return 0;
}
