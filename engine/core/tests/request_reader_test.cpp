// The request target and version as the reader splits them.
#include "engine/core/request_reader.h"

#include <gtest/gtest.h>

namespace brisvane {
namespace {

TEST(RequestTarget, PathQueryAndDecoding) {
  HttpMessage r;
  ASSERT_TRUE(ParseRequestTarget("/a%20b/./c/../d.html?x=%41&y", r));
  EXPECT_EQ(r.path, "/a b/d.html");
  EXPECT_EQ(r.query, "x=%41&y") << "the query stays undecoded";
  EXPECT_FALSE(r.absolute);
  HttpMessage empty_query;
  ASSERT_TRUE(ParseRequestTarget("/x?", empty_query));
  EXPECT_EQ(empty_query.query, "");
  HttpMessage dots;
  EXPECT_FALSE(ParseRequestTarget("/..", dots)) << "a path that normalises away fails the read";
  EXPECT_FALSE(ParseRequestTarget("?q", dots));
}

TEST(RequestTarget, AbsoluteUrlsAreRecognisedBeforeNormalising) {
  HttpMessage r;
  ASSERT_TRUE(ParseRequestTarget("http://Example.COM:8080//a//b?q=1", r));
  EXPECT_TRUE(r.absolute);
  EXPECT_EQ(r.scheme, "http");
  EXPECT_EQ(r.host, "Example.COM:8080");
  EXPECT_EQ(r.path, "/a/b");
  EXPECT_EQ(r.query, "q=1");
  HttpMessage bare;
  ASSERT_TRUE(ParseRequestTarget("http://host", bare));
  EXPECT_EQ(bare.path, "/");
  HttpMessage other;
  ASSERT_TRUE(ParseRequestTarget("ftp://h/x", other));
  EXPECT_EQ(other.scheme, "ftp") << "a foreign scheme makes a proxy request";
  // Only "scheme://" makes a URL absolute; anything else is a path, which
  // the URL check refuses unless normalising gives it a leading slash.
  for (const char* target : {"mailto:x", "x", "http:/x", "*"}) {
    HttpMessage relative;
    ASSERT_TRUE(ParseRequestTarget(target, relative)) << target;
    EXPECT_FALSE(relative.absolute) << target;
    EXPECT_EQ(relative.scheme, "http") << target;
    EXPECT_EQ(relative.path, target) << "kept whole for the URL check to refuse";
  }
  HttpMessage backslash;
  ASSERT_TRUE(ParseRequestTarget("\\sub\\a.txt", backslash));
  EXPECT_EQ(backslash.scheme, "http");
  EXPECT_EQ(backslash.path, "/sub/a.txt");
}

TEST(RequestVersion, MajorAndMinorFromLeadingDigits) {
  EXPECT_EQ(ParseVersion("HTTP/1.1"), 257u);
  EXPECT_EQ(ParseVersion("HTTP/1.0"), 256u);
  EXPECT_EQ(ParseVersion("HTTP/0.9"), 9u);
  EXPECT_EQ(ParseVersion("FOO/1.1"), 257u);
  EXPECT_EQ(ParseVersion("HTTP/1.2"), 258u);
  EXPECT_EQ(ParseVersion("HTTP/1.300"), 256u + 44u) << "minor modulo 256";
  EXPECT_EQ(ParseVersion("HTTP"), 0u);
  EXPECT_EQ(ParseVersion("HTTP/x.y"), 0u);
}

}  // namespace
}  // namespace brisvane
