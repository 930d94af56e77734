// Windows CGI through a real connection: the profile the program is given
// (read back by an independent INI reader: Python's on POSIX, the system's
// profile functions on Windows), its arguments and files, the time-out,
// and that no request leaves a temporary file behind.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/dynamic/tests/cgi_test_util.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A profile as an INI reader saw it.
struct Profile {
  std::vector<std::string> sections;                // in the file's order
  std::map<std::string, std::string> values;        // "Section/Key" -> value
  std::map<std::string, std::string> externals;     // key -> file bytes and mode
  bool Has(const std::string& section) const {
    return std::find(sections.begin(), sections.end(), section) != sections.end();
  }
};

class WindowsCgiTest : public CgiServerTest {
 protected:
  void SetUp() override {
    CgiServerTest::SetUp();
    fs::create_directories(win_dir());
    fs::copy_file(fs::path(platform::executable_directory()) / WINCGI_PROBE, win_dir() / WINCGI_PROBE,
                  fs::copy_options::overwrite_existing);
  }
  void Configure(ServerSettings& s) override {
    CgiServerTest::Configure(s);
    s.virtual_servers[0].cgi_win = {{"/cgi-win", win_dir().string()}};
  }

  fs::path win_dir() const { return root() / "CGI-WIN"; }
  static std::string Url(const std::string& query = "") {
    return std::string("/cgi-win/") + WINCGI_PROBE + (query.empty() ? "" : "?" + query);
  }
  static std::string Post(const std::string& url, const std::string& body, const std::string& headers = "") {
    return "POST " + url + " HTTP/1.1\r\nHost: localhost\r\n" + headers +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  }

  // The program's "profile" answer, its profile text read by the reader.
  Profile ReadProfile(const std::string& body) {
    const size_t marker = body.find("--externals--\n");
    EXPECT_NE(marker, std::string::npos) << body;
    std::string text = body.substr(0, marker);
#ifndef _WIN32
    // The program copied the file as it is: Python's configparser reads it.
    const fs::path in = root() / "profile.ini", out = root() / "profile.txt";
    std::ofstream(in, std::ios::binary) << text;
    const std::string command = "python3 \"" READ_PROFILE_PY "\" \"" + in.string() + "\" > \"" + out.string() + "\"";
    EXPECT_EQ(std::system(command.c_str()), 0) << "configparser refused the profile:\n" << text;
    text = ReadText(out);
#endif
    Profile p;
    std::istringstream lines(text);
    std::string line, section;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
        section = line.substr(1, line.size() - 2);
        p.sections.push_back(section);
      } else if (size_t eq = line.find('='); eq != std::string::npos) {
        p.values[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
      }
    }
    std::istringstream ext(marker == std::string::npos ? "" : body.substr(marker + 14));
    while (std::getline(ext, line)) {
      const size_t eq = line.find('=');
      if (line.rfind("EXTERNAL ", 0) == 0 && eq != std::string::npos) p.externals[line.substr(9, eq - 9)] = line.substr(eq + 1);
    }
    return p;
  }
};

TEST_F(WindowsCgiTest, ProfileDescribesTheRequestAndItsFormFields) {
  settings().cgi_debug_mode = true;
  StartServer();
  const std::string long_value(255, 'v');
  const std::string form = "dup=1&dup=2&long=" + long_value + "&nl=a%0Ab&plus=a+b%21&Dup=3";
  Response r = Get(Post(Url("profile"), form,
                        "Accept: text/html, text/plain ,image/*\r\nCookie: c=1\r\nUser-Agent: t/1\r\n"));
  ASSERT_EQ(r.code, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "text/plain");
  const Profile p = ReadProfile(r.body);
  std::map<std::string, std::string> v = p.values;

  EXPECT_EQ(v["CGI/Request Protocol"], "HTTP/1.1");
  EXPECT_EQ(v["CGI/Request Method"], "POST");
  EXPECT_EQ(v["CGI/Executable Path"], Url());
  EXPECT_EQ(v["CGI/Query String"], "profile");
  EXPECT_EQ(v["CGI/Content Length"], std::to_string(form.size()));
  EXPECT_EQ(v["CGI/Content Type"], "application/x-www-form-urlencoded");
  EXPECT_EQ(v["CGI/CGI Version"], "CGI/1.3a (Win)");
  EXPECT_EQ(v["CGI/Server Software"], "Brisvane/2.10");
  EXPECT_EQ(v["CGI/Server Port"], std::to_string(settings().port));
  EXPECT_EQ(v["CGI/User Agent"], "t/1");
  EXPECT_EQ(v["CGI/Remote Address"], "127.0.0.1");
  EXPECT_EQ(v["CGI/Document Root"], settings().virtual_servers[0].doc_root);
  EXPECT_EQ(v["CGI/Content File"], v["System/Content File"]);
  EXPECT_FALSE(p.values.count("CGI/Authenticated Password"));
  // Each item of the header a key, blanks around it dropped.
  for (const char* type : {"text/html", "text/plain", "image/*"}) EXPECT_EQ(v[std::string("Accept/") + type], "Yes");
  EXPECT_EQ(v["System/Debug Mode"], "Yes");
  EXPECT_EQ(v["System/GMT Offset"], std::to_string(-60 * platform::time_zone_bias()));
  EXPECT_NE(v["System/Output File"].find("BSV"), std::string::npos);
  EXPECT_EQ(v["Extra Headers/Cookie"], "c=1");

  // Repeated names get "_1", "_2" (keys compare without case); "+" is a
  // blank and escapes are decoded.
  EXPECT_EQ(v["Form Literal/dup"], "1");
  EXPECT_EQ(v["Form Literal/dup_1"], "2");
  EXPECT_EQ(v["Form Literal/Dup_2"], "3");
  EXPECT_EQ(v["Form Literal/plus"], "a b!");
  EXPECT_FALSE(p.values.count("Form Literal/long"));
  // 255 bytes, or a line break, go to a file of their own: "name length".
  const std::string long_entry = v["Form External/long"], nl_entry = v["Form External/nl"];
  EXPECT_EQ(long_entry.substr(long_entry.rfind(' ') + 1), "255");
  EXPECT_EQ(nl_entry.substr(nl_entry.rfind(' ') + 1), "3");
  std::map<std::string, std::string> files = p.externals;
#ifdef _WIN32
  EXPECT_EQ(files["long"], long_value);
  EXPECT_EQ(files["nl"], "a\\nb");
#else
  EXPECT_EQ(files["long"], long_value + " MODE=600");
  EXPECT_EQ(files["nl"], "a\\nb MODE=600");
#endif

  // Sections in their fixed order.
  const std::vector<std::string> order = {"CGI", "Accept", "System", "Extra Headers", "Form Literal", "Form External"};
  EXPECT_EQ(p.sections, order);

  // A GET has no form sections, and an empty content file of its own.
  r = Get(GetRequest(Url("profile")));
  const Profile get = ReadProfile(r.body);
  EXPECT_FALSE(get.Has("Form Literal") || get.Has("Form External") || get.Has("Accept") || get.Has("Extra Headers"));
  EXPECT_NE(get.values.at("CGI/Content File"), v["CGI/Content File"]);
  r = Get(GetRequest(Url("args")));
  EXPECT_EQ(ParseLines(r.body)["CONTENT_SIZE"], "0");
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; })) << TempFileNames();
}

TEST_F(WindowsCgiTest, PasswordReachesTheProfileOnlyWithCGISendPassword) {
  VirtualServerConfig& vs = settings().virtual_servers[0];
  vs.security_type = 2;
  vs.realms = {{"Staff", "", {{"alice", "pw"}}, {}}};
  AccessEntry e;
  e.path = "/cgi-win";
  e.realm = "Staff";
  e.principals = {{kReadRights, PrincipalKind::kUser, "alice"}};
  vs.access_entries = {e};
  settings().cgi_send_password = true;
  StartServer();
  const std::string auth = "Authorization: Basic YWxpY2U6cHc=\r\n";  // alice:pw
  Profile p = ReadProfile(Get(GetRequest(Url("profile"), auth)).body);
  EXPECT_EQ(p.values["CGI/Authenticated Username"], "alice");
  EXPECT_EQ(p.values["CGI/Authentication Realm"], "Staff");
  EXPECT_EQ(p.values["CGI/Authentication Method"], "Basic");
  EXPECT_EQ(p.values["CGI/Authenticated Password"], "pw");
  RestartWith([](ServerSettings& s) { s.cgi_send_password = false; });
  p = ReadProfile(Get(GetRequest(Url("profile"), auth)).body);
  EXPECT_EQ(p.values["CGI/Authenticated Username"], "alice");
  EXPECT_FALSE(p.values.count("CGI/Authenticated Password"));
}

TEST_F(WindowsCgiTest, ProgramGetsProfileContentOutputAndTheQueryAsItsArguments) {
  StartServer();
  // Without a query: three file names, and on Windows the command line
  // ends with the output file's name and one blank.
  Response r = Get(GetRequest(Url()));
  ASSERT_EQ(r.code, 200) << r.head;
  auto args = ParseLines(r.body);
#ifdef _WIN32
  EXPECT_EQ(args["ARGC"], "4");
  const std::string& cmd = args["CMDLINE"];
  const std::string tail = " " + args["ARGV3"] + " |";
  ASSERT_GE(cmd.size(), tail.size());
  EXPECT_EQ(cmd.substr(cmd.size() - tail.size()), tail) << cmd;
  EXPECT_EQ(cmd.front(), '"');
#else
  EXPECT_EQ(args["ARGC"], "4");
  for (const char* mode : {"MODE1", "MODE2", "MODE3"}) EXPECT_EQ(args[mode], "600") << mode;
#endif
  for (const char* arg : {"ARGV1", "ARGV2", "ARGV3"})
    EXPECT_EQ(fs::path(args[arg]).parent_path(), temp_dir()) << arg << "=" << args[arg];

  // A query with a quote and a backslash is one argument, as it came.
  r = Get(GetRequest(Url("a\"b\\c")));
  args = ParseLines(r.body);
#ifdef _WIN32
  EXPECT_NE(args["CMDLINE"].find(" " + args["ARGV3"] + " a\"b\\c|"), std::string::npos) << args["CMDLINE"];
#else
  EXPECT_EQ(args["ARGC"], "5");
  EXPECT_EQ(args["ARGV4"], "a\"b\\c");
#endif
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; })) << TempFileNames();
}

TEST_F(WindowsCgiTest, TimeOutEndsTheProgramTreeAndAnswers500) {
  settings().cgi_timeout = 1000;
  StartServer();
  for (const char* mode : {"loop", "grandchild"}) {
    const auto start = Clock::now();
    Response r = Get(GetRequest(Url(mode)));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_EQ(r.status_line, "HTTP/1.1 500 Windows CGI Launch Error") << mode;
    EXPECT_GE(ms, 900) << mode;
    EXPECT_LT(ms, 8000) << mode;
  }
  bool logged = false;
  for (const std::string& line : HookLines()) logged |= line.find("Launched failed; error code = 1460") != std::string::npos;
  EXPECT_TRUE(logged);
  const long pid = std::atol(ReadText(win_dir() / "grandchild.pid").c_str());
  EXPECT_GT(pid, 0);
  EXPECT_TRUE(Eventually([pid] { return !ProcessAlive(pid); })) << "grandchild " << pid << " still runs";
  EXPECT_LE(ChildProcesses(), 0);
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; })) << TempFileNames();
}

TEST_F(WindowsCgiTest, EmptyOutputIsAnEmptyPageAndFailuresLeaveNoFile) {
  std::ofstream(win_dir() / "plain.txt") << "not a program";
  StartServer();
  Response r = Get(GetRequest(Url("nothing")));
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.body, "");

  r = Get(GetRequest("/cgi-win/plain.txt"));
  EXPECT_EQ(r.status_line, "HTTP/1.1 500 Windows CGI Launch Error");
  EXPECT_EQ(engine().statistics().cgi_execs(), 1u);

  // The sample program from the install directory echoes its profile.
  fs::copy_file(fs::path(platform::executable_directory()).parent_path() / "stage" / "CGI-WIN" / PROFILE_ECHO,
                win_dir() / PROFILE_ECHO);
  r = Get(Post(std::string("/cgi-win/") + PROFILE_ECHO, "who=<me>"));
  EXPECT_EQ(r.code, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_NE(r.body.find("Request Method"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("&lt;me&gt;"), std::string::npos) << r.body;
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; })) << TempFileNames();
}

}  // namespace
}  // namespace brisvane::testing
