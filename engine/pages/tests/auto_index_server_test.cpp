// Directory listings from a running engine: the page a client gets, its
// sort links, HEAD and POST, escaped names, and the two ways a listing is
// refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/core/tests/test_server.h"
#include "engine/pages/tests/pages_test_util.h"
#include "platform/file.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

namespace fs = std::filesystem;

// Names of the linked entries in page order.
std::vector<std::string> LinkedNames(const std::string& page) {
  std::vector<std::string> names;
  size_t pos = 0;
  while ((pos = page.find("<A HREF=\"", pos)) != std::string::npos) {
    size_t text = page.find("\">", pos) + 2;
    size_t end = page.find("</A>", text);
    names.push_back(page.substr(text, end - text));
    pos = end;
  }
  return names;
}

class ListingServerTest : public TestServer {
 protected:
  void SetUp() override {
    TestServer::SetUp();
    WriteFile("list/abc", "12345");
    WriteFile("list/big.bin", std::string(3000, 'b'));
    WriteFile("list/mid.txt", std::string(100, 'm'));
    WriteFile("list/zdir/inner.txt", "x");
    WriteFile("list/Adir/inner.txt", "x");
    WriteFile("MiXed/f.txt", "x");
    hidden_ = MakeHidden("list/.secret");
  }
  bool MakeHidden(const std::string& relative) {
    WriteFile(relative, "secret");
    std::string path = DocPath(relative);
    if (platform::file_attributes(path) & platform::kAttrHidden) return true;
    std::string command = "attrib +h \"" + path + "\"";
    if (std::system(command.c_str()) != 0) return false;
    return (platform::file_attributes(path) & platform::kAttrHidden) != 0;
  }
  std::string Page(const std::string& url) {
    Response r = Get("GET " + url + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(r.code, 200) << url;
    return r.body;
  }
  bool hidden_ = false;
};

TEST_F(ListingServerTest, DirectoryWithoutIndexIsListed) {
  StartServer();
  Response r = Get("GET /list/ HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_EQ(r.code, 200);
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 Document Follows");
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  EXPECT_EQ(r.body.rfind("<HTML><HEAD><TITLE>Index of /list/</TITLE></HEAD>\n"
                         "<BODY BGCOLOR=\"#FFFFFF\"><H1>Index of /list/</H1>\n"
                         "<a href=\"..\">[To Parent Directory]</a><br><PRE>   <a href=\"?N=A\">",
                         0),
            0u)
      << r.body;
  const std::string end = "</PRE>\n<HR><I>Brisvane</I></BODY></HTML>";
  EXPECT_EQ(r.body.substr(r.body.size() - end.size()), end);
  std::vector<std::string> names = LinkedNames(r.body);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Adir", "abc", "big.bin", "mid.txt", "zdir"}));
  EXPECT_TRUE(hidden_) << "the test could not make .secret hidden";
  EXPECT_NE(r.body.find("<A HREF=\"zdir/\">zdir</A>"), std::string::npos);
  EXPECT_NE(r.body.find("ALT=\"[DIR]\""), std::string::npos);
  EXPECT_NE(r.body.find("       3000\n"), std::string::npos);

  Response head = Get("HEAD /list/ HTTP/1.1\r\nHost: x\r\n\r\n", true);
  EXPECT_EQ(head.code, 200);
  EXPECT_EQ(head.Header("Content-Length"), r.Header("Content-Length"));

  Response post = Get("POST /list/ HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(post.code, 405);
  EXPECT_EQ(post.Header("Allow"), "GET, HEAD");

  std::string root = Page("/");
  EXPECT_EQ(root.find("[To Parent Directory]"), std::string::npos);
  EXPECT_NE(root.find("<TITLE>Index of /</TITLE>"), std::string::npos);
  std::string mixed = Page("/MiXed/");
  EXPECT_NE(mixed.find("<TITLE>Index of /mixed/</TITLE>"), std::string::npos) << mixed;
  EXPECT_NE(mixed.find("<H1>Index of /mixed/</H1>"), std::string::npos);
}

TEST_F(ListingServerTest, SortLinksReorderTheList) {
  StartServer();
  using V = std::vector<std::string>;
  auto letters = [](const std::string& page) {
    std::string l;
    for (const char* key : {"?N=", "?D=", "?S="}) l += page[page.find(key) + 3];
    return l;
  };
  std::string page = Page("/list/?N=A");
  EXPECT_EQ(LinkedNames(page), (V{"Adir", "zdir", "abc", "big.bin", "mid.txt"}));
  EXPECT_EQ(letters(page), "DAA");
  page = Page("/list/?n=d");
  EXPECT_EQ(LinkedNames(page), (V{"Adir", "zdir", "abc", "big.bin", "mid.txt"}));
  EXPECT_EQ(letters(page), "DAA");
  page = Page("/list/?S=D");
  V by_size = LinkedNames(page);
  ASSERT_EQ(by_size.size(), 5u);
  EXPECT_EQ(V(by_size.begin() + 2, by_size.end()), (V{"big.bin", "mid.txt", "abc"}));
  EXPECT_EQ(letters(page), "AAA");

  // Other queries keep the order in which the system enumerates.
  std::vector<platform::DirEntry> found;
  ASSERT_TRUE(platform::list_directory(DocPath("list"), &found));
  V enumerated;
  for (const auto& e : found)
    if (!(e.attributes & platform::kAttrHidden)) enumerated.push_back(e.name);
  EXPECT_EQ(LinkedNames(Page("/list/?N=AB")), enumerated);
  EXPECT_EQ(LinkedNames(Page("/list/?X=A")), enumerated);
  EXPECT_EQ(letters(Page("/list/?X=A")), "AAA");
}

TEST_F(ListingServerTest, NamesAreEscapedAndLinksWork) {
  WriteFile("list/a&b c.txt", "amp");
  bool script = static_cast<bool>(std::ofstream(fs::path(DocPath("list")) / "<script>.txt"));
  StartServer();
  std::string page = Page("/list/");
  EXPECT_NE(page.find("<A HREF=\"a%26b%20c.txt\">a&amp;b c.txt</A>"), std::string::npos) << page;
  EXPECT_EQ(Get("GET /list/a%26b%20c.txt HTTP/1.1\r\nHost: x\r\n\r\n").body, "amp");
  if (script) {  // Windows forbids "<" and ">" in names
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("<A HREF=\"&lt;script&gt;.txt\">&lt;script&gt;.txt</A>"), std::string::npos);
  }
}

class ListingOffTest : public ListingServerTest {
 protected:
  void Configure(ServerSettings& s) override {
    // An ending whose type is the listing handler: the one way a request
    // reaches it without the dispatcher's check of AutoIndex bit 0.
    s.type_map.insert(s.type_map.begin(), NamePair{"wwwserver/autoindex", ".idx"});
    s.virtual_servers[0].auto_index = 2;
  }
};

TEST_F(ListingOffTest, SwitchedOffAndUnreadable) {
  WriteFile("x.idx", "not a directory");
  StartServer();
  Response r = Get("GET /x.idx HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(r.status_line, "HTTP/1.1 500 Indexing Error");
  bool logged = false, engine_failure = false;
  for (const auto& l : HookLines()) {
    logged |= l == "Auto-Indexing Error on " + DocPath("x.idx");
    engine_failure |= l == "Auto-index engine failure: AddFiles";
  }
  EXPECT_TRUE(logged);
  EXPECT_FALSE(engine_failure) << "switched off is not a scan failure";

  // The dispatcher itself refuses a directory when bit 0 is clear.
  Response dir = Get("GET /list/ HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(dir.code, 404);

  RestartWith([](ServerSettings& s) {
    s.virtual_servers[0].auto_index = 3;
    s.send_version_info = true;
  });
  r = Get("GET /x.idx HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(r.status_line, "HTTP/1.1 500 Indexing Error");
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& l : HookLines())
      if (l == "Auto-index engine failure: AddFiles") return true;
    return false;
  }));
  std::string page = Get("GET /list/ HTTP/1.1\r\nHost: x\r\n\r\n").body;
  const std::string end = "</PRE>\n<HR><I>Brisvane/2.10</I></BODY></HTML>";
  ASSERT_GE(page.size(), end.size());
  EXPECT_EQ(page.substr(page.size() - end.size()), end);
}

}  // namespace
}  // namespace brisvane::testing
