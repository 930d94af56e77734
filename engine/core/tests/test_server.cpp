#include "engine/core/tests/test_server.h"

#include <fstream>
#include <mutex>
#include <sstream>

#include "engine/core/text_util.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/system.h"

namespace brisvane::testing {
namespace {

bool g_sockets = StartSockets();

std::mutex g_hook_mu;
std::vector<std::string> g_hook_lines;

void Hook(const char* line, uintptr_t) {
  std::lock_guard<std::mutex> lock(g_hook_mu);
  g_hook_lines.push_back(line);
}

}  // namespace

std::string Response::Header(const std::string& name) const {
  size_t pos = 0;
  while (true) {
    size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) return "";
    std::string line = head.substr(pos, end - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsIgnoreCase(line.substr(0, colon), name))
      return TrimLeading(line.substr(colon + 1), ' ');
    pos = end + 2;
  }
}

bool Response::HasHeader(const std::string& name) const {
  return head.find("\r\n" + name + ":") != std::string::npos;
}

Client::Client(uint16_t port, const char* address) {
  if (!socket_.CreateStream()) return;
  platform::SockAddrV4 addr;
  if (!Socket::Resolve(address, port, false, &addr)) return;
  connected_ = socket_.Connect(addr);
  socket_.SetReceiveTimeout(20000);
}

bool Client::Send(const std::string& raw) { return socket_.Send(raw.data(), raw.size()) >= 0; }

bool Client::Read(Response* out, bool head_only) {
  *out = Response();
  std::string line;
  while (true) {
    if (!socket_.ReadLine(&line, 65536)) return false;
    out->head += line + "\r\n";
    if (line.empty()) break;
  }
  out->status_line = out->head.substr(0, out->head.find("\r\n"));
  size_t sp = out->status_line.find(' ');
  if (sp != std::string::npos) out->code = std::atoi(out->status_line.c_str() + sp + 1);
  if (head_only) return true;
  std::string length = out->Header("Content-Length");
  if (length.empty()) return true;
  uint64_t left = std::stoull(length);
  char buf[65536];
  while (left > 0) {
    int64_t n = socket_.Receive(buf, static_cast<size_t>(std::min<uint64_t>(left, sizeof buf)));
    if (n <= 0) return false;
    out->body.append(buf, static_cast<size_t>(n));
    left -= static_cast<uint64_t>(n);
  }
  return true;
}

std::string Client::ReadToClose() {
  std::string all;
  char buf[65536];
  while (true) {
    int64_t n = socket_.Receive(buf, sizeof buf);
    if (n <= 0) break;
    all.append(buf, static_cast<size_t>(n));
  }
  return all;
}

bool Client::ClosedWithin(uint32_t ms) {
  const uint32_t start = platform::tick_count();
  char buf[4096];
  while (true) {
    const uint32_t used = platform::tick_count() - start;
    if (used >= ms || !socket_.WaitReadable(ms - used)) return false;
    if (socket_.Receive(buf, sizeof buf) <= 0) return true;  // data before the close is skipped
  }
}

uint16_t FreePort() {
  Socket s;
  s.CreateStream();
  platform::SockAddrV4 any;
  platform::socket_bind(s.handle(), any);
  platform::SockAddrV4 bound;
  s.LocalAddress(&bound);
  return platform::host_to_net16(bound.port);
}

void TestServer::SetUp() {
  RegistryTest::SetUp();
  root_ = dir() / "site";
  std::filesystem::create_directories(root_ / "HTDOCS");
  std::filesystem::create_directories(root_ / "Logs");
  static int counter = 0;
  profile_ = "Test" + std::to_string(platform::current_process_id()) + "_" + std::to_string(counter++);
  settings_ = ServerSettings(root_.string(), SettingsFlavor::kEngine);
  settings_.port = FreePort();
  settings_.use_keep_alive = true;
  settings_.trace_log_mask = 1;
  {
    std::lock_guard<std::mutex> lock(g_hook_mu);
    g_hook_lines.clear();
  }
}

void TestServer::TearDown() {
  if (engine_) {
    engine_->Stop();
    engine_.reset();
  }
  for (const auto& [name, value] : saved_env_) {
    if (value.empty())
      platform::unset_env(name);
    else
      platform::set_env(name, value);
  }
  saved_env_.clear();
  ClearProfile(profile_);
  platform::event_discard(kFlushEventName);
  RegistryTest::TearDown();
}

void TestServer::UseTempDirectory(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    saved_env_.try_emplace(name, platform::get_env(name).value_or(""));
    platform::set_env(name, dir.string());
  }
}

void TestServer::StartServer() {
  Configure(settings_);
  ASSERT_TRUE(SaveSettings(settings_, profile_));
  engine_ = std::make_unique<Engine>();
  engine_->SetProfile(profile_.c_str());
  engine_->SetHousekeepingInterval(housekeeping_ms_);
  engine_->SetLogHook(Hook, 30, 0);
  ASSERT_TRUE(engine_->Start());
  ASSERT_EQ(engine_->state(), kStateRunning);
  port_ = engine_->bound_port();
  ASSERT_NE(port_, 0);
}

void TestServer::RestartWith(const std::function<void(ServerSettings&)>& change) {
  if (engine_) {
    engine_->Stop();
    engine_.reset();
  }
  change(settings_);
  ASSERT_TRUE(SaveSettings(settings_, profile_));
  engine_ = std::make_unique<Engine>();
  engine_->SetProfile(profile_.c_str());
  engine_->SetHousekeepingInterval(housekeeping_ms_);
  engine_->SetLogHook(Hook, 30, 0);
  engine_->Start();
  port_ = engine_->bound_port();
}

std::string TestServer::DocPath(const std::string& relative) const {
  return (root_ / "HTDOCS" / relative).string();
}

void TestServer::WriteFile(const std::string& relative, const std::string& content) {
  std::filesystem::path p = root_ / "HTDOCS" / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TestServer::ReadFile(const std::string& relative) const {
  std::ifstream in(root_ / "HTDOCS" / relative, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::unique_ptr<Client> TestServer::HoldRequestInProgress() {
  // Sparse where the file system allows: 64 MiB is more than the socket
  // buffers of both ends take together.
  constexpr uint64_t kHeldSize = 64ull << 20;
  const std::string path = DocPath("held.bin");
  if (!std::filesystem::exists(path)) {
    platform::FileHandle f = platform::file_open(path, platform::kGenericWrite, 0, platform::kCreateAlways, 0);
    if (f == platform::kInvalidFile) return nullptr;
    const bool sized = platform::file_seek(f, kHeldSize - 1) && platform::file_write(f, "x", 1) == 1;
    platform::file_close(f);
    if (!sized) return nullptr;
  }
  // A request that ended a moment ago may still be counted and have this
  // one refused; then it is asked again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    auto c = std::make_unique<Client>(port());
    if (!c->Send("GET /held.bin HTTP/1.1\r\nHost: x\r\n\r\n")) return nullptr;
    // The response has begun, so the request is counted, and it cannot
    // end while the client reads no more than its status line.
    const std::string ok = "HTTP/1.1 200";
    std::string got(ok.size(), '\0');
    size_t have = 0;
    while (have < got.size()) {
      if (!c->socket().WaitReadable(5000)) return nullptr;
      const int64_t n = c->socket().Receive(&got[have], got.size() - have);
      if (n <= 0) break;
      have += static_cast<size_t>(n);
    }
    if (got == ok) return c;
    platform::sleep_ms(20);
  }
  return nullptr;
}

Response TestServer::Get(const std::string& raw, bool head_only) {
  Client c(port_);
  Response r;
  EXPECT_TRUE(c.connected());
  EXPECT_TRUE(c.Send(raw));
  EXPECT_TRUE(c.Read(&r, head_only)) << "no complete response to: " << raw;
  return r;
}

std::vector<std::string> TestServer::HookLines() {
  std::lock_guard<std::mutex> lock(g_hook_mu);
  return g_hook_lines;
}

}  // namespace brisvane::testing
