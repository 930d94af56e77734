#include "engine/dynamic/tests/cgi_test_util.h"

#include <fstream>
#include <sstream>

#include "platform/system.h"

namespace brisvane::testing {

void CgiServerTest::SetUp() {
  TestServer::SetUp();
  UseTempDirectory(temp_dir());
  std::filesystem::create_directories(cgi_dir());
  const std::filesystem::path probe = std::filesystem::path(platform::executable_directory()) / CGI_PROBE;
  settings().cgi_timeout = 20000;
  settings().num_threads = 256;
  std::filesystem::copy_file(probe, cgi_dir() / CGI_PROBE, std::filesystem::copy_options::overwrite_existing);
}

void CgiServerTest::Configure(ServerSettings& s) {
  s.virtual_servers[0].cgi_bin = {{"/cgi-bin", cgi_dir().string()}};
}

void CgiServerTest::WriteCgiFile(const std::string& name, const std::string& content, bool executable) {
  const std::filesystem::path p = cgi_dir() / name;
  {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
  }
  if (executable)
    std::filesystem::permissions(p, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
}

std::string CgiServerTest::ProbeUrl(const std::string& args) {
  std::string name = CGI_PROBE;
  std::string url = "/cgi-bin/" + name;
  if (!args.empty()) url += "?" + args;
  return url;
}

std::string CgiServerTest::GetRequest(const std::string& url, const std::string& extra_headers) {
  return "GET " + url + " HTTP/1.1\r\nHost: localhost\r\n" + extra_headers + "\r\n";
}

size_t CgiServerTest::TempFiles() const {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(temp_dir())) {
    (void)e;
    ++n;
  }
  return n;
}

std::string CgiServerTest::TempFileNames() const {
  std::string names;
  for (const auto& e : std::filesystem::directory_iterator(temp_dir()))
    names += e.path().filename().string() + " (" + std::to_string(e.is_regular_file() ? e.file_size() : 0) + ") ";
  return names;
}

}  // namespace brisvane::testing
