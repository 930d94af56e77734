// Small documents kept in memory must never be served stale: written in
// place with the same size, replaced, rewritten by PUT or deleted, the next
// request sees the file as it is now.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/core/tests/test_server.h"

namespace brisvane::testing {
namespace {

class KeptDocumentTest : public TestServer {
 protected:
  // Master-user security without a master user lets PUT through.
  void Configure(ServerSettings& s) override { s.virtual_servers[0].security_type = 1; }
  std::string Body(const std::string& path) {
    Response r = Get("GET " + path + " HTTP/1.0\r\n\r\n");
    return r.code == 200 ? r.body : std::to_string(r.code);
  }
  // Files are kept only once they have not changed for a while.
  void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2200)); }
};

TEST_F(KeptDocumentTest, ChangedReplacedOrDeletedDocumentsAreNeverServedStale) {
  WriteFile("a.txt", "first");
  StartServer();
  Settle();
  ASSERT_EQ(Body("/a.txt"), "first");
  ASSERT_EQ(Body("/a.txt"), "first");

  WriteFile("a.txt", "secnd");  // same size, same file, at once
  EXPECT_EQ(Body("/a.txt"), "secnd");

  Settle();
  ASSERT_EQ(Body("/a.txt"), "secnd");
  WriteFile("b.tmp", "third");
  std::filesystem::rename(DocPath("b.tmp"), DocPath("a.txt"));
  EXPECT_EQ(Body("/a.txt"), "third");

  // A kept document is still a document: ranges, HEAD and conditions.
  Settle();
  ASSERT_EQ(Body("/a.txt"), "third");
  Response range = Get("GET /a.txt HTTP/1.0\r\nRange: bytes=1-2\r\n\r\n");
  EXPECT_EQ(range.code, 206);
  EXPECT_EQ(range.body, "hi");
  Response head = Get("HEAD /a.txt HTTP/1.0\r\n\r\n", true);
  EXPECT_EQ(head.Header("Content-Length"), "5");
  Response cond = Get("GET /a.txt HTTP/1.0\r\nIf-Modified-Since: " + head.Header("Last-Modified") + "\r\n\r\n", true);
  EXPECT_EQ(cond.code, 304);

  Response put = Get("PUT /a.txt HTTP/1.0\r\nContent-Length: 6\r\n\r\nfourth");
  EXPECT_EQ(put.code, 200);
  EXPECT_EQ(Body("/a.txt"), "fourth");

  Settle();
  ASSERT_EQ(Body("/a.txt"), "fourth");
  std::filesystem::remove(DocPath("a.txt"));
  EXPECT_EQ(Body("/a.txt"), "404");
}

}  // namespace
}  // namespace brisvane::testing
