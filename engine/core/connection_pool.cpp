#include "engine/core/connection_pool.h"

#include <thread>

#include "engine/core/engine.h"
#include "platform/system.h"

namespace brisvane {

ConnectionPool::ConnectionPool(std::unique_ptr<Socket> listener, int acceptors, Engine* engine)
    : listener_(std::move(listener)), acceptors_(acceptors <= 0 ? 1 : acceptors), engine_(engine) {
  if (acceptors_ > 1024) acceptors_ = 16;
  // A large backlog: bursts of new connections wait in the kernel rather
  // than being refused while the acceptors are busy.
  listener_->Listen(1024);
}

ConnectionPool::~ConnectionPool() { Stop(); }

void ConnectionPool::Start() {
  for (int i = 0; i < acceptors_; ++i)
    if (!StartWorker()) break;  // no more threads to be had: serve with what we have
}

bool ConnectionPool::StartWorker() {
  threads_alive_.fetch_add(1);
  try {
    std::thread([this] { Worker(); }).detach();
    return true;
  } catch (...) {
    threads_alive_.fetch_sub(1);
    return false;
  }
}

void ConnectionPool::Worker() {
  if (!listener_->IsValid()) {
    // No listener could be made: wait for Stop instead of spinning.
    while (!stopping_.load()) platform::sleep_ms(100);
  }
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
    if (still_waiting == 0) StartWorker();
    Serve(std::move(accepted));
    if (accepting_.load() >= max_waiting) break;
  }
  threads_alive_.fetch_sub(1);
}

void ConnectionPool::Serve(std::unique_ptr<Socket> socket) {
  active_.fetch_add(1);
  {
    std::lock_guard<std::mutex> lock(connections_mu_);
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
    if (stopping_.exchange(true) && threads_alive_.load() == 0) return;
    // Shutting the listener down wakes the threads blocked in accept; the
    // handle stays open until every thread has left, so none can touch a
    // reused handle number.
    if (listener_->IsValid()) listener_->Shutdown(2);
    for (platform::SocketHandle h : open_) platform::socket_shutdown(h, 2);
  }
  WakeAcceptors();
  while (threads_alive_.load() != 0) platform::sleep_ms(10);
  listener_->Close();
}

}  // namespace brisvane
