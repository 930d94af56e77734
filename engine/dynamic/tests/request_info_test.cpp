// What a script learns about the listener its request came in on: the
// port, and whether the client spoke TLS. Standard CGI reads it from its
// environment, a Windows CGI program from its profile ("Server Port" is
// the record's SERVER_PORT), an include from its SERVER_PORT, an extension
// through GetServerVariable.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/core/virtual_server.h"
#include "engine/dynamic/cgi_request_info.h"
#include "engine/dynamic/script_process.h"

namespace brisvane {
namespace {

bool HasEntry(const std::array<char, kEnvironmentBlockSize>& block, size_t used, const std::string& entry) {
  // Every entry follows a NUL or starts the block, and ends with one.
  const std::string text = std::string(1, '\0') + std::string(block.data(), used);
  return text.find('\0' + entry + '\0') != std::string::npos;
}

TEST(RequestInfoTest, ScriptsLearnThePortAndSchemeOfTheirListener) {
  auto snapshot = std::make_shared<EngineSnapshot>();
  snapshot->settings.port = 8080;
  snapshot->settings.ssl_port = 8443;
  VirtualServerConfig config;
  config.use_error_template = false;
  snapshot->servers.push_back(std::make_unique<VirtualServerRuntime>(config, nullptr));

  for (bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "over TLS" : "plain HTTP");
    RequestContext ctx;
    ctx.snapshot = snapshot;
    ctx.virtual_server = snapshot->servers.front().get();
    ctx.secure = secure;
    ctx.request.method_name = "GET";
    ctx.request.path = "/cgi-bin/probe";
    ctx.request.version = kHttp11;
    const std::string port = secure ? "8443" : "8080";

    CgiRequestInfo info;
    FillCgiRequestInfo(ctx, &info);
    EXPECT_EQ(info.server_port, port);

    std::array<char, kEnvironmentBlockSize> block{};
    const size_t used = BuildEnvironmentBlock(info, "", block);
    EXPECT_TRUE(HasEntry(block, used, "SERVER_PORT=" + port));
    EXPECT_EQ(HasEntry(block, used, "HTTPS=on"), secure);
    EXPECT_EQ(std::string(block.data(), used).find("HTTPS") != std::string::npos, secure);

    std::string value = "stale";
    EXPECT_TRUE(LookupServerVariable(ctx, "SERVER_PORT", &value));
    EXPECT_EQ(value, port);
    EXPECT_TRUE(LookupServerVariable(ctx, "SERVER_PORT_SECURE", &value));
    EXPECT_EQ(value, secure ? "1" : "0");
    // Over plain HTTP the name stays unknown, as it always was.
    EXPECT_EQ(LookupServerVariable(ctx, "HTTPS", &value), secure);
    EXPECT_EQ(value, secure ? "on" : "");
  }
}

}  // namespace
}  // namespace brisvane
