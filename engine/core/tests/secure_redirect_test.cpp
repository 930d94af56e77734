// Clients sent to the TLS listener: a plain-HTTP request to a virtual
// server that wants TLS only is answered with a permanent redirect before
// anything of the site is looked at, and the server's own redirects keep
// the scheme and port of the listener a request came in on.
#include <string>

#include "engine/core/authorization.h"
#include "engine/core/pipeline.h"
#include "engine/core/tests/test_server.h"
#include "engine/pages/tests/pages_test_util.h"

namespace brisvane::testing {
namespace {

class SecureRedirectTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    VirtualServerConfig& tls_only = s.virtual_servers[0];
    tls_only.site_address = "www.example.org";
    tls_only.use_ssl = true;
    tls_only.redirect_to_ssl = true;
    // Everything asks for a password: a redirect that came after the
    // password check would be a 401.
    tls_only.security_type = kSecurityMasterUser;
    tls_only.master_user = "boss";
    tls_only.master_password = "secret";
    VirtualServerConfig both = s.virtual_servers[0];
    both.site_address = "both.example.org";
    both.redirect_to_ssl = false;
    both.security_type = kSecurityOpen;
    VirtualServerConfig no_tls = both;
    no_tls.site_address = "plain.example.org";
    no_tls.use_ssl = false;
    no_tls.redirect_to_ssl = true;  // means nothing without a TLS listener for it
    s.virtual_servers.push_back(both);
    s.virtual_servers.push_back(no_tls);
  }

  std::string LocationOf(const std::string& raw) {
    Response r = Get(raw);
    EXPECT_EQ(r.code, 301) << raw;
    EXPECT_NE(r.status_line.find(" 301 Moved Permanently"), std::string::npos) << r.status_line;
    return r.Header("Location");
  }

  RequestServices Services() { return RequestServices{engine().logs(), engine().statistics(), engine().handlers()}; }

  // A parent request as the connection handler would have it, for the
  // virtual server `index`.
  void MakeParent(RequestContext& parent, size_t index, bool secure) {
    parent.snapshot = engine().snapshot();
    parent.virtual_server = parent.snapshot->servers.at(index).get();
    parent.secure = secure;
    parent.request.version = kHttp11;
    parent.request.Set(kHdrHost, "both.example.org");
    parent.request.local_address = "127.0.0.1";
    parent.request.remote_address = "127.0.0.1";
    parent.response.version = kHttp11;
  }
};

TEST_F(SecureRedirectTest, PlainRequestsToATlsOnlyServerAreSentToTheSameUrlOverTls) {
  WriteFile("docs/a b.html", "the document");
  StartServer();

  // The host the client asked for, without its port; the path escaped,
  // the query as it came. Nothing was mapped: a missing document is no 404.
  EXPECT_EQ(LocationOf("GET /gone/a%20b.html?x=1&y=%C3%A9 HTTP/1.1\r\nHost: www.example.org:8080\r\n\r\n"),
            "https://www.example.org/gone/a%20b.html?x=1&y=%C3%A9");
  // No Host, or one that is no plain name: the virtual server's own name.
  EXPECT_EQ(LocationOf("GET /docs/ HTTP/1.0\r\n\r\n"), "https://www.example.org/docs/");
  EXPECT_EQ(LocationOf("GET /p HTTP/1.0\r\nHost: evil.example/x?\r\n\r\n"), "https://www.example.org/p");
  EXPECT_EQ(LocationOf("GET / HTTP/1.0\r\nHost: [::1]:8080\r\n\r\n"), "https://[::1]/");

  // A server that also answers plain HTTP serves, and so does one whose
  // redirect has no TLS listener to lead to.
  for (const char* host : {"both.example.org", "plain.example.org"}) {
    Response r = Get("GET /docs/a%20b.html HTTP/1.1\r\nHost: " + std::string(host) + "\r\n\r\n");
    EXPECT_EQ(r.code, 200) << host;
    EXPECT_EQ(r.body, "the document") << host;
  }

  // The redirect is an answered request like any other.
  EXPECT_TRUE(WaitUntil([&] {
    int redirects = 0;
    for (const std::string& line : LogLines(settings().access_log_file_name))
      if (line.find(" 301 ") != std::string::npos) ++redirects;
    return redirects == 4;
  }));

  RestartWith([](ServerSettings& s) { s.ssl_port = 8443; });
  EXPECT_EQ(LocationOf("GET /docs/?q=1 HTTP/1.1\r\nHost: www.example.org\r\n\r\n"),
            "https://www.example.org:8443/docs/?q=1");
}

// A directory named without its "/" is sent to the name with it, on the
// listener the request came in on.
TEST_F(SecureRedirectTest, DirectoryRedirectKeepsTheListenerOfTheRequest) {
  WriteFile("dir/index.html", "directory default");
  StartServer();
  auto location = [&](bool secure) {
    RequestServices services = Services();
    RequestContext parent, child;
    MakeParent(parent, 1, secure);
    EXPECT_TRUE(RunChildRequest(services, parent, "/dir?q=1", &child));
    EXPECT_EQ(child.response.status_code, 302);
    const std::string* value = child.response.Get(kHdrLocation);
    return value ? *value : std::string();
  };
  EXPECT_EQ(location(true), "https://both.example.org/dir/?q=1");
  EXPECT_EQ(location(false), "http://both.example.org:" + std::to_string(port()) + "/dir/?q=1");

  RestartWith([](ServerSettings& s) { s.ssl_port = 8443; });
  EXPECT_EQ(location(true), "https://both.example.org:8443/dir/?q=1");
}

}  // namespace
}  // namespace brisvane::testing
