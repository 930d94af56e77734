// What the CGI server tests share: a test server with a CgiBin directory
// holding the probe program, a private temporary directory, and looks at
// what the server process holds (descriptors, children, memory).
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "engine/core/tests/test_server.h"
#include "engine/dynamic/tests/process_watch.h"

namespace brisvane::testing {

class CgiServerTest : public TestServer {
 protected:
  void SetUp() override;
  void Configure(ServerSettings& s) override;

  std::filesystem::path cgi_dir() const { return root() / "CGI-BIN"; }
  std::filesystem::path temp_dir() const { return root() / "tmp"; }
  void WriteCgiFile(const std::string& name, const std::string& content, bool executable = false);
  // "/cgi-bin/probe" with "?args" when given.
  static std::string ProbeUrl(const std::string& args = "");
  static std::string GetRequest(const std::string& url, const std::string& extra_headers = "");
  // Files left in the private temporary directory.
  size_t TempFiles() const;
  std::string TempFileNames() const;
};

}  // namespace brisvane::testing
