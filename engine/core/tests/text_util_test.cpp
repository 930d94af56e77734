#include "engine/core/text_util.h"

#include <gtest/gtest.h>

#include <string>

namespace brisvane {
namespace {

std::string Decoded(std::string text) {
  DecodePercentInPlace(text);
  return text;
}

TEST(TextUtilTest, PercentDecodeAndEscape) {
  EXPECT_EQ(Decoded("%41%62c"), "Abc");
  EXPECT_EQ(Decoded("a+b%2f%2F%ff"), "a+b//\xff");
  // Too short to hold an escape: kept as is, nothing past the end is read.
  EXPECT_EQ(Decoded("ab%"), "ab%");
  EXPECT_EQ(Decoded("%4"), "%4");
  EXPECT_EQ(Decoded("%%"), "%%");
  // Non-hex digits count as 0.
  EXPECT_EQ(Decoded("%%41"), "\x04" "1");

  EXPECT_EQ(EscapeForUrl("a b&c"), "a%20b%26c");
  EXPECT_EQ(EscapeForUrl("% ?+&"), "%25%20%3f%2b%26");
  // Line breaks, control and 8-bit bytes never pass raw into a URL; the
  // already-URL form keeps "%", "?" and "&".
  EXPECT_EQ(EscapeForUrl("/x=y#~\r\n\x01\x7f\xe9"), "/x=y#~%0d%0a%01%7f%e9");
  EXPECT_EQ(EscapeUrlUnsafeBytes("/a%20b?c=d&e\r\n \x7f\xff"), "/a%20b?c=d&e%0d%0a%20%7f%ff");
  EXPECT_EQ(Decoded(EscapeForUrl("100% a+b?&\r\n\xe9")), "100% a+b?&\r\n\xe9");
}

TEST(TextUtilTest, Base64StandardVectors) {
  const char* const kPairs[][2] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foobar", "Zm9vYmFy"},
      {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="}};
  for (const auto& pair : kPairs) {
    EXPECT_EQ(Base64Encode(pair[0]), pair[1]);
    EXPECT_EQ(Base64Decode(pair[1]), pair[0]);
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(TextUtilTest, Base64LenientInput) {
  // A short final group reads as if padded.
  EXPECT_EQ(Base64Decode("Zm8"), "fo");
  EXPECT_EQ(Base64Decode("Q"), "\x40");
  // Characters outside the alphabet count as 0, like "A".
  EXPECT_EQ(Base64Decode("Zm*v"), Base64Decode("ZmAv"));
  EXPECT_EQ(Base64Decode("\x80\xff!!"), std::string(3, '\0'));
  // Padding is judged per group, even in the middle.
  EXPECT_EQ(Base64Decode("Zg==Zm9v"), "ffoo");
}

}  // namespace
}  // namespace brisvane
