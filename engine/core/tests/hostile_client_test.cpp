// What a hostile client can make the server write: header lines through a
// redirection target, error-page bodies after HEAD on a kept connection,
// and whole lines or shifted fields in the logs.
#include <filesystem>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include "config/access_model.h"
#include "engine/core/http_message.h"
#include "engine/core/response_writer.h"
#include "engine/core/tests/test_server.h"
#include "engine/core/text_util.h"
#include "engine/pages/tests/pages_test_util.h"

namespace brisvane::testing {
namespace {

std::string Basic(const std::string& user_colon_password) {
  return "Authorization: Basic " + Base64Encode(user_colon_password) + "\r\n";
}

AccessEntry Entry(const std::string& path, const std::string& realm, std::vector<AccessPrincipal> principals) {
  AccessEntry e;
  e.path = path;
  e.realm = realm;
  e.principals = std::move(principals);
  return e;
}

#ifndef _WIN32
// A directory whose name Windows would refuse (control bytes, "?").
bool MakeDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::create_directory(path, ec) && !ec;
}
#endif

class RedirectionTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    s.virtual_servers[0].redir = {{"/old", "http://elsewhere.example/new"}};
  }
  std::string Here() { return "http://localhost:" + std::to_string(port()); }
  // The Location of a 302; a URL check that refuses the path outright (400)
  // is as good, and gives "".
  std::string LocationOf(const std::string& target) {
    Response r = Get("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_FALSE(r.HasHeader("Set-Cookie")) << target;
    EXPECT_TRUE(r.code == 302 || r.code == 400) << target << ": " << r.status_line;
    return r.code == 302 ? r.Header("Location") : std::string();
  }
};

TEST_F(RedirectionTest, LocationCarriesNoClientHeaderOrControlByte) {
  WriteFile("link.url", "; saved by a browser\r\n[InternetShortcut]\r\nURL=http://target.example/a b\x01\xe9?q=1&r=2\r\n");
  WriteFile("bare.url", "[InternetShortcut]\rURL=http://target.example/x\rSet-Cookie: a=b\r\n");
  WriteFile("elsewhere.url", "[Other]\r\nURL=http://nowhere.example/\r\n[InternetShortcut]\r\nIconIndex=0\r\n");
#ifndef _WIN32
  // Names Windows does not allow; elsewhere they are ordinary folders.
  ASSERT_TRUE(MakeDirectory(DocPath("d\x01")));
  ASSERT_TRUE(MakeDirectory(DocPath("a?b")));
#endif
  StartServer();

  // A line break in the path is refused outright, so no header can be
  // made of it.
  Response crlf = Get("GET /old/%0d%0aSet-Cookie:%20a=b HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(crlf.code, 400);
  EXPECT_FALSE(crlf.HasHeader("Set-Cookie"));
  EXPECT_FALSE(crlf.HasHeader("Location"));
  // The client's query keeps its "?" and "&"; the path's 8-bit byte does not pass raw.
  EXPECT_EQ(LocationOf("/old/%e9?x=1&y=2"), "http://elsewhere.example/new/%e9?x=1&y=2");
#ifndef _WIN32
  // Any other control byte stays escaped in the Location.
  EXPECT_EQ(LocationOf("/d%01"), Here() + "/d%01/");
  // A "?" that came from %3F is part of the directory's name.
  EXPECT_EQ(LocationOf("/a%3Fb"), Here() + "/a%3fb/");
  EXPECT_EQ(LocationOf("/a%3Fb?x=1"), Here() + "/a%3fb/?x=1");
#endif

  // An Internet Shortcut sends the client to its URL, never to the file.
  EXPECT_EQ(LocationOf("/link.url"), "http://target.example/a%20b%01%e9?q=1&r=2");
  EXPECT_EQ(LocationOf("/bare.url"), "http://target.example/x");
  Response r = Get("GET /elsewhere.url HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(r.code, 500);
  EXPECT_FALSE(r.HasHeader("Location"));
  EXPECT_EQ(r.head.find(root().string()), std::string::npos);
  EXPECT_EQ(r.body.find(root().string()), std::string::npos);
  bool logged = false;
  for (const auto& line : HookLines()) logged |= line.rfind("No URL in Internet Shortcut", 0) == 0;
  EXPECT_TRUE(logged);
}

TEST(ResponseHeadTest, HeaderValuesEndAtALineBreak) {
  HttpMessage r;
  r.version = kHttp11;
  r.SetStatus(302, "Moved\r\nX-Status: forged");
  r.Set(kHdrLocation, "http://x/\r\nSet-Cookie: a=b");
  r.extra_headers().emplace("X-Extra", "one\ntwo");
  EXPECT_EQ(FormatResponseHead(r), "HTTP/1.1 302 Moved\r\nLocation: http://x/\r\nX-Extra: one\r\n\r\n");
}

class HeadTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    VirtualServerConfig& vs = s.virtual_servers[0];
    vs.security_type = 2;
    vs.realms = {{"Staff", "", {{"alice", "secret"}}, {}}};
    AccessEntry denied = Entry("/denied", "Staff", {{kReadRights, PrincipalKind::kUser, "*"}});
    denied.deny = {"127."};
    vs.access_entries = {Entry("/private", "Staff", {{MethodBit(kMethodGet), PrincipalKind::kUser, "alice"}}),
                         denied, Entry("/gone", "Gone", {{kReadRights, PrincipalKind::kUser, "*"}})};
  }
};

TEST_F(HeadTest, NoBodyOnAnyPathOfAKeptConnection) {
  for (const char* f : {"page.html", "private/doc.txt", "denied/doc.txt", "gone/doc.txt"}) WriteFile(f, "text");
  StartServer();
  struct Case {
    const char* path;
    int code;
  } cases[] = {{"/missing", 404}, {"/private/doc.txt", 401}, {"/denied/doc.txt", 403},
               {"/gone/doc.txt", 500},  {"/~admin", 501},          {"/page.html", 200}};
  Client c(port());
  ASSERT_TRUE(c.connected());
  for (const Case& k : cases) {
    Response get = Get("GET " + std::string(k.path) + " HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_EQ(get.code, k.code) << k.path;
    ASSERT_FALSE(get.body.empty()) << k.path;
    Response head;
    ASSERT_TRUE(c.Send("HEAD " + std::string(k.path) + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(c.Read(&head, true)) << k.path;
    EXPECT_EQ(head.status_line.rfind("HTTP/1.1 " + std::to_string(k.code) + " ", 0), 0u)
        << k.path << ": " << head.status_line;
    EXPECT_EQ(head.Header("Content-Length"), std::to_string(get.body.size())) << k.path;
  }
  // Nothing was left between the responses: the last one is whole and the
  // line is quiet after it.
  Response after;
  ASSERT_TRUE(c.Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n"));
  ASSERT_TRUE(c.Read(&after));
  EXPECT_EQ(after.status_line, "HTTP/1.1 200 Document Follows");
  EXPECT_EQ(after.body, "text");
  EXPECT_FALSE(c.socket().WaitReadable(200));
}

class ForgedLogTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    VirtualServerConfig& vs = s.virtual_servers[0];
    vs.security_type = 2;
    vs.realms = {{"Staff", "", {{"ann lee", "pw"}, {"alice", "wonder"}}, {}}};
    vs.access_entries = {Entry("/private", "Staff",
                               {{MethodBit(kMethodGet), PrincipalKind::kUser, "ann lee"},
                                {MethodBit(kMethodGet), PrincipalKind::kUser, "alice"}})};
  }
  // Sends one request and waits for its access line.
  int Request(const std::string& raw) {
    Response r = Get(raw);
    ++requests_;
    EXPECT_TRUE(WaitUntil([&] { return LogLines(settings().access_log_file_name).size() >= requests_; })) << raw;
    return r.code;
  }
  size_t requests_ = 0;
};

TEST_F(ForgedLogTest, ClientTextCannotForgeLinesOrFields) {
  WriteFile("page.html", "x");
  WriteFile("private/doc.txt", "x");
  StartServer();
  const std::string doc = "GET /private/doc.txt HTTP/1.0\r\n";
  EXPECT_EQ(Request(doc + Basic("evil - [01/Jan/2000:00:00:00 +0000]\r\n10.9.9.9 x:pw") + "\r\n"), 401);
  EXPECT_EQ(Request(doc + Basic("ann lee:pw") + "\r\n"), 200);
  EXPECT_EQ(Request(doc + Basic("alice:wrong") + "\r\n"), 401);
  EXPECT_EQ(Request(doc + Basic(std::string("alice:wonder\0", 13)) + "\r\n"), 401);
  // Not found, or (Windows) not a valid name: either way an "Error reading" line.
  // (A CR or LF in a path is refused before it could reach a log.)
  int missing = Request("GET /missing%1b10.9.9.9%20[forged]%09%7f HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(missing == 404 || missing == 500) << missing;
  EXPECT_EQ(Request("GET /page.html HTTP/1.0\r\nAuthorization: Digest a\x1b[2Jb\xff\r\n\r\n"), 200);

  // One line per request, and the user field names only a user who proved it.
  std::vector<std::string> users;
  const std::regex access(R"(127\.0\.0\.1 localhost (\S+) \[[^\]]+\] "[^"]*" \d{3} \S+ "[^"]*" "[^"]*")");
  for (const auto& line : LogLines(settings().access_log_file_name)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, access)) << line;
    users.push_back(m[1]);
  }
  EXPECT_EQ(users, (std::vector<std::string>{"-", "ann\\x20lee", "-", "-", "-", "-"}));

  // Every error and trace line starts as the server writes it, and the
  // client's bytes are there, written out.
  engine().Flush();
  bool path = false, digest = false;
  for (const auto& line : LogLines(settings().error_log_file_name)) {
    EXPECT_TRUE(line.rfind("127.0.0.1 [", 0) == 0 || line.rfind("LOCAL SYSTEM ERROR  [", 0) == 0) << line;
    path |= line.find("missing\\x1b10.9.9.9 [forged]\\x09\\x7f\" - ") != std::string::npos;
  }
  for (const auto& line : LogLines(settings().trace_log_file_name)) {
    EXPECT_TRUE(line.rfind("127.0.0.1 [", 0) == 0 || line.rfind("No Request Data [", 0) == 0) << line;
    digest |= line.find("Digest: a\\x1b[2Jb\\xff") != std::string::npos;
  }
  EXPECT_TRUE(path);
  EXPECT_TRUE(digest);
  for (const std::string& file : {settings().access_log_file_name, settings().error_log_file_name,
                                  settings().trace_log_file_name}) {
    std::string text = ReadWhole(file);
    for (size_t i = 0; i < text.size(); ++i) {
      auto c = static_cast<unsigned char>(text[i]);
      bool line_end = (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ||
                      (c == '\n' && i > 0 && text[i - 1] == '\r');
      ASSERT_TRUE(line_end || (c >= 32 && c <= 126)) << file << " byte " << i << " is " << int(c);
    }
  }
}

}  // namespace
}  // namespace brisvane::testing
