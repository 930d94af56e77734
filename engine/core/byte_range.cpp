#include "engine/core/byte_range.h"

#include <limits>
#include <optional>

#include "engine/core/text_util.h"

namespace brisvane {

namespace {

constexpr uint64_t kMaxPosition = std::numeric_limits<uint64_t>::max();

// nullopt for an absent position. A saturated value still lands on the
// right side of every check: past the end as a first position, the end
// itself as a last position or suffix.
std::optional<uint64_t> ReadPosition(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (kMaxPosition - digit) / 10 ? kMaxPosition
                                                : value * 10 + digit;
  }
  return value;
}

bool ParseItem(std::string_view item, uint64_t size, ByteRange* range) {
  const size_t dash = item.find('-');
  if (dash == std::string_view::npos) return false;
  const std::optional<uint64_t> first_pos = ReadPosition(item.substr(0, dash));
  const std::optional<uint64_t> last_pos = ReadPosition(item.substr(dash + 1));

  uint64_t first;
  // Wraps for an empty file, but then every first position fails below.
  uint64_t last = size - 1;
  if (first_pos) {
    first = *first_pos;
    if (last_pos && *last_pos < last) last = *last_pos;
  } else {
    if (!last_pos || *last_pos == 0) return false;
    first = *last_pos >= size ? 0 : size - *last_pos;
  }
  if (first >= size || last < first) return false;
  range->first = first;
  range->length = last - first + 1;
  return true;
}

}  // namespace

bool ParseByteRanges(std::string_view header, uint64_t file_size,
                     std::vector<ByteRange>* out) {
  const size_t equals = header.find('=');
  if (equals == std::string_view::npos ||
      !EqualsIgnoreCase(header.substr(0, equals), "bytes")) {
    return false;
  }
  std::vector<ByteRange> ranges;
  for (std::string_view item : SplitList(header.substr(equals + 1), ",")) {
    ByteRange range{};
    if (!ParseItem(item, file_size, &range)) return false;
    ranges.push_back(range);
  }
  if (out != nullptr) out->insert(out->end(), ranges.begin(), ranges.end());
  return true;
}

std::string FormatContentRange(const ByteRange& range, uint64_t file_size) {
  return "bytes " + std::to_string(range.first) + "-" +
         std::to_string(range.first + range.length - 1) + "/" +
         std::to_string(file_size);
}

}  // namespace brisvane
