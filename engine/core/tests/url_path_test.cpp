#include "engine/core/url_path.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/core/text_util.h"

namespace brisvane {
namespace {

std::string Normalized(std::string path) {
  NormalizePath(path);
  return path;
}

bool Safe(const std::string& path) { return IsSafePath(&path); }

// The normalisation rules applied literally, one pass after another and
// always restarting from the left: slow, but easy to check by eye, so the
// fast version can be compared against it.
size_t FindAtSegmentStart(const std::string& text, const char* what) {
  for (size_t i = text.find(what); i != std::string::npos;
       i = text.find(what, i + 1)) {
    if (i == 0 || text[i - 1] == '/') return i;
  }
  return std::string::npos;
}

// Start of the segment that ends just before the "/" at `slash`.
size_t SegmentStart(const std::string& text, size_t slash) {
  const size_t prev = slash == 0 ? std::string::npos : text.rfind('/', slash - 1);
  return prev == std::string::npos ? 0 : prev + 1;
}

std::string LiteralNormalized(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  for (size_t i; (i = text.find("//")) != std::string::npos;) text.erase(i, 1);

  for (size_t i; (i = FindAtSegmentStart(text, "./")) != std::string::npos;) {
    text.erase(i, 2);
  }
  if (text == ".") {
    text.clear();
  } else if (text.ends_with("/.")) {
    text.pop_back();
  }

  for (size_t i; (i = FindAtSegmentStart(text, "../")) != std::string::npos;) {
    if (i == 0) {
      text.erase(0, 3);
      continue;
    }
    // With no segment before it, this starts at the "/" in front.
    const size_t from = SegmentStart(text, i - 1);
    text.erase(from, i + 3 - from);
  }
  if (text == "..") {
    text.clear();
  } else if (text.ends_with("/..")) {
    text.erase(SegmentStart(text, text.size() - 3));
  }
  return text;
}

TEST(NormalizePathTest, Examples) {
  const char* const kCases[][2] = {
      {"/a/./b", "/a/b"},   {"/a/../b", "/b"},     {"/a/b/..", "/a/"},
      {"/a/b/.", "/a/b/"},  {"\\a\\b", "/a/b"},    {"//a//b", "/a/b"},
      {"/../x", "x"},       {"/..", ""},           {"/a..b/c", "/a..b/c"},
      {"/a/...", "/a/..."}, {"/docs/.", "/docs/"}, {"a./b", "a./b"},
      {"./a", "a"},         {".", ""},             {"..", ""},
      {"a/..", ""},         {"/a/..", "/"},        {"", ""},
      {"/", "/"},           {"/a/b/../../c", "/c"}, {"/a/../../b", "b"},
      {"/.../x", "/.../x"}, {"/a/.b/..c/", "/a/.b/..c/"},
      {"/x/y/./../z", "/x/z"}, {"\\\\srv\\.\\..\\f", "/f"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Normalized(c[0]), c[1]) << "input: " << c[0];
  }
}

TEST(NormalizePathTest, AgreesWithLiteralRulesOnAllShortPaths) {
  // Every string of up to eight characters over the characters the rules
  // care about, plus one ordinary letter.
  static constexpr char kAlphabet[] = {'/', '\\', '.', 'a'};
  std::string path;
  int mismatches = 0;
  for (size_t length = 0; length <= 8; ++length) {
    path.assign(length, kAlphabet[0]);
    std::vector<int> digits(length, 0);
    for (;;) {
      const std::string expected = LiteralNormalized(path);
      if (Normalized(path) != expected && ++mismatches <= 10) {
        ADD_FAILURE() << "input: " << path << " expected: " << expected
                      << " got: " << Normalized(path);
      }
      size_t k = 0;
      while (k < length && digits[k] == 3) {
        digits[k] = 0;
        path[k] = kAlphabet[0];
        ++k;
      }
      if (k == length) break;
      path[k] = kAlphabet[++digits[k]];
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(NormalizePathTest, EncodedDotsAreResolvedAfterDecoding) {
  std::string encoded = "/%2e%2e/x";
  DecodePercentInPlace(encoded);
  NormalizePath(encoded);
  EXPECT_EQ(encoded, Normalized("/../x"));
  EXPECT_STREQ(UrlRefusal(encoded), "URL had no leading slash");

  std::string backslash = "/docs%5c..%5c..%5csecret";
  DecodePercentInPlace(backslash);
  NormalizePath(backslash);
  EXPECT_EQ(backslash, "secret");
}

TEST(NormalizePathTest, HostileInputsStayLinear) {
  // Large enough that resolving "../" by rescanning or shifting the rest of
  // the text each time would take hours, far past the test's time-out,
  // rather than milliseconds.
  const size_t kRepeats = 512 * 1024;
  auto repeat = [&](const std::string& unit) {
    std::string text;
    text.reserve(unit.size() * kRepeats);
    for (size_t i = 0; i < kRepeats; ++i) text += unit;
    return text;
  };
  EXPECT_EQ(Normalized(repeat("/..")), "");
  EXPECT_EQ(Normalized(repeat("/../")), "");
  EXPECT_EQ(Normalized(repeat("/./")), "/");
  EXPECT_EQ(Normalized(repeat("//")), "/");
  EXPECT_EQ(Normalized(repeat("\\")), "/");
  EXPECT_EQ(Normalized(repeat("/a") + repeat("/..") + "/x"), "/x");
  EXPECT_EQ(Normalized("/keep" + repeat("/a/..")), "/keep/");
  const std::string dots = repeat("/...");
  EXPECT_EQ(Normalized(dots), dots);

  // The 8 KiB request limit, checked like any request path would be.
  std::string request;
  for (int i = 0; i < 8 * 1024 / 4; ++i) request += "/../";
  request += "etc/passwd";
  NormalizePath(request);
  EXPECT_EQ(request, "etc/passwd");
  EXPECT_NE(UrlRefusal(request), nullptr);
}

TEST(IsSafePathTest, RefusesPathsWindowsWouldReinterpret) {
  EXPECT_FALSE(IsSafePath(nullptr));
  EXPECT_FALSE(Safe(""));
  EXPECT_FALSE(Safe("/a.../b"));
  EXPECT_FALSE(Safe("/a//b"));
  EXPECT_FALSE(Safe("/file.txt::$DATA"));
  EXPECT_TRUE(Safe("/file.txt::$data"));  // only the exact spelling
  EXPECT_FALSE(Safe("/docs."));
  EXPECT_FALSE(Safe("/docs "));
  EXPECT_TRUE(Safe("/docs\t"));
  EXPECT_TRUE(Safe("/a..b/c"));
  EXPECT_TRUE(Safe("/docs/"));
  // A C string ends at the NUL ("/x.php\0.txt" opens "/x.php"); CR and LF
  // could end a header line where the path is echoed.
  for (const std::string& cut : {std::string("/x.php\0.txt", 11), std::string("/con\0", 5),
                                 std::string("/x.asp.\0", 8), std::string("/a\rb"), std::string("/a\nb")})
    EXPECT_FALSE(Safe(cut)) << cut.size();
}

TEST(IsSafePathTest, ReservedDeviceNames) {
  for (const char* path :
       {"/prn", "/PRN.html", "/con.txt", "/x/aux/y", "/LPT1", "/lpt9.x",
        "/Com1", "/nul", "/NUL.txt", "/x/Nul/y", "/x.CoN.y/z"}) {
    EXPECT_FALSE(Safe(path)) << path;
  }
  for (const char* path :
       {"/printer", "/com10", "/lpt0", "/COM", "/null", "/console/x",
        "/a-con", "/con_x", "/auxiliary.txt"}) {
    EXPECT_TRUE(Safe(path)) << path;
  }
}

TEST(IsSafePathTest, DeviceNamesOnlyWithinFirst2047Characters) {
  const std::string pad(2042, 'a');
  EXPECT_EQ(("/" + pad + "/con").size(), 2047u);
  EXPECT_FALSE(Safe("/" + pad + "/con"));
  // Cut to "co" by the limit.
  EXPECT_TRUE(Safe("/" + pad + "a/con"));
  // Cut to "con" by the limit, although the word itself is longer.
  EXPECT_FALSE(Safe("/" + pad + "/conx"));
}

TEST(UrlRefusalTest, MessagesInOrder) {
  EXPECT_STREQ(UrlRefusal(""), "No URL in request");
  EXPECT_STREQ(UrlRefusal("docs/"), "URL had no leading slash");
  EXPECT_STREQ(UrlRefusal("con"), "URL had no leading slash");
  EXPECT_STREQ(UrlRefusal("/docs."),
               "Security bypass attempted - possible breach");
  EXPECT_STREQ(UrlRefusal("/prn"),
               "Security bypass attempted - possible breach");
  EXPECT_EQ(UrlRefusal("/docs/"), nullptr);
  EXPECT_EQ(UrlRefusal("/"), nullptr);

  std::string path = "/docs/.";
  NormalizePath(path);
  EXPECT_EQ(path, "/docs/");
  EXPECT_EQ(UrlRefusal(path), nullptr);

  path = "/..";
  NormalizePath(path);
  EXPECT_STREQ(UrlRefusal(path), "No URL in request");
}

}  // namespace
}  // namespace brisvane
