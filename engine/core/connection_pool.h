// Accepts connections and gives each one a thread of its own that runs the
// keep-alive loop. Remembers every open connection so that Stop can shut
// them all down and wait for their threads.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/core/socket.h"

namespace brisvane {

class Engine;

class ConnectionPool {
 public:
  // Takes the listener and starts listening on it (backlog as configured
  // by the caller's socket layer).
  ConnectionPool(std::unique_ptr<Socket> listener, int acceptors, Engine* engine);
  ~ConnectionPool();

  void Start();
  // Closes the listener, shuts down every open connection and returns when
  // every thread has ended.
  void Stop();

  uint32_t active_connections() const { return active_.load(); }

 private:
  void AcceptLoop();
  void RunConnection(std::unique_ptr<Socket> socket);
  void WakeAcceptors();

  std::unique_ptr<Socket> listener_;
  int acceptors_;
  Engine* engine_;
  std::vector<std::thread> threads_;
  std::atomic<uint32_t> active_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> acceptors_running_{0};
  std::mutex listener_mu_;
  std::mutex connections_mu_;
  std::set<platform::SocketHandle> open_;
};

// The keep-alive loop of one connection.
void HandleConnection(Engine& engine, Socket& socket);

}  // namespace brisvane
