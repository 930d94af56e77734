// ASCII text routines every program shares. They work on bytes, never on
// the C locale, so their results do not change with the host's language
// settings; bytes >= 0x80 are left alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brisvane {

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// True when `text` begins with `prefix`, ignoring case.
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
// True when `text` ends with `suffix`, ignoring case.
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);

// Remove the leading / trailing / both runs of `c`.
std::string TrimLeading(std::string_view text, char c);
std::string TrimTrailing(std::string_view text, char c);
std::string TrimBoth(std::string_view text, char c);
// `text` without the runs of any of `chars` at either end.
std::string_view Trimmed(std::string_view text, std::string_view chars);

// The items of a list whose items are separated by any of `separators`,
// each trimmed of `blanks`. Empty items are kept, so each caller decides
// what one means: "a, ,b," gives "a", "", "b" and "", and "" gives one
// empty item.
std::vector<std::string_view> SplitList(std::string_view text, std::string_view separators,
                                        std::string_view blanks = {});

// "&", "<", ">" and the double quote as character references, so text from
// a client or a file name can stand in a page and in an attribute value.
std::string EscapeHtml(std::string_view text);

}  // namespace brisvane
