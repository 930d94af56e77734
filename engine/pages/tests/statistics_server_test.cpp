// The statistics of a running engine: what real requests add, the page at
// "/~stats", the refusal at "/~admin", and QueryValue.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "engine/core/http_message.h"
#include "engine/core/tests/test_server.h"
#include "engine/pages/tests/pages_test_util.h"

namespace brisvane::testing {
namespace {

// Every counter of the record, for before/after comparisons.
struct Counters {
  uint32_t requests, sent, received, methods[8], redirections, use_cache, authorization, errors;
  explicit Counters(const Statistics& s)
      : requests(s.requests()), sent(s.bytes_sent()), received(s.bytes_received()),
        redirections(s.redirections()), use_cache(s.use_cache()),
        authorization(s.authorization_failures()), errors(s.errors()) {
    for (int i = 0; i < 8; ++i) methods[i] = s.method_count(i);
  }
};

// The counter lines of a page: label -> value.
std::map<std::string, uint32_t> PageCounters(const std::string& page) {
  std::map<std::string, uint32_t> values;
  static const std::regex line(R"((\S[^\n]{29})([ 0-9]{12})\n)");
  for (auto it = std::sregex_iterator(page.begin(), page.end(), line); it != std::sregex_iterator(); ++it) {
    std::string label = (*it)[1].str();
    label.erase(label.find_last_not_of(' ') + 1);
    values[label] = static_cast<uint32_t>(std::stoul((*it)[2].str()));
  }
  return values;
}

class StatsServerTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    WriteFile("page.html", "<html>hello</html>");
    WriteFile("dir/index.html", "index");
  }
  void Configure(ServerSettings& s) override {
    VirtualServerConfig first = s.virtual_servers[0];
    first.site_address = "first.example";
    first.admin_email = "boss@first.example";
    VirtualServerConfig second = first;
    second.site_address = "second.example";
    second.admin_email = "other@second.example";
    first.security_type = 0;  // read-only: PUT and DELETE are refused
    s.virtual_servers = {first, second};
  }
  // Every request of the test goes through here, so that the test knows
  // how many the engine has yet to count.
  Response Send(const std::string& raw, bool head_only = false) {
    ++sent_;
    return Get(raw, head_only);
  }
  // Waits until the engine has counted every request sent (it counts after
  // the client already has its answer).
  void Settle() {
    EXPECT_TRUE(WaitUntil([&] { return engine().statistics().requests() == sent_; }));
  }
  // What one request adds to each counter.
  Counters Delta(const std::string& raw, bool head_only = false, int* code = nullptr) {
    Settle();
    Counters before(engine().statistics());
    Response r = Send(raw, head_only);
    if (code) *code = r.code;
    Settle();
    Counters after(engine().statistics());
    after.requests -= before.requests;
    after.sent -= before.sent;
    after.received -= before.received;
    for (int i = 0; i < 8; ++i) after.methods[i] -= before.methods[i];
    after.redirections -= before.redirections;
    after.use_cache -= before.use_cache;
    after.authorization -= before.authorization;
    after.errors -= before.errors;
    return after;
  }
  uint32_t sent_ = 0;
};

TEST_F(StatsServerTest, EachAnswerIsCountedInItsClass) {
  StartServer();
  Response doc = Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n");
  struct Case {
    std::string request;
    int code;
    uint32_t redirections, use_cache, authorization, errors;
    int method;
  } cases[] = {
      {"GET /missing HTTP/1.1\r\n", 404, 0, 0, 0, 1, kMethodGet},
      {"GET /page.html HTTP/1.1\r\nIf-Modified-Since: " + doc.Header("Last-Modified") + "\r\n", 304, 0, 1, 0,
       0, kMethodGet},
      {"POST /page.html HTTP/1.1\r\nContent-Length: 4\r\n", 405, 0, 0, 0, 0, kMethodPost},
      {"DELETE /page.html HTTP/1.1\r\n", 403, 0, 0, 1, 0, kMethodDelete},  // a read-only server
      {"GET /dir HTTP/1.1\r\n", 302, 1, 0, 0, 0, kMethodGet},
      {"BREW /page.html HTTP/1.1\r\n", 501, 0, 0, 0, 1, 0},  // unknown methods count as 0
  };
  for (const Case& k : cases) {
    int code = 0;
    bool body = k.request.rfind("POST", 0) == 0;
    Counters c = Delta(k.request + "Host: x\r\n\r\n" + (body ? "abcd" : ""), k.code == 304, &code);
    EXPECT_EQ(code, k.code) << k.request;
    EXPECT_EQ(c.requests, 1u) << k.request;
    EXPECT_EQ(c.methods[k.method], 1u) << k.request;
    EXPECT_EQ(c.redirections, k.redirections) << k.request;
    EXPECT_EQ(c.use_cache, k.use_cache) << k.request;
    EXPECT_EQ(c.authorization, k.authorization) << k.request;
    EXPECT_EQ(c.errors, k.errors) << k.request;
    EXPECT_EQ(c.received, body ? 4u : 0u) << k.request;
  }
}

TEST_F(StatsServerTest, PageNamesTheFirstServerWhereverAsked) {
  StartServer();
  Response r = Get("GET /~stats HTTP/1.1\r\nHost: second.example\r\n\r\n");
  ASSERT_EQ(r.code, 200);
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 Document Follows");
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  EXPECT_EQ(r.body.rfind("<HTML><HEAD><TITLE>Brisvane Statistics for first.example</TITLE></HEAD>\n"
                         "<BODY BGCOLOR=\"#FFFFFF\"><CENTER><H1>Web Server Statistics for first.example</H1>"
                         "</CENTER><HR>\n<PRE>\nServer version is Brisvane\nServer last started on ",
                         0),
            0u)
      << r.body;
  EXPECT_NE(r.body.find("<A HREF=\"mailto:boss@first.example\"><ADDRESS>&lt;boss@first.example&gt;"
                        "</ADDRESS></A></BODY></HTML>"),
            std::string::npos);
  EXPECT_TRUE(std::regex_search(r.body, std::regex(R"(\nServer up time 0 months 0 days 0:\d\d:\d\d\n\n)")));
  EXPECT_EQ(PageCounters(r.body).size(), 17u) << "every counter line keeps the 30 + 12 column layout";
  // Only the exact path is special.
  EXPECT_EQ(Get("GET /~STATS HTTP/1.1\r\nHost: x\r\n\r\n").code, 404);
  EXPECT_EQ(Get("GET /~stats/ HTTP/1.1\r\nHost: x\r\n\r\n").code, 404);

  Response admin = Get("GET /~admin HTTP/1.1\r\nHost: second.example\r\n\r\n");
  EXPECT_EQ(admin.status_line, "HTTP/1.1 501 Not Implemented");
  EXPECT_NE(admin.body.find("501 Not Implemented"), std::string::npos) << admin.body;
}

TEST_F(StatsServerTest, QueryValueAndPageReadTheSameRecord) {
  StartServer();
  Send("GET /page.html HTTP/1.1\r\nHost: x\r\n\r\n");
  Send("PUT /up.txt HTTP/1.1\r\nHost: x\r\nContent-Length: 7\r\n\r\npayload");
  Send("GET /missing HTTP/1.1\r\nHost: x\r\n\r\n");
  Settle();
  auto query = [this](const char* name) {
    char buf[80];
    std::strcpy(buf, name);
    EXPECT_TRUE(engine().QueryValue(buf, sizeof buf)) << name;
    return static_cast<uint32_t>(std::stoul(buf));
  };
  uint32_t requests = query("NUM_REQUESTS"), sent = query("BYTES_SENT"),
           received = query("BYTES_RECEIVED");
  EXPECT_EQ(requests, 3u);
  EXPECT_EQ(received, 7u);
  EXPECT_GT(sent, 18u);
  // The page is built before its own request is counted.
  std::map<std::string, uint32_t> page = PageCounters(Get("GET /~stats HTTP/1.1\r\nHost: x\r\n\r\n").body);
  EXPECT_EQ(page["Total requests:"], requests);
  EXPECT_EQ(page["Bytes sent:"], sent);
  EXPECT_EQ(page["Bytes received:"], received);
  EXPECT_EQ(page["GET requests:"], 2u);
  EXPECT_EQ(page["PUT requests:"], 1u);
  EXPECT_EQ(page["Total Errors:"], 1u);
  EXPECT_EQ(page["CGI execs:"], 0u);
}

}  // namespace
}  // namespace brisvane::testing
