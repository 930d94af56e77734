// Profiles mean the same on both backends: what a read sees after writes,
// how names compare, what is refused, and the file a flush leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file.h"
#include "platform/profile.h"

namespace platform {
namespace {

TEST(ProfileFile, ReadsWhatWasWrittenAndFlushesItInOrder) {
  std::string dir, path;
  ASSERT_TRUE(temp_directory(&dir) && temp_file_name(dir, "BSV", &path));
  {
    ProfileFile p(path);
    EXPECT_EQ(p.Read("CGI", "Method", "----Zelt----", 64), "----Zelt----");
    ASSERT_TRUE(p.Write("CGI", "Method", "GET"));
    ASSERT_TRUE(p.Write("CGI", "Empty", ""));
    ASSERT_TRUE(p.Write("Form", "a", "1"));
    // Names compare without case; a second write replaces in place.
    ASSERT_TRUE(p.Write("cgi", "METHOD", "POST"));
    EXPECT_EQ(p.Read("Cgi", "method", "----Zelt----", 64), "POST");
    EXPECT_EQ(p.Read("CGI", "Empty", "----Zelt----", 64), "");
    EXPECT_EQ(p.Read("Form", "Method", "----Zelt----", 64), "----Zelt----");
    EXPECT_EQ(p.Read("Form", "a", "x", 1), "");  // room for the NUL only
    // A line break would make another key or section of the file.
    EXPECT_FALSE(p.Write("CGI", "x\ny", "1"));
    EXPECT_EQ(last_error(), err::kInvalidParameter);
    EXPECT_FALSE(p.Write("CGI", "x", "1\r\n[System]"));
    EXPECT_FALSE(p.Write("", "x", "1"));
    ASSERT_TRUE(p.Flush());
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string flat = text.str();
  std::erase(flat, '\r');
  const size_t cgi = flat.find("[CGI]\nMethod=POST\nEmpty=\n");
  EXPECT_NE(cgi, std::string::npos) << flat;
  EXPECT_LT(cgi, flat.find("[Form]\na=1\n")) << flat;
  EXPECT_EQ(flat.find("x="), std::string::npos) << flat;
  file_delete(path);
}

}  // namespace
}  // namespace platform
