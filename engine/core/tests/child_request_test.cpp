// Requests the server makes on behalf of a client's request (an included
// document): they go through mapping, access control and the handler
// table like a client's, and can never leave the document tree.
#include <string>

#include "engine/core/pipeline.h"
#include "engine/core/tests/test_server.h"

namespace brisvane::testing {
namespace {

class ChildRequestTest : public TestServer {
 protected:
  void Configure(ServerSettings& s) override {
    s.virtual_servers[0].alias.push_back({"/other", DocPath("elsewhere")});
  }

  // A parent as the connection handler would have it after admission.
  void MakeParent(RequestContext& parent) {
    parent.snapshot = engine().snapshot();
    parent.virtual_server = parent.snapshot->servers.front().get();
    parent.request.version = kHttp11;
    parent.request.Set(kHdrHost, "localhost");
    parent.request.local_address = "127.0.0.1";
    parent.request.remote_address = "127.0.0.1";
    parent.response.version = kHttp11;
  }

  RequestServices Services() {
    return RequestServices{engine().logs(), engine().statistics(), engine().handlers()};
  }

  std::string Body(RequestContext& child) {
    std::string text;
    BodyReader(child.response.body).ReadAll(&text, 1 << 20);
    return text;
  }
};

TEST_F(ChildRequestTest, RunsThroughMappingAndHandlersButStaysInTheTree) {
  WriteFile("part.html", "included part");
  WriteFile("dir/index.html", "directory default");
  WriteFile("elsewhere/aliased.txt", "through an alias");
  StartServer();
  RequestServices services = Services();
  RequestContext parent, child;
  MakeParent(parent);

  ASSERT_TRUE(RunChildRequest(services, parent, "/part.html?x=1", &child));
  EXPECT_EQ(child.response.status_code, 200);
  EXPECT_EQ(Body(child), "included part");
  EXPECT_EQ(child.request.query, "x=1");
  EXPECT_EQ(child.depth, 1);

  ASSERT_TRUE(RunChildRequest(services, parent, "/other/aliased.txt", &child));
  EXPECT_EQ(Body(child), "through an alias");
  ASSERT_TRUE(RunChildRequest(services, parent, "/dir/", &child));
  EXPECT_EQ(Body(child), "directory default");
  ASSERT_TRUE(RunChildRequest(services, parent, "/missing.html", &child));
  EXPECT_EQ(child.response.status_code, 404);

  // Escapes out of the tree are refused before anything is opened.
  for (const char* url : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/con", "part.html",
                          "http://elsewhere/part.html"}) {
    EXPECT_FALSE(RunChildRequest(services, parent, url, &child)) << url;
    EXPECT_GE(child.response.status_code, 400) << url;
  }

  // A chain of requests, each made on behalf of the one before, ends.
  RequestContext deep;
  MakeParent(deep);
  deep.depth = 8;
  EXPECT_FALSE(RunChildRequest(services, deep, "/part.html", &child));
  EXPECT_EQ(child.response.status_code, 500);
}

}  // namespace
}  // namespace brisvane::testing
