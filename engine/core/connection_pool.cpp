#include "engine/core/connection_pool.h"

#include <chrono>

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
  std::lock_guard<std::mutex> lock(connections_mu_);
  for (int i = 0; i < acceptors_; ++i) {
    try {
      acceptors_running_.fetch_add(1);
      threads_.emplace_back([this] {
        AcceptLoop();
        acceptors_running_.fetch_sub(1);
      });
    } catch (...) {
      acceptors_running_.fetch_sub(1);
      break;  // no more threads to be had: serve with what we have
    }
  }
}

void ConnectionPool::AcceptLoop() {
  if (!listener_->IsValid()) {
    // No listener could be made: wait for Stop instead of spinning.
    while (!stopping_.load()) platform::sleep_ms(100);
  }
  while (!stopping_.load()) {
    // The acceptors block in accept together; the system hands each new
    // connection to exactly one of them, so no lock is needed around it.
    // The acceptors share the listener object, so they call the platform
    // directly rather than through it: its error field is not theirs.
    platform::SocketHandle h = platform::socket_accept(listener_->handle());
    if (h == platform::kInvalidSocket) continue;
    std::unique_ptr<Socket> accepted(new Socket(h));
    if (stopping_.load()) break;
    active_.fetch_add(1);
    {
      std::lock_guard<std::mutex> lock(connections_mu_);
      open_.insert(accepted->handle());
    }
    Socket* raw = accepted.release();
    if (!Dispatch(raw)) {
      // No thread could be had: close the connection and go on.
      {
        std::lock_guard<std::mutex> lock(connections_mu_);
        open_.erase(raw->handle());
      }
      delete raw;
      active_.fetch_sub(1);
    }
  }
}

bool ConnectionPool::Dispatch(Socket* socket) {
  {
    std::lock_guard<std::mutex> lock(idle_mu_);
    if (idle_threads_ > static_cast<int>(handoff_.size())) {
      handoff_.push_back(socket);
      idle_cv_.notify_one();
      return true;
    }
  }
  try {
    threads_alive_.fetch_add(1);
    std::thread([this, socket] { ConnectionThread(socket); }).detach();
    return true;
  } catch (...) {
    threads_alive_.fetch_sub(1);
    return false;
  }
}

void ConnectionPool::ConnectionThread(Socket* first) {
  constexpr auto kIdleWait = std::chrono::seconds(30);
  Socket* next = first;
  while (next) {
    RunConnection(std::unique_ptr<Socket>(next));
    next = nullptr;
    std::unique_lock<std::mutex> lock(idle_mu_);
    ++idle_threads_;
    idle_cv_.wait_for(lock, kIdleWait, [this] { return !handoff_.empty() || stopping_.load(); });
    --idle_threads_;
    if (!handoff_.empty()) {
      next = handoff_.front();
      handoff_.pop_front();
    }
  }
  threads_alive_.fetch_sub(1);
}

void ConnectionPool::RunConnection(std::unique_ptr<Socket> socket) {
  HandleConnection(*engine_, *socket);
  {
    std::lock_guard<std::mutex> lock(connections_mu_);
    open_.erase(socket->handle());
  }
  socket.reset();
  active_.fetch_sub(1);
}

// Where shutting a listener down does not wake a thread blocked in accept,
// a connection of our own does; each one wakes one acceptor, which then sees
// that the pool is stopping.
void ConnectionPool::WakeAcceptors() {
  platform::SockAddrV4 addr;
  if (!listener_->IsValid() || !listener_->LocalAddress(&addr)) return;
  platform::parse_ipv4("127.0.0.1", &addr.addr);
  for (int round = 0; round < 200 && acceptors_running_.load() > 0; ++round) {
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
    if (stopping_.exchange(true) && threads_.empty()) return;
    // Shutting the listener down wakes the acceptor blocked in accept; the
    // handle stays open until every acceptor has left, so no acceptor can
    // touch a reused handle number.
    if (listener_->IsValid()) {
      listener_->SetBlocking(false);
      listener_->SetLinger(true, 0);
      listener_->Shutdown(2);
    }
    for (platform::SocketHandle h : open_) platform::socket_shutdown(h, 2);
  }
  WakeAcceptors();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
  threads_.clear();
  while (active_.load() != 0) platform::sleep_ms(50);
  // Idle connection threads leave once they see the pool stopping.
  {
    std::lock_guard<std::mutex> lock(idle_mu_);
    idle_cv_.notify_all();
  }
  while (threads_alive_.load() != 0) platform::sleep_ms(10);
  listener_->Close();
}

}  // namespace brisvane
