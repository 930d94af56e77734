// Byte ranges from a Range request header, with 64-bit positions so that
// files over 4 GiB can be served a range at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisvane {

struct ByteRange {
  uint64_t first;
  uint64_t length;  // at least 1 for every range the parser produces
};

// Parses a header value such as "bytes=0-99,-500" against a file of
// `file_size` bytes and appends one range per comma-separated item, in order.
// The unit before the first "=" must be "bytes" in any case. Each item is
// split at its first "-"; an item without "-" fails. Each side is read from
// its leading decimal digits after any spaces and tabs; a side that is empty
// or only blanks is absent, while other text without digits reads as 0.
// Numbers too large for 64 bits saturate instead of wrapping.
// A last position past the end is cut to the end and a suffix longer than
// the file gives the whole file; a first position at or past the end, a last
// position before the first, an empty suffix ("-0") or an item with neither
// position fails, so every range fails on an empty file.
// Returns false, leaving *out untouched, when any item fails. `out` may be
// null to only check the header.
bool ParseByteRanges(std::string_view header, uint64_t file_size,
                     std::vector<ByteRange>* out);

// "bytes <first>-<last>/<file_size>" for a Content-Range header.
std::string FormatContentRange(const ByteRange& range, uint64_t file_size);

}  // namespace brisvane
