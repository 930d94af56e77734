#include "base/text.h"

namespace brisvane {

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string TrimLeading(std::string_view text, char c) {
  const size_t start = text.find_first_not_of(c);
  return start == std::string_view::npos ? std::string() : std::string(text.substr(start));
}

std::string TrimTrailing(std::string_view text, char c) {
  const size_t last = text.find_last_not_of(c);
  return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

std::string TrimBoth(std::string_view text, char c) { return std::string(Trimmed(text, std::string_view(&c, 1))); }

std::string_view Trimmed(std::string_view text, std::string_view chars) {
  const size_t start = text.find_first_not_of(chars);
  if (start == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(chars);
  return text.substr(start, last - start + 1);
}

std::vector<std::string_view> SplitList(std::string_view text, std::string_view separators,
                                        std::string_view blanks) {
  std::vector<std::string_view> items;
  for (;;) {
    const size_t end = text.find_first_of(separators);
    items.push_back(Trimmed(text.substr(0, end), blanks));
    if (end == std::string_view::npos) return items;
    text.remove_prefix(end + 1);
  }
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace brisvane
