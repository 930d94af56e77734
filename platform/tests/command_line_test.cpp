// Windows command lines split as the Microsoft C runtime splits them, so a
// POSIX child receives the arguments a Windows child would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, QuotesAndBackslashesFollowTheRuntimeRules) {
  struct Case {
    const char* line;
    Args args;
  };
  const Case cases[] = {
      // The published examples of the C runtime.
      {R"(p "abc" d e)", {"p", "abc", "d", "e"}},
      {R"(p a\\b d"e f"g h)", {"p", R"(a\\b)", "de fg", "h"}},
      {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
      {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
      {R"(p a"b"" c d)", {"p", R"(ab" c d)"}},
      // Blanks: runs of spaces and tabs separate; none trail.
      {"  p \t a  b\t ", {"p", "a", "b"}},
      {R"(p "" x)", {"p", "", "x"}},
      {R"(p "unterminated arg)", {"p", "unterminated arg"}},
      {R"(p trailing\)", {"p", R"(trailing\)"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split_command_line(c.line), c.args) << c.line;
}

TEST(CommandLineTest, ProgramNameTakesBackslashesLiterally) {
  EXPECT_EQ(split_command_line(R"("C:\Program Files\x.exe" a)"), (Args{R"(C:\Program Files\x.exe)", "a"}));
  EXPECT_EQ(split_command_line(R"(C:\dir\"with space"\x.exe)"), (Args{R"(C:\dir\with space\x.exe)"}));
  EXPECT_EQ(split_command_line(R"(/usr/bin/perl "/srv/cgi bin/a.pl")"), (Args{"/usr/bin/perl", "/srv/cgi bin/a.pl"}));
  EXPECT_TRUE(split_command_line("").empty());
  EXPECT_TRUE(split_command_line(" \t ").empty());
}

}  // namespace
}  // namespace platform
