// The request target and version as the reader splits them, and the
// header lines it refuses to frame a message by.
#include "engine/core/request_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// The requests the reader takes from `raw`, sent whole over a loopback
// connection: the outcome of each read until one is not read, and the
// messages.
struct Reads {
  std::vector<ReadOutcome> outcomes;
  std::vector<std::unique_ptr<HttpMessage>> messages;
};

Reads ReadAll(const std::string& raw) {
  Reads reads;
  StartSockets();
  Socket listener, client;
  platform::SockAddrV4 addr;
  if (!listener.CreateStream() || !platform::parse_ipv4("127.0.0.1", &addr.addr)) return reads;
  if (!platform::socket_bind(listener.handle(), addr) || !listener.Listen(1) || !listener.LocalAddress(&addr))
    return reads;
  if (!client.CreateStream() || !client.Connect(addr)) return reads;
  std::unique_ptr<Socket> server(listener.Accept());
  if (!server || client.Send(raw.data(), raw.size()) != static_cast<int64_t>(raw.size())) return reads;
  client.Shutdown(1);  // the reader meets the end of the input, never waits
  server->SetReceiveTimeout(5000);
  for (;;) {
    reads.messages.push_back(std::make_unique<HttpMessage>());
    reads.outcomes.push_back(ReadRequest(*reads.messages.back(), *server, false));
    if (reads.outcomes.back().kind != ReadOutcome::kRead) return reads;
  }
}

// Lines a front end may read otherwise than the server does: each would
// let the bytes after it be framed as a request of their own.
TEST(RequestHeaders, AmbiguousHeaderLinesAreRefused) {
  const std::string head = "POST /a HTTP/1.1\r\nHost: x\r\n";
  const std::string smuggled = "GET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string length = std::to_string(smuggled.size());
  struct Case {
    std::string request;
    const char* why;
  } cases[] = {
      {head + "Content-Length\x0b: " + length + "\r\n\r\n", "vertical tab in the name"},
      {head + "Content Length: " + length + "\r\n\r\n", "blank inside the name"},
      {head + "Content-Length : " + length + "\r\n\r\n", "blank before the colon"},
      {head + "X-Note: a\r\n Content-Length: " + length + "\r\n\r\n", "continuation line"},
      {"GET /a HTTP/1.1\r\nHost: x\r\nX-Note: a\r\n\tb\r\n\r\n", "continuation line with a tab, no colon"},
      {"GET /a HTTP/1.1\r\n Host: x\r\n\r\n", "blank before the first header"},
      {"GET /a HTTP/1.1\r\nHost: x\r\n: x\r\n\r\n", "empty name"},
      {"GET /a HTTP/1.1\r\nHost: x\r\nHost: y\r\n\r\n", "two Host headers"},
      {"GET /a HTTP/1.1\r\nhost: x\r\nHOST: x\r\n\r\n", "two Host headers of one value"},
      {head + "Content-Length: " + length + "\r\nContent-Length: " + length + "\r\n\r\n",
       "two Content-Length headers of one value"},
  };
  for (const Case& c : cases) {
    const Reads reads = ReadAll(c.request + smuggled);
    ASSERT_FALSE(reads.outcomes.empty()) << c.why;
    EXPECT_EQ(reads.outcomes.size(), 1u) << c.why << ": read on after it";
    EXPECT_EQ(reads.outcomes[0].kind, ReadOutcome::kRefuse) << c.why;
    EXPECT_EQ(reads.outcomes[0].status, 400) << c.why;
    EXPECT_EQ(reads.messages[0]->parsed, 0) << c.why;
  }

  // What stays as it was: a line without a colon is skipped, any other
  // repeated header replaces the earlier one (in a chunked trailer too),
  // and a trailer cannot change the host.
  const Reads reads = ReadAll(
      "PUT /a HTTP/1.1\r\nHost: x\r\nno colon here\r\nAccept: a\r\nAccept: b\r\n"
      "Transfer-Encoding: chunked\r\n\r\n1\r\nz\r\n0\r\nHost: y\r\nAccept: c\r\n\r\n" +
      smuggled);
  ASSERT_EQ(reads.outcomes.size(), 3u);
  ASSERT_EQ(reads.outcomes[0].kind, ReadOutcome::kRead);
  const HttpMessage& put = *reads.messages[0];
  ASSERT_TRUE(put.Get(kHdrHost) && put.Get(kHdrAccept));
  EXPECT_EQ(*put.Get(kHdrHost), "x");
  EXPECT_EQ(*put.Get(kHdrAccept), "c");
  EXPECT_EQ(put.body.Size(), 1u);
  EXPECT_EQ(reads.messages[1]->path, "/smuggled") << "the next request is read as one";
  EXPECT_EQ(reads.outcomes[2].kind, ReadOutcome::kClose);
}

}  // namespace
}  // namespace brisvane
