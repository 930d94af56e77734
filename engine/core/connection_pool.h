// Accepts connections and gives each one a thread of its own that runs the
// keep-alive loop, up to MaxConnections at once. Remembers every open connection so that Stop can shut
// them all down and wait for their threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
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
  // Takes the listener.
  ConnectionPool(std::unique_ptr<Socket> listener, int acceptors, Engine* engine);
  ~ConnectionPool();

  // Listens and starts the acceptor threads. False when the listener cannot
  // listen (the socket layer has told the user) or no thread could be made.
  bool Start();
  // Closes the listener, shuts down every open connection and returns when
  // every thread has ended.
  void Stop();

  uint32_t active_connections() const { return active_.load(); }

 private:
  // Every thread of the pool runs this: wait in accept, then serve the
  // connection it accepted on the same thread, then accept again. A thread
  // that accepts when no other is left waiting starts one more first, so
  // new connections are always taken while old ones are served, and every
  // connection still has a thread of its own; surplus waiters end.
  void Worker();
  bool StartWorker();
  // A worker that ends hands its own thread over to be joined.
  void WorkerEnded();
  // Joins the threads that have ended.
  void JoinEnded();
  // Counts a new connection in, or false when MaxConnections are already
  // open: the caller closes it at once.
  bool TakeConnection();
  // Serves a connection TakeConnection counted.
  void Serve(std::unique_ptr<Socket> socket);
  void WakeAcceptors();

  std::unique_ptr<Socket> listener_;
  int acceptors_;
  Engine* engine_;
  std::atomic<uint32_t> active_{0};
  std::atomic<bool> stopping_{false};
  // A refusal at MaxConnections has been logged and none admitted since.
  std::atomic<bool> refusing_{false};
  std::atomic<int> accepting_{0};
  std::mutex connections_mu_;
  std::set<platform::SocketHandle> open_;

  // Every worker's thread, by id, until it ends; then in ended_ until a
  // later start or Stop joins it. Stop waits for running_ to empty.
  std::mutex threads_mu_;
  std::condition_variable all_ended_;
  std::map<std::thread::id, std::thread> running_;
  std::vector<std::thread> ended_;
};

// The keep-alive loop of one connection.
void HandleConnection(Engine& engine, Socket& socket);

}  // namespace brisvane
