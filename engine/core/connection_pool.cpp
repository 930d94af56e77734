#include "engine/core/connection_pool.h"

#include <string>
#include <thread>

#include "engine/core/engine.h"
#include "platform/system.h"

namespace brisvane {

ConnectionPool::ConnectionPool(std::unique_ptr<Socket> listener, int acceptors, Engine* engine)
    : listener_(std::move(listener)), acceptors_(acceptors <= 0 ? 1 : acceptors), engine_(engine) {
  if (acceptors_ > 1024) acceptors_ = 16;
}

ConnectionPool::~ConnectionPool() { Stop(); }

bool ConnectionPool::Start() {
  // A large backlog: bursts of new connections wait in the kernel rather
  // than being refused while the acceptors are busy.
  if (!listener_->Listen(1024)) return false;
  int started = 0;
  for (int i = 0; i < acceptors_; ++i) {
    if (!StartWorker()) break;  // no more threads to be had: serve with what we have
    ++started;
  }
  return started > 0;
}

bool ConnectionPool::StartWorker() {
  JoinEnded();
  std::lock_guard<std::mutex> lock(threads_mu_);
  // Stop no longer waits for threads started after it began.
  if (stopping_.load()) return false;
  try {
    // The new thread cannot end before it is entered here: ending takes
    // the lock held now.
    std::thread worker([this] { Worker(); });
    const std::thread::id id = worker.get_id();
    running_.emplace(id, std::move(worker));
    return true;
  } catch (...) {
    return false;
  }
}

void ConnectionPool::WorkerEnded() {
  std::lock_guard<std::mutex> lock(threads_mu_);
  auto self = running_.find(std::this_thread::get_id());
  if (self != running_.end()) {
    ended_.push_back(std::move(self->second));
    running_.erase(self);
  }
  if (running_.empty()) all_ended_.notify_all();
}

void ConnectionPool::JoinEnded() {
  std::vector<std::thread> ended;
  {
    std::lock_guard<std::mutex> lock(threads_mu_);
    ended.swap(ended_);
  }
  // Each has left the lock for good and is returning.
  for (std::thread& t : ended) t.join();
}

void ConnectionPool::Worker() {
  // More waiters than this and a thread that finishes its connection ends.
  const int max_waiting = acceptors_ * 2;
  while (!stopping_.load()) {
    // The threads block in accept together; the system hands each new
    // connection to exactly one of them, so no lock is needed around it.
    // They call the platform directly: the listener's error field is not
    // theirs to share.
    accepting_.fetch_add(1);
    platform::SocketHandle h = platform::socket_accept(listener_->handle());
    int still_waiting = accepting_.fetch_sub(1) - 1;
    if (h == platform::kInvalidSocket) {
      if (!stopping_.load()) platform::sleep_ms(10);  // out of handles, say: do not spin
      continue;
    }
    std::unique_ptr<Socket> accepted(new Socket(h));
    if (stopping_.load()) break;
    if (!TakeConnection()) continue;  // closed with `accepted`, no thread started
    if (still_waiting == 0) StartWorker();
    Serve(std::move(accepted));
    if (accepting_.load() >= max_waiting) break;
  }
  WorkerEnded();
}

bool ConnectionPool::TakeConnection() {
  auto snap = engine_->snapshot();
  const uint32_t limit = snap ? snap->settings.max_connections : 0;
  // Counted before the check, so that acceptors taking connections at the
  // same moment cannot pass the limit together.
  const uint32_t open = active_.fetch_add(1);
  if (limit == 0 || open < limit) {
    refusing_.store(false);
    return true;
  }
  active_.fetch_sub(1);
  // One line for each run of refusals: a flood must not fill the log.
  if (!refusing_.exchange(true)) {
    engine_->logs().Error("Connection refused: " + std::to_string(open) +
                              " connections open, MaxConnections is " + std::to_string(limit),
                          nullptr);
  }
  return false;
}

void ConnectionPool::Serve(std::unique_ptr<Socket> socket) {
  {
    std::lock_guard<std::mutex> lock(connections_mu_);
    // Accepted just as Stop shut the open connections down: this one goes
    // down too, or Stop would wait for its client.
    if (stopping_.load()) platform::socket_shutdown(socket->handle(), 2);
    open_.insert(socket->handle());
  }
  HandleConnection(*engine_, *socket);
  {
    std::lock_guard<std::mutex> lock(connections_mu_);
    open_.erase(socket->handle());
  }
  socket.reset();
  active_.fetch_sub(1);
}

// Where shutting a listener down does not wake a thread blocked in accept,
// a connection of our own does; each one wakes one waiter, which then sees
// that the pool is stopping.
void ConnectionPool::WakeAcceptors() {
  platform::SockAddrV4 addr;
  if (!listener_->IsValid() || !listener_->LocalAddress(&addr)) return;
  platform::parse_ipv4("127.0.0.1", &addr.addr);
  for (int round = 0; round < 200 && accepting_.load() > 0; ++round) {
    Socket poke;
    poke.CreateStream();
    poke.SetBlocking(false);
    poke.Connect(addr);
    platform::sleep_ms(10);
  }
}

void ConnectionPool::Stop() {
  {
    std::lock_guard<std::mutex> lock(connections_mu_);
    stopping_.store(true);
    // Shutting the listener down wakes the threads blocked in accept; the
    // handle stays open until every thread has left, so none can touch a
    // reused handle number.
    if (listener_->IsValid()) listener_->Shutdown(2);
    for (platform::SocketHandle h : open_) platform::socket_shutdown(h, 2);
  }
  WakeAcceptors();
  {
    std::unique_lock<std::mutex> lock(threads_mu_);
    all_ended_.wait(lock, [this] { return running_.empty(); });
  }
  JoinEnded();
  listener_->Close();
}

}  // namespace brisvane
