// Server-side includes: the directive scanner and parser on their own, then
// include documents served through a real connection (includes, echo,
// file sizes and dates, programs, the secure mode, the bounds).
#include <chrono>
#include <filesystem>
#include <regex>

#include "engine/dynamic/server_includes.h"
#include "engine/dynamic/tests/cgi_test_util.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

// Scans `input` fed in pieces of `piece` bytes; each directive becomes
// "[name|result-of-parse]" so the test sees where and how it was read.
std::string Scan(const std::string& input, size_t piece, IncludeAttributes* attrs) {
  IncludeScanner scanner;
  std::string out;
  for (size_t at = 0; at < input.size(); at += piece) {
    scanner.Feed(std::string_view(input).substr(at, piece), &out, [&](std::string_view text, std::string* o) {
      std::string name;
      const bool ok = ParseIncludeDirective(text, attrs, &name);
      *o += "[" + name + "|" + (ok ? attrs->var + attrs->virtual_path : std::string("ERR")) + "]";
    });
  }
  scanner.Finish(&out);
  return out;
}

TEST(IncludeParser, ScannerFindsDirectivesAndCopiesEverythingElse) {
  const std::string input =
      "a<b <!-- plain --> <<!--#echo var=\"X\"--> <!-#x <!--#include virtual=\"/v\" -->z<!--#open";
  const std::string expected =
      "a<b <!-- plain --> <[echo|X] <!-#x [include|/v]z<!--#open";
  // The result must not depend on where the input was cut.
  for (size_t piece : {1u, 2u, 3u, 7u, 1000u}) {
    IncludeAttributes attrs;
    EXPECT_EQ(Scan(input, piece, &attrs), expected) << piece;
  }
  IncludeAttributes attrs;
  EXPECT_EQ(Scan("<!--", 1, &attrs), "<!--");
  EXPECT_EQ(Scan("x<", 1, &attrs), "x<");
  EXPECT_EQ(Scan("<!--#-->", 3, &attrs), "[|]");
}

TEST(IncludeParser, AttributesFollowTheQuotingRules) {
  IncludeAttributes a;
  std::string name;
  ASSERT_TRUE(ParseIncludeDirective("  config timefmt=\"%H:%M\"  errmsg = \"oops\" ", &a, &name));
  EXPECT_EQ(name, "config");
  EXPECT_EQ(a.timefmt, "%H:%M");
  EXPECT_EQ(a.errmsg, "oops");
  // An unquoted value is empty; persistent attributes stay.
  ASSERT_TRUE(ParseIncludeDirective("include virtual=/x.html", &a, &name));
  EXPECT_EQ(a.virtual_path, "");
  EXPECT_EQ(a.timefmt, "%H:%M");
  // The five per-directive attributes are emptied each time.
  ASSERT_TRUE(ParseIncludeDirective("echo var=\"A\"", &a, &name));
  ASSERT_TRUE(ParseIncludeDirective("fsize", &a, &name));
  EXPECT_EQ(a.var, "");
  // A line break before the end is read as an attribute name.
  EXPECT_FALSE(ParseIncludeDirective("echo var=\"DATE_GMT\"\n", &a, &name));
  EXPECT_EQ(a.var, "DATE_GMT");
  // Unknown names are refused, and names are exact.
  EXPECT_FALSE(ParseIncludeDirective("echo VAR=\"A\"", &a, &name));
  // A missing closing quote takes the rest as the value.
  ASSERT_TRUE(ParseIncludeDirective("echo var=\"open", &a, &name));
  EXPECT_EQ(a.var, "open");
  // The name ends at a line break too.
  ASSERT_TRUE(ParseIncludeDirective("echo\nvar=\"B\"", &a, &name));
  EXPECT_EQ(name, "echo");
  EXPECT_EQ(a.var, "B");
}

class IncludeServerTest : public CgiServerTest {
 protected:
  Response Page(const std::string& url, const std::string& headers = "") {
    return Get(GetRequest(url, headers));
  }
  static std::string Err() { return kIncludeErrorText; }
};

TEST_F(IncludeServerTest, IncludesNestAndResolveThroughTheRequestPath) {
  // Included documents keep the including document's URL: a relative
  // path in them resolves against the top document.
  WriteFile("sub/inner.shtml", "[inner <!--#include virtual=\"sub/leaf.txt\"-->]");
  WriteFile("sub/leaf.txt", "leaf<!--#echo var=\"GATEWAY_INTERFACE\"-->");
  WriteFile("page.shtml",
            "A<!--#include virtual=\"/sub/inner.shtml\"-->B"
            "<!--#include file=\"sub/leaf.txt\"-->"
            "|<!--#include virtual=\"/../../etc/passwd\"-->"
            "|<!--#include virtual=\"sub/../../x\"-->"
            "|<!--#include virtual=\"/missing.html\"-->"
            "|<!--#include virtual=/sub/leaf.txt-->"
            "|<!--#bogus-->|<!--#config errmsg=\"E!\"--><!--#echo var=\"document_name\"-->"
            "|<!-- kept -->");
  WriteFile("self.shtml", "x<!--#include virtual=\"/self.shtml\"-->");
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += "<!--#include virtual=\"/no-such\"-->";
  WriteFile("nine.shtml", nine);
  StartServer();

  Response r = Page("/page.shtml");
  ASSERT_EQ(r.code, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  // Relative virtual paths resolve against the document's URL, nested
  // documents are scanned, a file path against its directory.
  EXPECT_EQ(r.body, "A[inner leafCGI/1.1]BleafCGI/1.1|" + Err() + "|" + Err() + "|" + Err() + "|" + Err() +
                        "|" + Err() + "|E!|<!-- kept -->");

  // A self-including document stops after eight levels of includes.
  r = Page("/self.shtml");
  EXPECT_EQ(r.body, std::string(1 + 8, 'x') + kIncludeLoopText);
  // Missing includes are errors, never the loop message.
  r = Page("/nine.shtml");
  std::string errors;
  for (int i = 0; i < 9; ++i) errors += Err();
  EXPECT_EQ(r.body, errors);

  // A page larger than what is built in memory goes out whole.
  const std::string as(100000, 'a'), bs(100000, 'b');
  WriteFile("big.shtml", as + "<!--#echo var=\"GATEWAY_INTERFACE\"-->" + bs);
  r = Page("/big.shtml");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  EXPECT_TRUE(r.body == as + "CGI/1.1" + bs) << r.body.size();

  // HEAD has the length and no body.
  r = Get("HEAD /page.shtml HTTP/1.0\r\n\r\n", true);
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.body, "");

  // With the step off the document is not touched.
  RestartWith([](ServerSettings& s) { s.process_ssi = false; });
  r = Page("/self.shtml");
  EXPECT_EQ(r.body, "x<!--#include virtual=\"/self.shtml\"-->");
}

TEST_F(IncludeServerTest, EchoEscapesClientTextAndFormatsDatesAndSizes) {
  WriteFile("big.bin", std::string(2621440, 'b'));
  WriteFile("five.bin", std::string(5000, 'f'));
  WriteFile("k.bin", std::string(1024, 'k'));
  std::filesystem::last_write_time(DocPath("k.bin"),
                                   std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  WriteFile("echo.shtml",
            "Q=<!--#echo var=\"QUERY_STRING_UNESCAPED\"-->\n"
            "R=<!--#echo var=\"QUERY_STRING\"-->\n"
            "A=<!--#echo var=\"HTTP_USER_AGENT\"-->\n"
            "U=<!--#echo var=\"DOCUMENT_URI\"-->\n"
            "D=<!--#echo var=\"DATE_LOCAL\"-->\n"
            "<!--#config timefmt=\"%H:%M\" sizefmt=\"abbrev\"-->"
            "T=<!--#echo var=\"DATE_GMT\"-->\n"
            "S=<!--#fsize virtual=\"/big.bin\"--> <!--#fsize file=\"five.bin\"--> <!--#fsize virtual=\"k.bin\"-->"
            " <!--#fsize virtual=\"/none.bin\"-->\n"
            "<!--#config timefmt=\"%Y\" sizefmt=\"bytes\"-->"
            "S2=<!--#fsize virtual=\"/big.bin\"-->\n"
            "M=<!--#flastmod virtual=\"/k.bin\"--> <!--#flastmod file=\"none.bin\"-->\n"
            "L=<!--#echo var=\"LAST_MODIFIED\"-->\n");
  StartServer();
  Response r = Page("/echo.shtml?a=%3Cscript%3Ex%26%22&b", "User-Agent: <b>\"t\"</b>\r\n");
  ASSERT_EQ(r.code, 200) << r.head;
  const auto lines = ParseLines(r.body);
  EXPECT_EQ(lines.at("Q"), "a=&lt;script&gt;x&amp;&quot;&amp;b");
  EXPECT_EQ(lines.at("R"), "a=%3Cscript%3Ex%26%22&amp;b");
  EXPECT_EQ(lines.at("A"), "&lt;b&gt;&quot;t&quot;&lt;/b&gt;");
  EXPECT_EQ(lines.at("U"), "/echo.shtml");
  EXPECT_TRUE(std::regex_match(lines.at("D"), std::regex("[A-Z][a-z]{2} [0-9]{2} 20[0-9]{2}"))) << lines.at("D");
  EXPECT_TRUE(std::regex_match(lines.at("T"), std::regex("[0-2][0-9]:[0-5][0-9]"))) << lines.at("T");
  EXPECT_EQ(lines.at("S"), "2M 4K 1024 0");
  EXPECT_EQ(lines.at("S2"), "2621440");
  const int year = platform::local_time_now().year;
  const std::string m = lines.at("M");
  EXPECT_TRUE(m == std::to_string(year - 1) + " " + Err() || m == std::to_string(year - 2) + " " + Err()) << m;
  EXPECT_EQ(lines.at("L"), std::to_string(year));
}

TEST_F(IncludeServerTest, ProgramsRunThroughExecAndScriptOutputMayBeAnIncludeDocument) {
  const std::string probe = CGI_PROBE;
  const std::string probe_path = (cgi_dir() / probe).string();
  WriteFile("exec.shtml",
            "<!--#exec cgi=\"/cgi-bin/" + probe + "/more/info?env\"-->"
            "--CMD--<!--#exec cmd=\"" + probe_path + " env\"-->");
  WriteFile("ssi.txt", "Content-Type: text/ssi\r\n\r\nq=<!--#echo var=\"QUERY_STRING\"--> "
                       "<!--#include virtual=\"/inc.txt\"-->");
  WriteFile("inc.txt", "included");
  WriteFile("loop.shtml", "<<!--#exec cgi=\"/cgi-bin/" + probe + "?loop\"-->>");
  StartServer();

  Response r = Page("/exec.shtml?ignored");
  ASSERT_EQ(r.code, 200) << r.head;
  const size_t split = r.body.find("--CMD--");
  ASSERT_NE(split, std::string::npos) << r.body;
  // The program's header is dropped; its environment tells how it ran.
  EXPECT_EQ(r.body.find("Content-Type"), std::string::npos) << r.body;
  auto env = ParseLines(r.body.substr(0, split));
  EXPECT_EQ(env["ARGV1"], "env");
  EXPECT_EQ(env["QUERY_STRING"], "env");
  EXPECT_EQ(env["SCRIPT_NAME"], "/cgi-bin/" + probe);
  EXPECT_EQ(env["PATH_INFO"], "/more/info");
  EXPECT_EQ(env["DOCUMENT_URI"], "/exec.shtml");
  EXPECT_EQ(std::filesystem::path(env["CWD"]), cgi_dir());
  // The program splits and translates as a request for the same URL does.
  Response direct = Page("/cgi-bin/" + probe + "/more/info?env");
  ASSERT_EQ(direct.code, 200) << direct.head;
  auto direct_env = ParseLines(direct.body);
  EXPECT_EQ(env["SCRIPT_NAME"], direct_env["SCRIPT_NAME"]);
  EXPECT_EQ(env["PATH_INFO"], direct_env["PATH_INFO"]);
  EXPECT_EQ(std::filesystem::path(env["PATH_TRANSLATED"]), std::filesystem::path(DocPath("more/info")));
  EXPECT_EQ(env["PATH_TRANSLATED"], direct_env["PATH_TRANSLATED"]);
  // A command is no CGI program run for the document.
  env = ParseLines(r.body.substr(split + 7));
  EXPECT_EQ(env["ARGV1"], "env");
  EXPECT_EQ(env["QUERY_STRING"], "");
  EXPECT_EQ(env["SCRIPT_NAME"], "");
  EXPECT_FALSE(env.count("DOCUMENT_URI")) << r.body;
  EXPECT_EQ(env["SERVER_PROTOCOL"], "HTTP/1.1");

  // A program's output that declares "text/ssi" is scanned.
  r = Page(ProbeUrl("file+" + DocPath("ssi.txt")));
  ASSERT_EQ(r.code, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.body, "q=file+" + DocPath("ssi.txt") + " included");

  // A program that never ends is ended after the CGI time-out, what it
  // wrote is kept, and nothing of it remains.
  RestartWith([](ServerSettings& s) { s.cgi_timeout = 1000; });
  const auto start = std::chrono::steady_clock::now();
  r = Page("/loop.shtml");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.body, "<before loop\n>");
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(Eventually([] { return ChildProcesses() <= 0; }));
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; })) << TempFileNames();
}

TEST_F(IncludeServerTest, SecureModeForbidsExecAndFileButKeepsVirtual) {
  const std::string probe = CGI_PROBE;
  WriteFile("inc.txt", "ok");
  WriteFile("secure.shtml", "<!--#exec cmd=\"" + probe + "\"-->|<!--#exec cgi=\"/cgi-bin/" + probe +
                                "\"-->|<!--#include file=\"inc.txt\"-->|<!--#include virtual=\"inc.txt\"-->"
                                "|<!--#fsize file=\"inc.txt\"-->|<!--#fsize virtual=\"inc.txt\"-->");
  settings().process_ssi_secure = true;
  StartServer();
  Response r = Page("/secure.shtml");
  EXPECT_EQ(r.body, Err() + "|" + Err() + "|" + Err() + "|ok|" + Err() + "|2");
}

#ifndef _WIN32
TEST_F(IncludeServerTest, PerlScriptRunsThroughExecCgi) {
  if (!std::filesystem::exists("/usr/bin/perl")) GTEST_SKIP() << "needs /usr/bin/perl";
  WriteCgiFile("hello.pl",
               "print \"Content-Type: text/html\\r\\n\\r\\n\";\n"
               "print \"perl says <$ENV{QUERY_STRING}> from $ENV{SCRIPT_NAME}\";\n");
  WriteFile("perl.shtml", "[<!--#exec cgi=\"/cgi-bin/hello.pl?x+y\"-->]");
  StartServer();
  Response r = Page("/perl.shtml");
  ASSERT_EQ(r.code, 200) << r.head;
  EXPECT_EQ(r.body, "[perl says <x+y> from /cgi-bin/hello.pl]");
}
#endif

}  // namespace
}  // namespace brisvane::testing
