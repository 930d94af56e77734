// libFuzzer target: a document with include directives, fed to the scanner
// in pieces whose sizes the input chooses. Putting each directive back
// between its markers must give the input again, whatever the cuts; every
// directive text goes through the attribute parser, whose persistent
// attributes carry from one directive to the next.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/dynamic/server_includes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  brisvane::IncludeScanner scanner;
  brisvane::IncludeAttributes attrs;
  std::string out;
  size_t directives = 0;
  auto on_directive = [&](std::string_view text, std::string* o) {
    // The text ends at the first closing marker.
    if (text.find("-->") != std::string_view::npos) __builtin_trap();
    std::string name;
    const bool ok = brisvane::ParseIncludeDirective(text, &attrs, &name);
    if (ok && (name.find_first_of(" \r\n") != std::string::npos || name.size() > text.size())) __builtin_trap();
    // Attribute values never reach beyond the directive.
    for (const std::string* v : {&attrs.virtual_path, &attrs.file, &attrs.var, &attrs.cmd, &attrs.cgi})
      if (v->size() > text.size() || v->find('"') != std::string::npos) __builtin_trap();
    ++directives;
    o->append("<!--#").append(text).append("-->");
  };
  for (size_t at = 0; at < input.size(); at += piece)
    scanner.Feed(input.substr(at, piece), &out, on_directive);
  scanner.Finish(&out);
  if (out != input) __builtin_trap();
  if (directives * 8 > input.size()) __builtin_trap();
  return 0;
}
