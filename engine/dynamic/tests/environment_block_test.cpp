// The child's environment block: its fixed bound, and that it always ends
// with its empty string, whatever the server's own environment holds.
#include <gtest/gtest.h>

#include <string>

#include "engine/dynamic/script_process.h"

namespace brisvane {
namespace {

std::string Entries(const std::array<char, kEnvironmentBlockSize>& block, size_t used) {
  return std::string(block.data(), used);
}

TEST(EnvironmentBlockTest, VariablesThatDoNotFitAreLeftOutAndTheBlockStaysTerminated) {
  CgiRequestInfo info;
  info.request_method = "GET";
  info.cookie = std::string(9000, 'c');
  info.user_agent = "agent";
  info.document_root = "/docs";
  std::array<char, kEnvironmentBlockSize> block{};
  size_t used = BuildEnvironmentBlock(info, std::string("PATH=/bin") + '\0', block);
  std::string text = Entries(block, used);
  EXPECT_EQ(text.rfind("PATH=/bin", 0), 0u);
  EXPECT_NE(text.find(std::string("REQUEST_METHOD=GET") + '\0'), std::string::npos);
  EXPECT_NE(text.find(std::string("HTTP_COOKIE=") + std::string(9000, 'c')), std::string::npos);
  EXPECT_NE(text.find(std::string("REDIRECT_STATUS=200") + '\0'), std::string::npos);

  // A cookie past the bound is skipped; what follows it still comes.
  info.cookie = std::string(10000, 'c');
  block.fill('\0');
  used = BuildEnvironmentBlock(info, "", block);
  text = Entries(block, used);
  EXPECT_EQ(text.find("HTTP_COOKIE"), std::string::npos);
  EXPECT_NE(text.find(std::string("HTTP_USER_AGENT=agent") + '\0'), std::string::npos);
  EXPECT_NE(text.find(std::string("DOCUMENT_ROOT=/docs") + '\0'), std::string::npos);
  EXPECT_EQ(text.find("DOCUMENT_URI"), std::string::npos);

  // A server environment beyond the bound is cut after a whole string,
  // with room left for the final empty string.
  std::string server;
  for (int i = 0; i < 1000; ++i) server += "VARIABLE" + std::to_string(i) + "=value" + '\0';
  block.fill('\0');
  used = BuildEnvironmentBlock(info, server, block);
  ASSERT_LT(used, kEnvironmentBlockSize);
  EXPECT_EQ(block[used], '\0');
  EXPECT_EQ(block[used - 1], '\0');
  text = Entries(block, used);
  EXPECT_EQ(text.find("REQUEST_METHOD"), std::string::npos);
  EXPECT_EQ(server.rfind(text, 0), 0u);  // a prefix of whole strings
}

}  // namespace
}  // namespace brisvane
