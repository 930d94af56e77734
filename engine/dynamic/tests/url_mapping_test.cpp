// The one URL mapper against every kind of map: what a request for a URL
// is mapped to, what PATH_TRANSLATED and an extension's map request give
// for it, and how an include's "exec cgi" splits it must agree.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/core/mapping.h"
#include "engine/core/virtual_server.h"
#include "engine/dynamic/cgi_request_info.h"
#include "platform/system.h"

namespace brisvane {
namespace {

namespace fs = std::filesystem;

class UrlMappingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() / ("brisvane-mapping-" + std::to_string(platform::current_process_id()) +
                                        "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    for (const char* sub : {"htdocs/sub", "icons", "cgi", "wincgi", "isapi", "kept"}) fs::create_directories(dir_ / sub);
    for (const char* file : {"htdocs/doc.html", "icons/a.gif", "cgi/probe.exe", "wincgi/w.exe", "isapi/x.dll"})
      std::ofstream(dir_ / file) << "x";
    config_.doc_root = Path("htdocs");
    config_.redir = {{"/old", "http://example.com/new"}};
    config_.alias = {{"/icons", Path("icons")}, {"/old/keep", Path("kept")}};
    config_.cgi_bin = {{"/cgi-bin", Path("cgi")}};
    config_.cgi_win = {{"/cgi-win", Path("wincgi")}};
    config_.isapi_ext = {{"/isapi", Path("isapi")}};
    runtime_ = std::make_unique<VirtualServerRuntime>(config_, nullptr);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& relative) const { return (dir_ / relative).make_preferred().string(); }

  // The request path's mapping, its physical path in platform separators.
  Mapping Resolve(const std::string& url) {
    RequestContext ctx;
    ctx.virtual_server = runtime_.get();
    ctx.request.path = url;
    ResolvePath(*runtime_, ctx);
    if (ctx.mapping.kind != HandlerKind::kRedirection) ToPlatformSeparators(ctx.mapping.physical_path);
    return ctx.mapping;
  }

  // What HSE_REQ_MAP_URL_TO_PATH and an include's "virtual" are given.
  bool MapForOthers(const std::string& url, std::string* path) {
    RequestContext ctx;
    ctx.virtual_server = runtime_.get();
    return MapUrlToPhysicalPath(ctx, url, path);
  }

  // PATH_TRANSLATED of a script request for `url`.
  std::string PathTranslated(const std::string& url) {
    RequestContext ctx;
    ctx.virtual_server = runtime_.get();
    ctx.request.path = url;
    ResolvePath(*runtime_, ctx);
    std::string out = "unset";
    EXPECT_TRUE(LookupServerVariable(ctx, "PATH_TRANSLATED", &out));
    return out;
  }

  // The script request and the include's split of the same URL agree, and
  // name the script, its URL and the path information expected.
  void ExpectScript(const std::string& url, HandlerKind kind, const std::string& script, const std::string& script_url,
                    const std::string& path_info) {
    SCOPED_TRACE(url);
    const Mapping m = Resolve(url);
    EXPECT_EQ(m.kind, kind);
    EXPECT_EQ(m.physical_path, script);
    EXPECT_EQ(m.script_url, script_url);
    EXPECT_EQ(m.path_info, path_info);
    std::string physical;
    ASSERT_TRUE(MapForOthers(url, &physical));
    ScriptSplit split;
    ASSERT_TRUE(SplitScriptPath(physical, url, &split));
    EXPECT_EQ(split.script_path, m.physical_path);
    EXPECT_EQ(split.script_url, m.script_url);
    EXPECT_EQ(split.path_info, m.path_info);
  }

  fs::path dir_;
  VirtualServerConfig config_;
  std::unique_ptr<VirtualServerRuntime> runtime_;
};

TEST_F(UrlMappingTest, DocumentsAndAliasesMapAlikeForEveryCaller) {
  const struct {
    const char* url;
    std::string path;
  } cases[] = {
      {"/doc.html", Path("htdocs/doc.html")},
      {"/sub/", Path("htdocs/sub/")},
      {"/icons/a.gif", Path("icons/a.gif")},
      {"/ICONS/a.gif", Path("icons/a.gif")},
      {"/icons", Path("icons")},
      {"/iconsx/a.gif", Path("htdocs/iconsx/a.gif")},
      // An Alias longer than the Redir prefix wins over it.
      {"/old/keep/b.txt", Path("kept/b.txt")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const std::string expected = fs::path(c.path).make_preferred().string();
    const Mapping m = Resolve(c.url);
    EXPECT_EQ(m.kind, HandlerKind::kDocument);
    EXPECT_EQ(m.physical_path, expected);
    EXPECT_EQ(m.path_info, "");
    std::string path;
    ASSERT_TRUE(MapForOthers(c.url, &path));
    EXPECT_EQ(path, expected);
  }
  // The empty path is the document root itself; others get nothing for it.
  EXPECT_EQ(Resolve("").physical_path, Path("htdocs"));
  std::string path = "stale";
  EXPECT_FALSE(MapForOthers("", &path));
  EXPECT_EQ(path, "");
}

TEST_F(UrlMappingTest, RedirectionsNameNoPlaceOnDisk) {
  const Mapping m = Resolve("/old/a b");
  EXPECT_EQ(m.kind, HandlerKind::kRedirection);
  EXPECT_EQ(m.redirect_target, "http://example.com/new/a%20b");
  EXPECT_EQ(m.physical_path, m.redirect_target);
  std::string path = "stale";
  EXPECT_FALSE(MapForOthers("/old/a b", &path));
  EXPECT_EQ(path, "");
  // Path information that a Redir entry takes translates to nothing.
  EXPECT_EQ(PathTranslated("/cgi-bin/probe.exe/old/x"), "");
}

TEST_F(UrlMappingTest, ScriptMapsSplitOffPathInformationTheSameWayEverywhere) {
  ExpectScript("/cgi-bin/probe.exe/more/info", HandlerKind::kStdCgi, Path("cgi/probe.exe"), "/cgi-bin/probe.exe",
               "/more/info");
  ExpectScript("/cgi-bin/probe.exe", HandlerKind::kStdCgi, Path("cgi/probe.exe"), "/cgi-bin/probe.exe", "");
  ExpectScript("/cgi-win/w.exe/a", HandlerKind::kWinCgi, Path("wincgi/w.exe"), "/cgi-win/w.exe", "/a");
  ExpectScript("/isapi/x.dll/p/q", HandlerKind::kIsapi, Path("isapi/x.dll"), "/isapi/x.dll", "/p/q");
  // No script below the map: the map's own directory is what exists, and
  // the dispatcher refuses to run it.
  ExpectScript("/cgi-bin/missing/x", HandlerKind::kStdCgi, Path("cgi"), "/cgi-bin", "/missing/x");

  // PATH_TRANSLATED is the path information mapped like a request path:
  // through the document root, or through an alias.
  EXPECT_EQ(PathTranslated("/cgi-bin/probe.exe/more/info"),
            fs::path(Path("htdocs/more/info")).make_preferred().string());
  EXPECT_EQ(PathTranslated("/isapi/x.dll/icons/a.gif"), Path("icons/a.gif"));
  EXPECT_EQ(PathTranslated("/cgi-bin/probe.exe"), "");

  // Nothing that exists: no split.
  ScriptSplit split{"untouched", "", ""};
  EXPECT_FALSE(SplitScriptPath("nowhere" + std::string(1, platform::kPathSeparator) + "x", "/nowhere/x", &split));
  EXPECT_EQ(split.script_path, "untouched");
}

}  // namespace
}  // namespace brisvane
