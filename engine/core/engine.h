// The engine instance: state, flags, counters, configuration snapshot,
// logs, statistics and the connection pool.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/product.h"
#include "engine/core/document_cache.h"
#include "engine/core/engine_parts.h"
#include "engine/core/server_instance.h"
#include "engine/core/virtual_server.h"
#include "engine/core/log_writer.h"
#include "engine/core/statistics.h"
#include "platform/scoped_handle.h"

namespace brisvane {

class ConnectionPool;
class Socket;

class Engine final : public ServerInstance {
 public:
  Engine();
  ~Engine() override;

  bool SetProfile(const char* profile) override;
  bool Start() override;
  bool Stop() override;
  bool Pause() override;
  bool Resume() override;
  bool Flush() override;
  bool GetInfo(ServerInfo* info) override;
  bool QueryValue(char* buffer, int size) override;
  bool SetLogHook(LogHookFunction hook, int32_t level, uintptr_t user) override;
  bool Command(const char* name, int32_t a, int32_t b) override;

  // What connection threads read.
  std::shared_ptr<const EngineSnapshot> snapshot() const;
  EngineLogs& logs() { return logs_; }
  Statistics& statistics() { return statistics_; }
  DocumentCache& documents() { return documents_; }
  int32_t state() const { return state_.load(); }
  bool stop_flag() const { return stop_.load(std::memory_order_relaxed); }
  const std::atomic<bool>& stop_signal() const { return stop_; }
  bool available() const { return available_.load(std::memory_order_relaxed); }
  const HandlerTable& handlers() const { return handlers_; }
  std::atomic<uint32_t>& current_clients() { return current_clients_; }
  // The port the listener really bound (differs from the setting for 0).
  uint16_t bound_port() const { return bound_port_; }
  // The same for the TLS listener; 0 when there is none.
  uint16_t bound_ssl_port() const { return bound_ssl_port_; }

  // How often the engine runs its housekeeping on its own while started
  // (default kHousekeepingIntervalMs); 0 leaves it to "IDLE" alone (tests
  // of the idle command use it). Takes effect at the next Start.
  void SetHousekeepingInterval(uint32_t ms) { housekeeping_interval_ms_ = ms; }
  static constexpr uint32_t kHousekeepingIntervalMs = 2000;

 private:
  // Each needs control_mu_ held.
  void Housekeeping();
  void FlushLocked();
  // Learns the public address and lets the virtual servers that follow it
  // take it; records the time of the attempt. False when none was found.
  bool ResolveDynamicIp();

  // The housekeeping thread: runs Housekeeping every interval until
  // StopHousekeeping, which returns once the thread has ended.
  void StartHousekeeping();
  void StopHousekeeping();
  // Start's way out when the server cannot run: the logs keep the reason.
  bool FailStart();
  // The listener on SSLPort when some virtual server uses TLS; null (with
  // an error line when it cannot bind) otherwise.
  std::unique_ptr<Socket> OpenTlsListener(const ServerSettings& s);

  const EngineParts& parts_;
  const HandlerTable& handlers_;
  platform::ScopedEvent flush_event_;
  std::atomic<int32_t> state_{kStateStopped};
  bool nt_ = true;
  std::atomic<bool> stop_{false};
  std::atomic<bool> available_{true};
  std::atomic<uint32_t> current_clients_{0};
  std::string profile_ = "Default";
  Statistics statistics_;
  DocumentCache documents_;
  EngineLogs logs_;
  uint32_t start_time_ = 0;
  uint32_t last_log_flush_ = 0;
  uint32_t last_resolve_ = 0;
  uint16_t bound_port_ = 0;
  uint16_t bound_ssl_port_ = 0;
  bool sockets_started_ = false;

  // Flush, the housekeeping and the dynamic-address refresh reload the
  // configuration and reopen the logs; the control thread and the
  // housekeeping thread both run them, one at a time.
  std::mutex control_mu_;
  uint32_t housekeeping_interval_ms_ = kHousekeepingIntervalMs;
  std::mutex housekeeping_mu_;
  std::condition_variable housekeeping_wake_;
  bool housekeeping_quit_ = false;
  std::thread housekeeper_;

  // Read by every request, replaced by Start and Flush.
  mutable std::mutex snapshot_mu_;
  std::shared_ptr<const EngineSnapshot> snapshot_;
  void PublishSnapshot(std::shared_ptr<const EngineSnapshot> next);
  std::unique_ptr<ConnectionPool> pool_;
};

}  // namespace brisvane
