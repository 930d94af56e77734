// Authentication and authorization as a client sees them over a socket:
// the three security types, every refusal with its status, challenge and
// log line, and which Authorization headers count.
#include <algorithm>
#include <string>
#include <vector>

#include "config/access_model.h"
#include "engine/core/http_message.h"
#include "engine/core/tests/test_server.h"
#include "engine/core/text_util.h"

namespace brisvane::testing {
namespace {

constexpr RightsMask kGet = MethodBit(kMethodGet);
constexpr RightsMask kPut = MethodBit(kMethodPut);

std::string Basic(const std::string& user_colon_password) {
  return "Authorization: Basic " + Base64Encode(user_colon_password) + "\r\n";
}

std::string Request(const std::string& method, const std::string& path, const std::string& extra = "") {
  std::string body = method == "PUT" ? "Content-Length: 4\r\n\r\nbody" : "\r\n";
  return method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extra + body;
}

AccessEntry Entry(const std::string& path, const std::string& realm,
                  std::vector<AccessPrincipal> principals) {
  AccessEntry e;
  e.path = path;
  e.realm = realm;
  e.principals = std::move(principals);
  return e;
}

class AuthTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    for (const char* f :
         {"page.html", "private/doc.txt", "uoc/doc.txt", "near/doc.txt", "quiet/dir/x", "list/dir/x"})
      WriteFile(f, "text");
  }

  // Access-list mode: realm "Staff" and one entry per situation.
  void StartAccessList() {
    const AccessPrincipal alice{kGet | kPut, PrincipalKind::kUser, "alice"};
    const AccessPrincipal everyone{kReadRights, PrincipalKind::kUser, "*"};
    VirtualServerConfig& vs = settings().virtual_servers[0];
    vs.security_type = 2;
    vs.realms = {{"Staff", "", {{"alice", "wonder:land"}, {"bob", "builder"}, {"token", ""}},
                  {{"readers", {"bob", "token"}}}}};
    vs.access_entries = {Entry("/private", "Staff", {alice, {kGet, PrincipalKind::kGroup, "readers"}}),
                         Entry("/denied", "Staff", {everyone}), Entry("/strict", "Staff", {everyone}),
                         Entry("/uoc", "Staff", {alice}),       Entry("/near", "Staff", {alice}),
                         Entry("/gone", "Gone", {everyone}),     Entry("/quiet", "Staff", {everyone}),
                         Entry("/list", "Staff", {everyone})};
    std::vector<AccessEntry>& e = vs.access_entries;
    e[1].deny = {"127."};
    e[2].allow = {"*"};
    e[2].deny = {"127.0."};
    e[2].allow_first = true;
    e[3].allow = {"10."};  // the client fails these host rules ...
    e[3].allow_first = e[3].user_or_class = true;
    e[4].allow = {"127.0.0.1"};  // ... and passes these
    e[4].allow_first = e[4].user_or_class = true;
    e[6].auto_index_disabled = true;
    StartServer();
  }

  int Count(const std::string& prefix) {
    std::vector<std::string> lines = HookLines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(AuthTest, OpenAndMasterUserModes) {
  settings().virtual_servers[0].security_type = 7;  // unknown types behave as open
  StartServer();
  EXPECT_EQ(Get(Request("GET", "/page.html")).code, 200);
  EXPECT_EQ(Get(Request("POST", "/page.html")).code, 405) << "POST reaches the handler";
  for (const char* method : {"PUT", "DELETE", "OPTIONS"})
    EXPECT_EQ(Get(Request(method, "/page.html", Basic("a:b"))).status_line,
              "HTTP/1.1 403 Access Denied") << method;

  RestartWith([](ServerSettings& s) {
    s.virtual_servers[0].security_type = 1;
    s.virtual_servers[0].master_user = "admin";
    s.virtual_servers[0].master_password = "p:w";
  });
  EXPECT_EQ(Get(Request("GET", "/page.html")).code, 200);
  for (const std::string& creds : {std::string(), Basic("admin:p:x"), Basic("Admin:p:w"), Basic("admin"),
                                   "Authorization: basic " + Base64Encode("admin:p:w") + "\r\n"}) {
    Response r = Get(Request("PUT", "/new.txt", creds));
    EXPECT_EQ(r.status_line, "HTTP/1.1 401 Access Denied") << creds;
    EXPECT_FALSE(r.HasHeader("WWW-Authenticate")) << creds;
  }
  EXPECT_EQ(Get(Request("PUT", "/new.txt", Basic("admin:p:w"))).code, 201);
  EXPECT_EQ(ReadFile("new.txt"), "body");

  // The default, empty master account lets every method through.
  RestartWith([](ServerSettings& s) {
    s.virtual_servers[0].master_user.clear();
    s.virtual_servers[0].master_password.clear();
  });
  EXPECT_EQ(Get(Request("DELETE", "/new.txt")).code, 200);
}

TEST_F(AuthTest, AccessListAnswers) {
  StartAccessList();
  const std::string challenge = "Basic realm=\"Staff\"";
  const std::string alice = Basic("alice:wonder:land");
  const std::string bob = Basic("bob:builder");
  struct Case {
    const char* method;
    const char* path;
    std::string header;
    const char* status;
    std::string www_authenticate;
  } cases[] = {
      {"GET", "/page.html", "", "200 Document Follows", ""},  // no entry: reads pass
      {"PUT", "/page.html", alice, "403 Forbidden", ""},
      {"GET", "/private/doc.txt", "", "401 Unauthorized", challenge},
      {"GET", "/PRIVATE/doc.txt", "", "401 Unauthorized", challenge},
      {"GET", "/private/doc.txt", Basic("alice:wonder"), "401 Unauthorized", challenge},
      {"GET", "/private/doc.txt", Basic("Alice:wonder:land"), "401 Unauthorized", challenge},
      {"GET", "/private/doc.txt", Basic("alice"), "401 Unauthorized", challenge},
      {"GET", "/private/doc.txt", "Authorization: basic " + Base64Encode("alice:wonder:land") + "\r\n",
       "401 Unauthorized", challenge},
      {"GET", "/private/doc.txt", "Authorization: dIgEsT username=\"alice\"\r\n", "401 Unauthorized",
       challenge},
      {"GET", "/private/doc.txt", bob, "200 Document Follows", ""},  // through the group
      {"PUT", "/private/doc.txt", bob, "401 Unauthorized", challenge},
      {"GET", "/private/doc.txt", Basic("token"), "200 Document Follows", ""},  // no colon: empty password
      {"PUT", "/private/doc.txt", alice, "200 Document written", ""},
      {"GET", "/denied/doc.txt", alice, "403 Forbidden", ""},
      {"GET", "/strict/doc.txt", alice, "403 Forbidden", ""},
      {"PUT", "/uoc/doc.txt", alice, "200 Document written", ""},
      {"GET", "/uoc/doc.txt", "", "401 Unauthorized", challenge},
      {"GET", "/near/doc.txt", "", "200 Document Follows", ""},
      {"PUT", "/near/doc.txt", "", "401 Unauthorized", challenge},
      {"GET", "/gone/doc.txt", alice, "500 Unable to find authentication realm", ""},
      {"GET", "/quiet/dir/", "", "404 Resource not found", ""},
  };
  for (const Case& c : cases) {
    Response r = Get(Request(c.method, c.path, c.header));
    const std::string label = std::string(c.method) + " " + c.path + " " + c.header;
    EXPECT_EQ(r.status_line, std::string("HTTP/1.1 ") + c.status) << label;
    EXPECT_EQ(r.Header("WWW-Authenticate"), c.www_authenticate) << label;
  }
  EXPECT_NE(Get(Request("GET", "/list/dir/")).code, 404) << "listing allowed where not disabled";
  EXPECT_EQ(ReadFile("private/doc.txt"), "body");

  EXPECT_EQ(Count("Forbidden by default"), 1);
  EXPECT_EQ(Count("Host denied"), 2);
  EXPECT_EQ(Count("Cannot find realm: Gone"), 1);
  EXPECT_EQ(Count("Digest: username=\"alice\""), 1);
  EXPECT_EQ(Count("Digest: "), 1);
  EXPECT_EQ(Count("User was authenticated: bob"), 2);
  EXPECT_EQ(Count("User was authenticated: alice"), 2) << "only the two writes with the right password";
}

TEST_F(AuthTest, CredentialsDoNotCarryOverOnAKeptAliveConnection) {
  StartAccessList();
  Client c(port());
  ASSERT_TRUE(c.Send(Request("GET", "/private/doc.txt", Basic("bob:builder")) +
                     Request("GET", "/private/doc.txt") + Request("GET", "/page.html")));
  Response first, second, third;
  ASSERT_TRUE(c.Read(&first) && c.Read(&second) && c.Read(&third));
  EXPECT_EQ(first.code, 200);
  EXPECT_EQ(second.code, 401);
  EXPECT_EQ(third.code, 200) << "a refusal keeps the connection";
}

}  // namespace
}  // namespace brisvane::testing
