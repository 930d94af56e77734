// The shared text routines: case, trimming, list splitting and HTML
// escaping, each of which several parts of the programs rely on.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brisvane {
namespace {

std::vector<std::string> Items(std::string_view text, std::string_view separators, std::string_view blanks = {}) {
  std::vector<std::string> out;
  for (std::string_view item : SplitList(text, separators, blanks)) out.emplace_back(item);
  return out;
}

using List = std::vector<std::string>;

TEST(TextTest, CaseAndTrim) {
  EXPECT_EQ(ToLower("AbZ@[`{ 09\xc9\xe9"), "abz@[`{ 09\xc9\xe9");
  EXPECT_EQ(ToUpper("aBz@[`{ 09\xc9\xe9"), "ABZ@[`{ 09\xc9\xe9");
  EXPECT_TRUE(EqualsIgnoreCase("Content-TYPE", "content-type"));
  EXPECT_FALSE(EqualsIgnoreCase("abc", "abcd"));
  EXPECT_FALSE(EqualsIgnoreCase("@", "`"));  // differ only in bit 0x20
  EXPECT_FALSE(EqualsIgnoreCase("\xc9", "\xe9"));

  EXPECT_EQ(TrimLeading("  a b  ", ' '), "a b  ");
  EXPECT_EQ(TrimTrailing("  a b  ", ' '), "  a b");
  EXPECT_EQ(TrimBoth("//a/b//", '/'), "a/b");
  for (const char* text : {"", "////"}) {
    EXPECT_EQ(TrimLeading(text, '/') + TrimTrailing(text, '/') + TrimBoth(text, '/'), "");
  }
  EXPECT_EQ(Trimmed(" \t a \tb\t ", " \t"), "a \tb");
  EXPECT_EQ(Trimmed(" \t ", " \t"), "");
  EXPECT_EQ(Trimmed(" a ", ""), " a ");
}

TEST(TextTest, ListsKeepEmptyItemsAndTrimOnlyBlanks) {
  EXPECT_EQ(Items("a,b", ","), (List{"a", "b"}));
  EXPECT_EQ(Items("", ","), (List{""}));
  EXPECT_EQ(Items(",", ","), (List{"", ""}));
  EXPECT_EQ(Items(" a , ,b,", ",", " "), (List{"a", "", "b", ""}));
  // Several separators; blanks inside an item stay.
  EXPECT_EQ(Items("index.html; default.htm ,x y", ",;", " "), (List{"index.html", "default.htm", "x y"}));
  // Without blanks nothing is trimmed; tabs are blanks only when named.
  EXPECT_EQ(Items(" a,\tb ", ","), (List{" a", "\tb "}));
  EXPECT_EQ(Items("keep-alive,\t close \t", ",", " \t"), (List{"keep-alive", "close"}));
  // Parameters after ";" stay with the item when ";" is no separator.
  EXPECT_EQ(Items("text/html;q=0.9, */*", ",", " "), (List{"text/html;q=0.9", "*/*"}));
}

TEST(TextTest, HtmlEscapingCoversMarkupAndAttributeQuotes) {
  EXPECT_EQ(EscapeHtml("<a href=\"x\">&amp;</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(EscapeHtml("plain 'single' \xe9"), "plain 'single' \xe9");
  EXPECT_EQ(EscapeHtml(""), "");
  EXPECT_EQ(EscapeHtml(std::string_view("a\0<", 3)), std::string("a\0&lt;", 6));
}

}  // namespace
}  // namespace brisvane
