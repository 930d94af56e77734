#include "engine/core/engine.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config/foreign_export.h"
#include "config/server_settings.h"
#include "engine/core/connection_pool.h"
#include "engine/core/socket.h"
#include "engine/core/tls_sites.h"
#include "platform/message_box.h"
#include "platform/system.h"

namespace brisvane {

Engine::Engine() : parts_(BuiltInParts()), handlers_(*parts_.handlers) {
  nt_ = platform::platform_id() == 2;
  flush_event_.reset(platform::event_create(kFlushEventName));
  if (nt_) {
    platform::enable_privilege("SeBackupPrivilege");
    platform::enable_privilege("SeRestorePrivilege");
  }
  platform::com_initialize();
  statistics_.SetStuckRunsSource(parts_.stuck_extension_runs);
  // Here rather than when the library loads: the system's loader lock is
  // held then, and starting the sockets library under it is advised against.
  sockets_started_ = StartSockets();
  // Failures met on connection threads where no box can be shown.
  platform::set_notice_log_sink(this, [this](const std::string& text) { logs_.Error(text, nullptr); });
}

Engine::~Engine() {
  if (pool_) Stop();  // the host should have stopped us; never leave threads behind
  platform::set_notice_log_sink(this, nullptr);
  flush_event_.reset();
  platform::com_uninitialize();
  if (sockets_started_) StopSockets();
}

bool Engine::SetProfile(const char* profile) {
  if (state_.load() != kStateStopped) return false;
  profile_ = profile ? profile : "";
  return true;
}

std::shared_ptr<const EngineSnapshot> Engine::snapshot() const {
  std::lock_guard<std::mutex> lock(snapshot_mu_);
  return snapshot_;
}

void Engine::PublishSnapshot(std::shared_ptr<const EngineSnapshot> next) {
  std::lock_guard<std::mutex> lock(snapshot_mu_);
  snapshot_.swap(next);
  // The old snapshot leaves with `next` once the lock is released; requests
  // still holding it keep it alive until they end.
}

bool Engine::FailStart() {
  logs_.Close();
  flush_event_.reset();
  state_ = kStateStopped;
  return false;
}

bool Engine::Start() {
  if (state_.load() != kStateStopped) return true;
  state_ = kStateStarting;
  // The sockets library may have been missing when the engine was made;
  // its box said so then.
  if (!sockets_started_) sockets_started_ = StartSockets();
  if (!sockets_started_) return FailStart();
  // Stop gave the event up; a restarted engine listens again.
  if (!flush_event_) flush_event_.reset(platform::event_create(kFlushEventName));
  auto next = std::make_shared<EngineSnapshot>();
  if (!LoadSettings(&next->settings, profile_)) {
    logs_.Error("Fatal error reading from registry, process may have insufficient access", nullptr);
    return FailStart();
  }
  const ServerSettings& s = next->settings;
  logs_.Open(s);
  last_log_flush_ = platform::tick_count();
  logs_.Trace("Logs Initalized", nullptr);
  // Every CGI program, include command and extension inherits the rights.
  if (platform::running_as_superuser())
    logs_.Error(kRunningAsRootWarning, nullptr);

  platform::set_priority_class(s.priority_level == 0 ? 0 : s.priority_level == 3 ? 2 : 1);

  const platform::SocketsInfo& info = SocketsInfo();
  char line[512];
  std::snprintf(line, sizeof line, "TCP/IP Stack: %s (%d.%d; %d.%d) running on %s",
                info.description.c_str(), info.version >> 8, info.version & 0xFF,
                info.high_version >> 8, info.high_version & 0xFF, platform::system_name().c_str());
  logs_.Trace(line, nullptr);

  if (s.virtual_servers.empty())
    logs_.Error("No Virtual Servers Configured! Possible registry corruption.", nullptr);
  BuildVirtualServers(next.get(), &logs_);
  PublishSnapshot(next);
  if (s.dynamic_ip) {
    std::lock_guard<std::mutex> lock(control_mu_);
    ResolveDynamicIp();
  }

  stop_ = false;
  available_ = true;
  // A server that cannot listen serves nothing: the socket layer has told
  // the user why, and the host learns it from the result.
  auto listener = std::make_unique<Socket>();
  if (!listener->CreateAndBind(true, static_cast<uint16_t>(s.port), 0)) return FailStart();
  platform::SockAddrV4 bound;
  bound_port_ = listener->LocalAddress(&bound) ? platform::host_to_net16(bound.port) : 0;
  pool_ = std::make_unique<ConnectionPool>(std::move(listener), OpenTlsListener(s),
                                           static_cast<int>(s.num_threads), this);
  if (!pool_->Start()) {
    pool_.reset();
    return FailStart();
  }

  start_time_ = static_cast<uint32_t>(std::time(nullptr));
  state_ = kStateRunning;
  StartHousekeeping();
  return true;
}

std::unique_ptr<Socket> Engine::OpenTlsListener(const ServerSettings& s) {
  bound_ssl_port_ = 0;
  if (!AnyServerUsesTls(s)) return nullptr;
  auto listener = std::make_unique<Socket>();
  platform::SockAddrV4 any;
  any.port = platform::host_to_net16(static_cast<uint16_t>(s.ssl_port));
  if (listener->CreateStream() && listener->SetReuseAddress(true) &&
      platform::socket_bind(listener->handle(), any)) {
    platform::SockAddrV4 bound;
    bound_ssl_port_ = listener->LocalAddress(&bound) ? platform::host_to_net16(bound.port) : 0;
    return listener;
  }
  // Plain HTTP goes on without it.
  const platform::os_error code = platform::socket_last_error();
  logs_.Error("Unable to listen for HTTPS on port " + std::to_string(s.ssl_port) + " - " +
                  platform::error_message(code),
              nullptr);
  return nullptr;
}

bool Engine::Stop() {
  if (state_.load() == kStateStopped) return false;
  state_ = kStateStopping;
  stop_ = true;
  available_ = false;
  // Nothing may reopen the logs behind the close below.
  StopHousekeeping();
  // Connections still running write their access lines as they end, so the
  // logs close only after the last of them.
  if (pool_) {
    pool_->Stop();
    pool_.reset();
  }
  if (parts_.end_extensions) parts_.end_extensions();
  logs_.Flush();
  logs_.Close();
  // Nothing is left to reload; closing also removes the event's file on
  // POSIX, where the system would otherwise keep it.
  flush_event_.reset();
  state_ = kStateStopped;
  return true;
}

void Engine::StartHousekeeping() {
  const uint32_t interval = housekeeping_interval_ms_;
  if (interval == 0) return;
  {
    std::lock_guard<std::mutex> lock(housekeeping_mu_);
    housekeeping_quit_ = false;
  }
  try {
    housekeeper_ = std::thread([this, interval] {
      std::unique_lock<std::mutex> lock(housekeeping_mu_);
      while (!housekeeping_wake_.wait_for(lock, std::chrono::milliseconds(interval),
                                          [this] { return housekeeping_quit_; })) {
        lock.unlock();
        {
          std::lock_guard<std::mutex> control(control_mu_);
          logs_.WriteBuffered();
          Housekeeping();
        }
        lock.lock();
      }
    });
  } catch (...) {
    // No thread to be had: the host's "IDLE" still does the work.
  }
}

void Engine::StopHousekeeping() {
  {
    std::lock_guard<std::mutex> lock(housekeeping_mu_);
    housekeeping_quit_ = true;
  }
  housekeeping_wake_.notify_all();
  if (housekeeper_.joinable()) housekeeper_.join();
}

bool Engine::Pause() {
  int32_t expected = kStateRunning;
  if (!state_.compare_exchange_strong(expected, kStatePaused)) return false;
  available_ = false;
  return true;
}

bool Engine::Resume() {
  int32_t expected = kStatePaused;
  if (!state_.compare_exchange_strong(expected, kStateRunning)) return false;
  available_ = true;
  return true;
}

bool Engine::Flush() {
  std::lock_guard<std::mutex> lock(control_mu_);
  FlushLocked();
  return true;
}

void Engine::FlushLocked() {
  Pause();
  logs_.Trace("Flushing server configuration and unloading inactive ISAPI modules", nullptr);
  if (parts_.unload_idle_extensions) parts_.unload_idle_extensions();
  auto next = std::make_shared<EngineSnapshot>();
  if (!LoadSettings(&next->settings, profile_)) {
    // Keep serving with what we have; a request never sees a missing list.
    if (auto current = snapshot()) next->settings = current->settings;
  }
  BuildVirtualServers(next.get(), &logs_);
  PublishSnapshot(next);
  documents_.Clear();
  logs_.Open(next->settings);
  last_log_flush_ = platform::tick_count();
  Resume();
}

bool Engine::GetInfo(ServerInfo* info) {
  if (!info) return true;
  info->state = state_.load();
  info->kind = 7;
  info->start_time = start_time_;
  std::memset(info->description, 0, sizeof info->description);
  std::strncpy(info->description, "Web Server", sizeof info->description - 1);
  return true;
}

bool Engine::QueryValue(char* buffer, int size) {
  if (!buffer) return false;
  uint32_t value = 0;
  if (std::strcmp(buffer, kQueryNumClients) == 0) {
    value = current_clients_.load();
  } else if (std::strcmp(buffer, kQueryNumRequests) == 0) {
    value = statistics_.requests();
  } else if (std::strcmp(buffer, kQueryBytesSent) == 0) {
    value = statistics_.bytes_sent();
  } else if (std::strcmp(buffer, kQueryBytesReceived) == 0) {
    value = statistics_.bytes_received();
  } else if (std::strcmp(buffer, kQueryPort) == 0) {
    auto snap = snapshot();
    value = snap ? snap->settings.port : ServerSettings().port;
  } else {
    return false;
  }
  // The host passes an 80-character buffer; never write past a smaller one.
  size_t room = size > 0 ? static_cast<size_t>(size) : 80;
  std::snprintf(buffer, room, "%u", value);
  return true;
}

bool Engine::SetLogHook(LogHookFunction hook, int32_t level, uintptr_t user) {
  logs_.SetHook(hook, level, user);
  return true;
}

bool Engine::ResolveDynamicIp() {
  last_resolve_ = platform::tick_count();
  auto current = snapshot();
  auto next = std::make_shared<EngineSnapshot>();
  if (current) {
    next->settings = current->settings;
  } else if (!LoadSettings(&next->settings, profile_)) {
    return false;
  }
  bool changed = false;
  bool found = parts_.resolve_dynamic_address(&next->settings, profile_, logs_, &changed);
  if (!changed || !current) return found;
  // Requests that select by SiteIP see the new address from now on.
  BuildVirtualServers(next.get(), &logs_);
  PublishSnapshot(next);
  return found;
}

void Engine::Housekeeping() {
  uint32_t now = platform::tick_count();
  auto current = snapshot();
  if (current && current->settings.dynamic_ip && now - last_resolve_ > current->settings.dynamic_refresh)
    ResolveDynamicIp();
  if (now - last_log_flush_ > 900000u) {
    last_log_flush_ = platform::tick_count();
    logs_.Flush();
  }
  if (flush_event_ && platform::event_is_set(flush_event_.get())) {
    FlushLocked();
    platform::event_reset(flush_event_.get());
  }
}

bool Engine::Command(const char* name, int32_t, int32_t) {
  if (!name) return false;
  if (std::strcmp(name, kCommandResolveIp) == 0) {
    std::lock_guard<std::mutex> lock(control_mu_);
    return ResolveDynamicIp();
  }
  if (std::strcmp(name, kCommandImportWebsite) == 0) return false;  // the import always fails
  if (std::strcmp(name, kCommandExportWebsite) == 0) {
    if (auto snap = snapshot()) return ExportForeignConfiguration(snap->settings);
    ServerSettings loaded;  // not started: export what the profile holds
    return LoadSettings(&loaded, profile_) && ExportForeignConfiguration(loaded);
  }
  if (std::strcmp(name, kCommandIdle) == 0) {
    std::lock_guard<std::mutex> lock(control_mu_);
    logs_.WriteBuffered();  // access lines reach the file within one idle period
    Housekeeping();
    return true;
  }
  return false;
}

}  // namespace brisvane
