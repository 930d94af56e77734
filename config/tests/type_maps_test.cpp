// The built-in type map, associations and icons, and the lookups that every
// consumer applies to them.
#include "config/type_maps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"

namespace brisvane {

static void PrintTo(const NamePair& row, std::ostream* os) {
  *os << "(\"" << row.first << "\", \"" << row.second << "\")";
}

namespace {

ServerSettings WithDefaults() { return ServerSettings("dir", SettingsFlavor::kEngine); }

// Endings of `type` in the order the map lists them.
std::vector<std::string> EndingsOf(const NamePairList& map, const std::string& type) {
  std::vector<std::string> endings;
  for (const NamePair& row : map) {
    if (row.first == type) endings.push_back(row.second);
  }
  return endings;
}

TEST(TypeMapDefaultsTest, SeventyEightRowsGroupedByTypeInOrder) {
  ServerSettings s = WithDefaults();
  s.type_map = {{"x/leftover", ".left"}};
  ApplyTypeMapDefaults(&s);
  const NamePairList& map = s.type_map;
  ASSERT_EQ(map.size(), 78u);

  std::set<std::string> endings;
  std::vector<std::string> types;  // in first appearance
  for (const NamePair& row : map) {
    ASSERT_GE(row.second.size(), 2u) << row.first;
    EXPECT_EQ(row.second[0], '.') << row.second;
    EXPECT_TRUE(endings.insert(row.second).second) << "duplicate ending " << row.second;
    if (types.empty() || types.back() != row.first) {
      EXPECT_EQ(std::count(types.begin(), types.end(), row.first), 0)
          << row.first << " is split into two runs";
      types.push_back(row.first);
    }
  }
  EXPECT_EQ(types.size(), 50u);
  EXPECT_EQ(types.front(), "application/excel");
  EXPECT_EQ(types[25], "audio/aiff");
  EXPECT_EQ(types.back(), "wwwserver/redirection");

  EXPECT_EQ(EndingsOf(map, "application/octet-stream"),
            (std::vector<std::string>{".dll", ".exe", ".bin"}));
  EXPECT_EQ(EndingsOf(map, "text/plain"),
            (std::vector<std::string>{".c", ".cpp", ".def", ".h", ".txt"}));
  EXPECT_EQ(EndingsOf(map, "wwwserver/isapi"),
            (std::vector<std::string>{".asa", ".asp", ".cfm", ".dbm", ".isa", ".plx"}));
  EXPECT_EQ(EndingsOf(map, "wwwserver/stdcgi"), (std::vector<std::string>{".php", ".pl", ".cgi"}));
  EXPECT_EQ(map[1], (NamePair{"application/octet-stream", ".dll"}));
}

TEST(TypeMapLookupTest, ShorterEndingMatchesIgnoringCaseFirstRowWins) {
  const NamePairList map = WithDefaults().type_map;
  EXPECT_EQ(MimeTypeFor(map, "index.HTML"), "text/html");
  EXPECT_EQ(MimeTypeFor(map, "/pics/Photo.JPG"), "image/jpeg");
  EXPECT_EQ(MimeTypeFor(map, "page.shtml"), "wwwserver/html-ssi");
  EXPECT_EQ(MimeTypeFor(map, "backup.tar.gz"), "application/x-gzip");
  EXPECT_EQ(MimeTypeFor(map, "x.pdf"), "application/pdf");
  // An ending as long as the name is not an ending of it.
  EXPECT_EQ(MimeTypeFor(map, ".pdf"), kDefaultMediaType);
  EXPECT_EQ(MimeTypeFor(map, "README"), kDefaultMediaType);
  EXPECT_EQ(MimeTypeFor(map, ""), kDefaultMediaType);
  EXPECT_EQ(MimeTypeFor({}, "a.gif"), kDefaultMediaType);

  // Case folding is ASCII only.
  const NamePairList accented = {{"x/accent", ".\xE9"}};
  EXPECT_EQ(MimeTypeFor(accented, "file.\xC9"), kDefaultMediaType);
  EXPECT_EQ(MimeTypeFor(accented, "file.\xE9"), "x/accent");

  // List order decides, not the length of the ending.
  const NamePairList overlapping = {{"short", "z"}, {"long", ".gz"}};
  EXPECT_EQ(MimeTypeFor(overlapping, "a.gz"), "short");
  const NamePairList reversed = {{"long", ".gz"}, {"short", "z"}};
  EXPECT_EQ(MimeTypeFor(reversed, "a.gz"), "long");
  EXPECT_EQ(FindByEnding(reversed, "a.GZ", true), &reversed[0]);
  EXPECT_EQ(FindByEnding(reversed, "a.gz", false), nullptr) << "names are not endings here";
}

TEST(AssocMapTest, DefaultsFollowThePlatformAndLookUpByEnding) {
  ServerSettings s = WithDefaults();
  s.assoc_map.clear();
  ApplyAssocMapDefaults(&s);
  std::vector<std::string> endings;
  for (const NamePair& row : s.assoc_map) endings.push_back(row.first);
  EXPECT_EQ(endings, (std::vector<std::string>{".php", ".pl", ".plx", ".cgi", ".asa", ".asp",
                                               ".cfm", ".dbm"}));

  const std::string perl = AssociationFor(s.assoc_map, "/cgi-bin/Test.PL");
  if (platform::kPathSeparator == '/') {
    EXPECT_EQ(perl, "/usr/bin/perl");
    EXPECT_EQ(AssociationFor(s.assoc_map, "x.php"), "/usr/bin/php-cgi");
  } else {
    EXPECT_EQ(perl, "C:\\PERL\\BIN\\PERL.EXE");
    EXPECT_EQ(AssociationFor(s.assoc_map, "x.php"), "dir\\PHP\\PHP.EXE");
  }
  EXPECT_EQ(AssociationFor(s.assoc_map, "x.cgi"), perl);
  EXPECT_EQ(AssociationFor(s.assoc_map, "x.plx"), "C:\\PERL\\BIN\\PERLIS.DLL");
  EXPECT_EQ(AssociationFor(s.assoc_map, "x.asp"), AssociationFor(s.assoc_map, "x.asa"));
  EXPECT_EQ(AssociationFor(s.assoc_map, "x.dbm"), "C:\\CFUSION\\BIN\\ISCF.DLL");
  EXPECT_EQ(AssociationFor(s.assoc_map, "x.htm"), "");
  EXPECT_EQ(AssociationFor(s.assoc_map, ".pl"), "");
}

TEST(IconTest, LongestMatchingClassWins) {
  const NamePairList icons = {{"image", "/i.gif"},
                              {"image/gif", "/g.gif"},
                              {"IMAGE/G", "/x.gif"},
                              {"image/gif", "/dup.gif"}};
  EXPECT_EQ(IconFor(icons, "image/GIF"), "/g.gif");
  EXPECT_EQ(IconFor(icons, "image/g"), "/x.gif") << "a class longer than the type cannot match";
  EXPECT_EQ(IconFor(icons, "image/png"), "/i.gif");
  EXPECT_EQ(IconFor(icons, "text/plain"), "");
  EXPECT_EQ(IconFor({}, "image/gif"), "");
  const NamePairList reversed(icons.rbegin(), icons.rend());
  EXPECT_EQ(IconFor(reversed, "image/gif"), "/dup.gif") << "of equal lengths the first listed";

  ServerSettings s = WithDefaults();
  s.icons = {{"stale", "/stale.gif"}};
  ApplyIconDefaults(&s);
  ASSERT_EQ(s.icons.size(), 5u);
  EXPECT_EQ(s.icons[0], (NamePair{"folder", "/icons/folder.gif"}));
  EXPECT_EQ(IconFor(s.icons, "application/pdf"), "/icons/binary.gif");
  EXPECT_EQ(IconFor(s.icons, "Video/MPEG"), "/icons/video.gif");
  EXPECT_EQ(IconFor(s.icons, "audio/wav"), "/icons/audio.gif");
  EXPECT_EQ(IconFor(s.icons, "text/html"), "");
}

}  // namespace
}  // namespace brisvane
