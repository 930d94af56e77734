// Accepts connections and gives each one a thread of its own that runs the
// keep-alive loop. Remembers every open connection so that Stop can shut
// them all down and wait for their threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
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
  // Gives the connection to an idle connection thread, or starts a new one.
  bool Dispatch(Socket* socket);
  void ConnectionThread(Socket* first);

  std::unique_ptr<Socket> listener_;
  int acceptors_;
  Engine* engine_;
  std::vector<std::thread> threads_;
  std::atomic<uint32_t> active_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> acceptors_running_{0};
  std::mutex connections_mu_;
  std::set<platform::SocketHandle> open_;

  // Connection threads that finished their connection wait a while for the
  // next one instead of ending: a new connection then costs a wake-up, not
  // a thread start. Every connection still has a thread of its own.
  std::mutex idle_mu_;
  std::condition_variable idle_cv_;
  std::deque<Socket*> handoff_;
  int idle_threads_ = 0;
  std::atomic<int> threads_alive_{0};
};

// The keep-alive loop of one connection.
void HandleConnection(Engine& engine, Socket& socket);

}  // namespace brisvane
