#include "engine/core/error_template.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace brisvane {
namespace {

std::string Expand(std::string_view tmpl, const char* reason = "R") {
  return ExpandErrorTemplate(tmpl, 503, reason, "a@b", "Srv");
}

TEST(ErrorTemplateTest, BuiltinPage) {
  EXPECT_EQ(ExpandErrorTemplate(kBuiltinErrorTemplate, 404,
                                "Resource not found", "w@x", "Brisvane/2.10"),
            "<BODY BGCOLOR=\"#FFFFFF\"><H1>HTTP/1.1 404 Resource not found"
            "</H1>\nIf problems persist, contact <A HREF=\"mailto:w@x\"><i>"
            "&lt;w@x&gt;</i></A>\n<hr><i>Brisvane/2.10</i></BODY>");
}

TEST(ErrorTemplateTest, Codes) {
  EXPECT_EQ(Expand("[%c|%r|%s]"), "[503|R|Srv]");
  EXPECT_EQ(Expand("%r", nullptr), "Error");
  EXPECT_EQ(ExpandErrorTemplate("%c %s.", 7, "", "", ""), "7 .");
  EXPECT_EQ(ExpandErrorTemplate("%e", 500, "x", "", ""),
            "<A HREF=\"mailto:\"><i>&lt;&gt;</i></A>");
  // Inserted texts are neither escaped nor expanded again.
  EXPECT_EQ(ExpandErrorTemplate("%r", 500, "<%c>", "", ""), "<%c>");
}

TEST(ErrorTemplateTest, PercentEdgeCases) {
  EXPECT_EQ(Expand("100%%"), "100%");
  EXPECT_EQ(Expand("%%c"), "%c");
  EXPECT_EQ(Expand("a%xb%Cc%"), "abc");
  EXPECT_EQ(Expand("%%%"), "%");
  EXPECT_EQ(Expand("%"), "");
  EXPECT_EQ(Expand(""), "");
}

TEST(ErrorTemplateTest, NulEndsTemplate) {
  using namespace std::string_view_literals;
  EXPECT_EQ(Expand("a%c\0%c b"sv), "a503");
  EXPECT_EQ(Expand("a%\0cb"sv), "a");  // the "%" is now the last character
  EXPECT_EQ(Expand("\0%c"sv), "");
}

}  // namespace
}  // namespace brisvane
