// An engine started in-process on a free loopback port, with its own
// registry, profile and document tree, and a raw HTTP client for it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "config/server_settings.h"
#include "engine/core/engine.h"
#include "engine/core/socket.h"
#include "platform/tests/registry_fixture.h"

namespace brisvane::testing {

// One parsed response.
struct Response {
  std::string status_line;
  int code = 0;
  std::string head;  // status line and headers, as received
  std::string body;
  std::string Header(const std::string& name) const;  // "" when absent
  bool HasHeader(const std::string& name) const;
};

// A client connection to the test server.
class Client {
 public:
  explicit Client(uint16_t port, const char* address = "127.0.0.1");
  bool connected() const { return socket_.IsValid() && connected_; }
  bool Send(const std::string& raw);
  // Reads one response; `head_only` for HEAD and 304 answers. False when
  // the connection closed before a whole response arrived.
  bool Read(Response* out, bool head_only = false);
  // Everything until the server closes (HTTP/0.9, raw answers).
  std::string ReadToClose();
  // True when the server closed the connection within `ms`; whatever it
  // sent before closing is skipped.
  bool ClosedWithin(uint32_t ms);
  Socket& socket() { return socket_; }

 private:
  Socket socket_;
  bool connected_ = false;
};

class TestServer : public platform::testing::RegistryTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Changes the settings before Start; the default has one virtual server
  // whose DocRoot is root()/HTDOCS, port free, keep-alive on.
  virtual void Configure(ServerSettings&) {}

  // Saves the settings under the test's profile and starts the engine.
  void StartServer();
  // The engine's own housekeeping period for the engines started from now
  // on; 0 (the default here) leaves housekeeping to "IDLE", so that a test
  // decides when it runs.
  void SetHousekeepingInterval(uint32_t ms) { housekeeping_ms_ = ms; }
  void RestartWith(const std::function<void(ServerSettings&)>& change);

  std::filesystem::path root() const { return root_; }
  std::string DocPath(const std::string& relative) const;
  void WriteFile(const std::string& relative, const std::string& content);
  std::string ReadFile(const std::string& relative) const;
  // One request on a fresh connection.
  Response Get(const std::string& raw, bool head_only = false);

  Engine& engine() { return *engine_; }
  ServerSettings& settings() { return settings_; }
  uint16_t port() const { return port_; }
  const std::string& profile() const { return profile_; }
  // A request that stays in progress until the returned client goes: it
  // asks for a document far larger than the connection's buffers and
  // reads no more than its status line, so its response cannot be
  // written. Returns once the response has begun (null if it never does).
  std::unique_ptr<Client> HoldRequestInProgress();
  // Error-log lines the engine handed to its hook.
  std::vector<std::string> HookLines();
  // Points TMPDIR, TMP and TEMP at `dir` (made if missing), so the server's
  // temporary files go where the test can count them; TearDown puts the
  // old values back once the engine has stopped.
  void UseTempDirectory(const std::filesystem::path& dir);

 private:
  std::filesystem::path root_;
  std::string profile_;
  ServerSettings settings_;
  std::unique_ptr<Engine> engine_;
  uint16_t port_ = 0;
  uint32_t housekeeping_ms_ = 0;
  std::map<std::string, std::string> saved_env_;  // "" for a variable that was unset
};

// A port that was free a moment ago.
uint16_t FreePort();

}  // namespace brisvane::testing
