// Directory listings without a server: the sort query, the order, the row
// layout with its padding, the scan with its icons, and the whole page.
#include "engine/pages/auto_index.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "engine/core/http_date.h"
#include "platform/file.h"
#include "platform/system.h"

namespace brisvane {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kFeb3 = 981173106;  // 2001-02-03 04:05:06 UTC

ListingEntry File(const std::string& name, uint32_t size, uint64_t time) {
  ListingEntry e;
  e.icon = "/icons/default.gif";
  e.name = name;
  e.size = size;
  e.last_write = time;
  return e;
}

ListingEntry Dir(const std::string& name, uint64_t time) {
  ListingEntry e = File(name, 0, time);
  e.icon = "/icons/folder.gif";
  e.is_directory = true;
  return e;
}

std::vector<std::string> Names(const std::vector<ListingEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

TEST(ListingOrderTest, OnlyThreeCharacterQueriesSelectAnOrder) {
  struct Case {
    const char* query;
    char key;
    bool descending;
  } cases[] = {{"N=A", 'N', false}, {"S=D", 'S', true},  {"n=d", 'N', false}, {"d=D", 'D', true},
               {"s=x", 'S', false}, {"N=AB", 0, false},  {"X=A", 0, false},  {"N-A", 0, false},
               {"", 0, false},      {"N=", 0, false},    {"D=D ", 0, false}};
  for (const Case& c : cases) {
    ListingOrder order = ParseListingOrder(c.query);
    EXPECT_EQ(order.key, c.key) << c.query;
    if (c.key) {
      EXPECT_EQ(order.descending, c.descending) << c.query;
    }
  }
}

TEST(ListingOrderTest, DirectoriesFirstThenByKey) {
  const std::vector<ListingEntry> listed = {File("c.txt", 30, 1), Dir("beta", 5),
                                            File("B.txt", 10, 3), File("a.txt", 20, 2),
                                            Dir("Alpha", 9),      File("_u", 5, 4)};
  auto sorted = [&listed](const char* query) {
    std::vector<ListingEntry> entries = listed;
    SortListing(&entries, ParseListingOrder(query));
    return Names(entries);
  };
  using V = std::vector<std::string>;
  // Case-folded byte order: "_" sorts before the letters.
  EXPECT_EQ(sorted("N=A"), (V{"Alpha", "beta", "_u", "a.txt", "B.txt", "c.txt"}));
  EXPECT_EQ(sorted("n=d"), sorted("N=A")) << "only an upper-case D descends";
  EXPECT_EQ(sorted("N=D"), (V{"beta", "Alpha", "c.txt", "B.txt", "a.txt", "_u"}));
  EXPECT_EQ(sorted("D=A"), (V{"beta", "Alpha", "c.txt", "a.txt", "B.txt", "_u"}));
  EXPECT_EQ(sorted("D=D"), (V{"Alpha", "beta", "_u", "B.txt", "a.txt", "c.txt"}));
  V by_size = sorted("S=D");
  EXPECT_EQ(V(by_size.begin() + 2, by_size.end()), (V{"c.txt", "a.txt", "B.txt", "_u"}));
  EXPECT_EQ(V(by_size.begin(), by_size.begin() + 2) == (V{"Alpha", "beta"}) ||
                V(by_size.begin(), by_size.begin() + 2) == (V{"beta", "Alpha"}),
            true)
      << "directories stay first even when the largest file is larger";
  EXPECT_EQ(sorted("N=AB"), Names(listed));
  EXPECT_EQ(sorted("X=A"), Names(listed));
}

TEST(ListingRowTest, LayoutAndPadding) {
  uint64_t t = FileTimeFromUnix(kFeb3);
  const std::string icon = "<IMG SRC=\"/icons/default.gif\" ALT=\"[   ]\" HEIGHT=\"16\" WIDTH=\"16\">";
  EXPECT_EQ(FormatListingRow(File("abc", 5, t), 0),
            icon + " <A HREF=\"abc\">abc</A>                       03-Feb-2001 04:05          5\n");
  // The filler makes every name 25 wide; longer names get none.
  for (size_t length : {24u, 25u, 40u}) {
    std::string name(length - 4, 'n');
    name += ".txt";
    std::string row = FormatListingRow(File(name, 4294967295u, t), 0);
    size_t filler = length < 25 ? 25 - length : 0;
    EXPECT_EQ(row, icon + " <A HREF=\"" + name + "\">" + name + "</A>" + std::string(filler, ' ') +
                       " 03-Feb-2001 04:05 4294967295\n")
        << length;
  }
  EXPECT_EQ(FormatListingRow(Dir("sub", t), 0),
            "<IMG SRC=\"/icons/folder.gif\" ALT=\"[DIR]\" HEIGHT=\"16\" WIDTH=\"16\"> "
            "<A HREF=\"sub/\">sub</A>                       03-Feb-2001 04:05          -\n");
  ListingEntry bare = File("x", 1, t);
  bare.icon.clear();
  EXPECT_EQ(FormatListingRow(bare, 0),
            " <A HREF=\"x\">x</A>                         03-Feb-2001 04:05          1\n");
}

TEST(ListingRowTest, LocalTimeFollowsTheBias) {
  uint64_t t = FileTimeFromUnix(kFeb3);
  // The date stands before a blank, the ten-wide size and the line end.
  auto date_of = [](const std::string& row) { return row.substr(row.size() - 29, 17); };
  auto date = [&](int32_t bias) { return date_of(FormatListingRow(File("abc", 1, t), bias)); };
  EXPECT_EQ(date(0), "03-Feb-2001 04:05");
  EXPECT_EQ(date(-330), "03-Feb-2001 09:35");
  EXPECT_EQ(date(300), "02-Feb-2001 23:05");
  EXPECT_EQ(date_of(FormatListingRow(File("abc", 1, FileTimeFromUnix(946684740)), -60)),
            "01-Jan-2000 00:59");
}

TEST(ListingRowTest, NamesAreShownNotRun) {
  uint64_t t = FileTimeFromUnix(kFeb3);
  std::string row = FormatListingRow(File("<script>alert(1)</script>", 1, t), 0);
  EXPECT_EQ(row.find("<script>"), std::string::npos) << row;
  EXPECT_NE(row.find("\"&lt;script&gt;alert(1)&lt;/script&gt;\">&lt;script&gt;alert(1)&lt;/script&gt;</A>"),
            std::string::npos)
      << row;
  // URL escape first (space, "&", "%", "+", "?"), then the attribute's own.
  row = FormatListingRow(File("a b&c\"d%+?.txt", 1, t), 0);
  EXPECT_NE(row.find("<A HREF=\"a%20b%26c&quot;d%25%2b%3f.txt\">a b&amp;c&quot;d%+?.txt</A>"),
            std::string::npos)
      << row;
  // Padding counts the name as shown, not its escaped form.
  EXPECT_NE(row.find("</A>" + std::string(25 - 14, ' ') + " 03-Feb"), std::string::npos) << row;
}

class ListingDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() / ("brisvane-listing-" + std::to_string(platform::current_process_id()) +
                                        "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub");
    Write("abc", "12345");
    Write("image.gif", "GIF89a");
    Write("README", "");
    settings_ = ServerSettings(dir_.string(), SettingsFlavor::kEngine);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }
  // Sets every entry's time. Files must take it; false when a directory
  // refuses (Windows C runtimes cannot set a directory's time).
  bool SetTimes(int64_t unix_seconds) {
    auto when = fs::file_time_type::clock::from_sys(
        std::chrono::sys_seconds{std::chrono::seconds{unix_seconds}});
    bool all = true;
    for (const auto& e : fs::directory_iterator(dir_)) {
      std::error_code ec;
      fs::last_write_time(e.path(), when, ec);
      EXPECT_TRUE(!ec || e.is_directory()) << e.path();
      all &= !ec;
    }
    return all;
  }
  std::string DirPath() const { return (dir_ / "").string(); }
  ListingRequest Request(const std::string& url, const std::string& query) const {
    ListingRequest r;
    r.url_path = url;
    r.directory = DirPath();
    r.query = query;
    r.auto_index = 3;
    r.type_map = &settings_.type_map;
    r.icons = &settings_.icons;
    return r;
  }

  fs::path dir_;
  ServerSettings settings_;
};

TEST_F(ListingDirTest, ScanFindsEntriesWithTheirIcons) {
  std::vector<ListingEntry> entries;
  ASSERT_TRUE(ScanDirectory(DirPath(), settings_.type_map, settings_.icons, &entries));
  std::map<std::string, ListingEntry> by_name;
  for (const auto& e : entries) by_name[e.name] = e;
  ASSERT_EQ(by_name.count("sub"), 1u);
  EXPECT_TRUE(by_name["sub"].is_directory);
  EXPECT_EQ(by_name["sub"].icon, "/icons/folder.gif");
  EXPECT_EQ(by_name["image.gif"].icon, "/icons/image.gif");
  EXPECT_EQ(by_name["README"].icon, "/icons/default.gif") << "text/html has no class by default";
  EXPECT_EQ(by_name["abc"].size, 5u);
  EXPECT_FALSE(by_name["abc"].is_directory);
  EXPECT_EQ(entries.size(), 4u);

  // A name with no known ending takes the icon of text/html; a missing
  // folder class falls back too.
  NamePairList icons = {{"text/html", "/icons/html.gif"}, {"image", "/icons/image.gif"}};
  ASSERT_TRUE(ScanDirectory(DirPath(), settings_.type_map, icons, &entries));
  for (const auto& e : entries) {
    if (e.name == "README") {
      EXPECT_EQ(e.icon, "/icons/html.gif");
    }
    if (e.name == "sub") {
      EXPECT_EQ(e.icon, "/icons/default.gif");
    }
  }
  EXPECT_FALSE(ScanDirectory((dir_ / "missing" / "").string(), settings_.type_map, icons, &entries));
  EXPECT_FALSE(ScanDirectory((dir_ / "abc").string(), settings_.type_map, icons, &entries))
      << "a file is not a directory";
}

TEST_F(ListingDirTest, WholePageByteForByte) {
  bool directory_time = SetTimes(kFeb3);
  std::string page = BuildListingPage(Request("/Docs/Sub/", "N=A"), 0, nullptr);
  if (!directory_time) {
    // The directory keeps its own time: check its layout, then compare the rest.
    size_t at = page.find("<A HREF=\"sub/\">sub</A>") + 22 + 23;
    ASSERT_LT(at + 17, page.size());
    EXPECT_TRUE(std::regex_match(page.substr(at, 17), std::regex(R"(\d\d-[A-Z][a-z]{2}-\d{4} \d\d:\d\d)")))
        << page.substr(at, 17);
    page.replace(at, 17, "03-Feb-2001 04:05");
  }
  EXPECT_EQ(page,
            "<HTML><HEAD><TITLE>Index of /docs/sub/</TITLE></HEAD>\n"
            "<BODY BGCOLOR=\"#FFFFFF\"><H1>Index of /docs/sub/</H1>\n"
            "<a href=\"..\">[To Parent Directory]</a><br>"
            "<PRE>   <a href=\"?N=D\">Name</a>                      <a href=\"?D=A\">Last Modified</a>"
            "           <a href=\"?S=A\">Size</a><HR>\n"
            "<IMG SRC=\"/icons/folder.gif\" ALT=\"[DIR]\" HEIGHT=\"16\" WIDTH=\"16\"> <A HREF=\"sub/\">sub</A>"
            "                       03-Feb-2001 04:05          -\n"
            "<IMG SRC=\"/icons/default.gif\" ALT=\"[   ]\" HEIGHT=\"16\" WIDTH=\"16\"> <A HREF=\"abc\">abc</A>"
            "                       03-Feb-2001 04:05          5\n"
            "<IMG SRC=\"/icons/image.gif\" ALT=\"[   ]\" HEIGHT=\"16\" WIDTH=\"16\"> <A HREF=\"image.gif\">"
            "image.gif</A>                 03-Feb-2001 04:05          6\n"
            "<IMG SRC=\"/icons/default.gif\" ALT=\"[   ]\" HEIGHT=\"16\" WIDTH=\"16\"> <A HREF=\"README\">"
            "README</A>                    03-Feb-2001 04:05          0\n"
            "</PRE>\n<HR><I>Brisvane</I></BODY></HTML>");

  page = BuildListingPage(Request("/<b>&\"/", ""), 0, nullptr);
  EXPECT_NE(page.find("<TITLE>Index of /&lt;b&gt;&amp;&quot;/</TITLE>"), std::string::npos) << page;
  EXPECT_NE(page.find("<H1>Index of /&lt;b&gt;&amp;&quot;/</H1>"), std::string::npos);
}

}  // namespace
}  // namespace brisvane
