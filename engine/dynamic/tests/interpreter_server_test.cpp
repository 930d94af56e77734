// Real interpreters behind the server, driven by a real client (curl):
// Perl with CGI.pm, Debian's php-cgi with its default php.ini, and Python.
// A test whose interpreter or client is missing is skipped with its name.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/dynamic/tests/cgi_test_util.h"
#include "platform/process.h"
#include "platform/scoped_handle.h"

namespace brisvane::testing {
namespace {

[[maybe_unused]] bool Installed(const char* path) { return std::filesystem::exists(path); }

class InterpreterTest : public CgiServerTest {
 protected:
  // Runs curl with `args`; its output (headers with -i) or "" on failure.
  std::string Curl(const std::vector<std::string>& args) {
    std::string line = "\"/usr/bin/curl\" -s -S --max-time 60";
    for (const std::string& a : args) line += " \"" + a + "\"";
    const std::string out_path = (root() / "curl.out").string();
    platform::ScopedFile out(platform::file_open(out_path, platform::kGenericWrite, 0, platform::kCreateAlways, 0));
    platform::ProcessStart start;
    start.command_line = line;
    start.output = platform::ChildStdio::file(out.get());
    platform::ScopedProcess p(platform::process_spawn(start));
    if (!p) return "";
    uint32_t code = 1;
    platform::process_wait(p.get(), 90000, &code);
    out.reset();
    std::ifstream in(out_path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string Url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(port()) + path; }
};

#ifndef _WIN32
TEST_F(InterpreterTest, PerlCgiPmParsesQueryFormAndMultipartUpload) {
  if (!Installed("/usr/bin/perl") || !Installed("/usr/share/perl5/CGI.pm") || !Installed("/usr/bin/curl"))
    GTEST_SKIP() << "needs perl, libcgi-pm-perl and curl";
  WriteCgiFile("form.pl", R"(use strict; use CGI;
my $q = CGI->new;
print $q->header(-type => 'text/plain', -status => '200 OK');
for my $name (sort $q->param) {
  next if $name eq 'upload';
  print "$name=", join(',', $q->param($name)), "\n";
}
if (my $fh = $q->upload('upload')) {
  local $/; my $data = <$fh>;
  print "upload_name=", scalar($q->param('upload')), "\n";
  print "upload_size=", length($data), "\n";
  print "upload_x=", ($data =~ tr/x//), "\n";
}
print "method=", $q->request_method, "\n";
)");
  StartServer();
  std::string out = Curl({Url("/cgi-bin/form.pl?a=1&b=two%20words")});
  EXPECT_NE(out.find("a=1\nb=two words\nmethod=GET\n"), std::string::npos) << out;
  out = Curl({"-d", "name=perl&list=x&list=y", Url("/cgi-bin/form.pl")});
  EXPECT_NE(out.find("list=x,y\nname=perl\nmethod=POST\n"), std::string::npos) << out;
  const std::filesystem::path upload = root() / "upload.bin";
  std::ofstream(upload, std::ios::binary) << std::string(1 << 20, 'x');
  out = Curl({"-F", "upload=@" + upload.string(), "-F", "note=hi", Url("/cgi-bin/form.pl")});
  EXPECT_NE(out.find("note=hi\nupload_name=upload.bin\nupload_size=1048576\nupload_x=1048576\n"), std::string::npos)
      << out;
  // The request's files go once the server has finished with it, which may
  // be just after the client has its answer.
  EXPECT_TRUE(Eventually([this] { return TempFiles() == 0; }));
}

TEST_F(InterpreterTest, PhpCgiSeesRequestAndSetsStatusCookieAndRedirect) {
  if (!Installed("/usr/bin/php-cgi") || !Installed("/usr/bin/curl")) GTEST_SKIP() << "needs php-cgi and curl";
  WriteCgiFile("page.php", R"(<?php
if (isset($_GET['missing'])) { http_response_code(404); echo "no such thing\n"; exit; }
if (isset($_GET['go'])) { header('Location: /target.html'); exit; }
setcookie('flavour', 'plum');
echo "get=", $_GET['q'] ?? '', "\n";
echo "post=", $_POST['p'] ?? '', "\n";
echo "script=", $_SERVER['SCRIPT_NAME'], "\n";
echo "path_info=", $_SERVER['PATH_INFO'] ?? '', "\n";
)");
  StartServer();
  std::string out = Curl({"-i", "-d", "p=posted", Url("/cgi-bin/page.php?q=asked")});
  EXPECT_NE(out.find("HTTP/1.1 200"), std::string::npos) << out;
  EXPECT_NE(out.find("Set-Cookie: flavour=plum"), std::string::npos) << out;
  EXPECT_NE(out.find("get=asked\npost=posted\nscript=/cgi-bin/page.php\n"), std::string::npos) << out;
  out = Curl({"-i", Url("/cgi-bin/page.php?missing=1")});
  EXPECT_EQ(out.rfind("HTTP/1.1 404", 0), 0u) << out;
  EXPECT_NE(out.find("no such thing"), std::string::npos);
  out = Curl({"-i", Url("/cgi-bin/page.php?go=1")});
  EXPECT_EQ(out.rfind("HTTP/1.1 302", 0), 0u) << out;
  EXPECT_NE(out.find("Location: /target.html"), std::string::npos) << out;

  // With PreservePathInfo the path after the script reaches it as such.
  RestartWith([](ServerSettings& s) { s.preserve_path_info = true; });
  out = Curl({Url("/cgi-bin/page.php/extra/part?q=1")});
  EXPECT_NE(out.find("path_info=/extra/part\n"), std::string::npos) << out;
}

TEST_F(InterpreterTest, PythonScriptRunsThroughItsOwnFirstLine) {
  if (!Installed("/usr/bin/python3") || !Installed("/usr/bin/curl")) GTEST_SKIP() << "needs python3 and curl";
  WriteCgiFile("hello.py", R"(#!/usr/bin/python3
import os, sys, urllib.parse
body = sys.stdin.read(int(os.environ.get('CONTENT_LENGTH') or 0))
form = urllib.parse.parse_qs(body)
print("Status: 201 Created")
print("Content-Type: text/plain")
print()
print("who=" + form.get('who', [''])[0])
print("query=" + os.environ['QUERY_STRING'])
)", true);
  StartServer();
  std::string out = Curl({"-i", "-d", "who=python", Url("/cgi-bin/hello.py?k=v")});
  EXPECT_EQ(out.rfind("HTTP/1.1 201 Created", 0), 0u) << out;
  EXPECT_NE(out.find("who=python\nquery=k=v\n"), std::string::npos) << out;
}
#endif

}  // namespace
}  // namespace brisvane::testing
