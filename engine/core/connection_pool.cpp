#include "engine/core/connection_pool.h"

#include <algorithm>
#include <string>

#include "engine/core/connection_handler.h"
#include "engine/core/engine.h"
#include "engine/core/tls_sites.h"
#include "platform/error.h"
#include "platform/system.h"

namespace brisvane {
namespace {

// How often the accept thread looks at Stop and at parked deadlines; also
// how long it rests when the process is out of descriptors.
constexpr uint32_t kAcceptBeatMs = 100;
// Most connections taken from one readiness of the listener.
constexpr int kAcceptBurst = 64;
// Time-outs when no settings are at hand (the built-in defaults).
constexpr uint32_t kDefaultTimeoutMs = 45000;

// Fewest threads that wait in the set at once (more with more cores): one
// may be between a wake-up and its request while another waits.
constexpr int kMinWaiters = 2;
// How often a worker tries the table's lock before it waits for it: about
// as long as an arming takes.
constexpr int kTakeSpins = 200;
// Why a handshake that never finished was ended.
std::string TimedOut() { return platform::error_message(platform::err::kWsaTimedOut); }

// Tick counts wrap after 49 days; compare by difference.
bool Passed(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) >= 0; }

}  // namespace

ConnectionPool::ConnectionPool(std::unique_ptr<Socket> listener, std::unique_ptr<Socket> secure_listener,
                               int workers, Engine* engine)
    : listener_(std::move(listener)),
      secure_listener_(std::move(secure_listener)),
      workers_(workers <= 0 ? 1 : workers), engine_(engine),
      max_waiting_(std::clamp(static_cast<int>(std::thread::hardware_concurrency()), kMinWaiters, workers_)) {}

ConnectionPool::~ConnectionPool() { Stop(); }

bool ConnectionPool::Start() {
  // A large backlog: bursts of new connections wait in the kernel rather
  // than being refused while the accept thread is busy.
  if (!listener_->Listen(1024)) return false;
  // The accept thread waits for readiness itself and must never block in
  // accept for a connection that went away meanwhile.
  if (!poller_.ok() || !listener_->SetBlocking(false)) return false;
  if (secure_listener_ && (!secure_listener_->Listen(1024) || !secure_listener_->SetBlocking(false)))
    return false;
  try {
    for (int i = 0; i < workers_; ++i) threads_.emplace_back([this] { Worker(); });
  } catch (...) {
    // no more threads to be had: serve with what we have
  }
  if (threads_.empty()) return false;
  try {
    acceptor_ = std::thread([this] { AcceptLoop(); });
  } catch (...) {
    Stop();
    return false;
  }
  return true;
}

void ConnectionPool::AcceptLoop() {
  uint32_t swept = platform::tick_count();
  platform::SocketHandle listening[2] = {listener_->handle()};
  size_t listeners = 1;
  if (secure_listener_) listening[listeners++] = secure_listener_->handle();
  while (!stopping_.load()) {
    if (platform::socket_wait_readable(listening, listeners, kAcceptBeatMs) > 0) {
      // A burst is taken whole, up to a bound, before anything else.
      for (int i = 0; i < kAcceptBurst && Accept(*listener_, false); ++i) {
      }
      for (int i = 0; secure_listener_ && i < kAcceptBurst && Accept(*secure_listener_, true); ++i) {
      }
    }
    const uint32_t now = platform::tick_count();
    if (now - swept >= kAcceptBeatMs) {
      swept = now;
      Sweep();
    }
  }
}

bool ConnectionPool::Accept(Socket& listener, bool secure) {
  platform::SocketHandle h = platform::kInvalidSocket;
  switch (platform::socket_accept_connection(listener.handle(), &h)) {
    case platform::AcceptOutcome::kAccepted:
      starved_ = false;
      break;
    case platform::AcceptOutcome::kNoResources: {
      // Accepting again at once would fail the same way: rest until
      // descriptors come back, and say so once per shortage.
      const platform::os_error code = platform::socket_last_error();
      if (!starved_) {
        starved_ = true;
        engine_->logs().Error("Unable to accept a connection, waiting for descriptors - " +
                                  platform::error_message(code),
                              nullptr);
      }
      platform::sleep_ms(kAcceptBeatMs);
      return false;
    }
    case platform::AcceptOutcome::kWouldBlock:
    case platform::AcceptOutcome::kFailed:
      return false;  // none waiting, or gone before it was taken
  }
  auto c = std::make_unique<Connection>();
  c->socket = std::make_unique<Socket>(h);
  if (!TakeConnection()) return true;  // closed with `c`
  auto snap = engine_->snapshot();
  if (secure) {
    // The certificates of this moment's configuration; a later Flush
    // leaves this connection with them.
    platform::SockAddrV4 local;
    auto table = snap && c->socket->LocalAddress(&local)
                     ? TlsTableFor(*snap, platform::format_ipv4(local.addr))
                     : nullptr;
    if (!c->socket->StartTls(std::move(table))) {
      TraceTlsFailure(*c->socket, c->socket->TlsFailure());
      open_.fetch_sub(1);
      return true;  // closed with `c`
    }
  }
  const uint32_t recv_timeout = snap ? snap->settings.recv_timeout : kDefaultTimeoutMs;
  // A client that connects and sends nothing has RecvTimeOut for its
  // head, counted from now.
  c->head_started = true;
  c->head_start = platform::tick_count();
  c->has_deadline = recv_timeout != 0;
  c->deadline = c->head_start + recv_timeout;
  c->parked = true;
  std::unique_ptr<Connection> failed;
  {
    std::lock_guard<std::mutex> lock(table_mu_);
    const uintptr_t key = next_key_++;
    if (poller_.add(h, key, platform::PollInterest::kReadable))
      table_.emplace(key, std::move(c));
    else
      failed = std::move(c);
  }
  if (failed) Dispose(std::move(failed));
  return true;
}

bool ConnectionPool::TakeConnection() {
  auto snap = engine_->snapshot();
  const uint32_t limit = snap ? snap->settings.max_connections : 0;
  const uint32_t open = open_.fetch_add(1);
  if (limit == 0 || open < limit) {
    refusing_.store(false);
    return true;
  }
  open_.fetch_sub(1);
  // One line for each run of refusals: a flood must not fill the log.
  if (!refusing_.exchange(true)) {
    engine_->logs().Error("Connection refused: " + std::to_string(open) +
                              " connections open, MaxConnections is " + std::to_string(limit),
                          nullptr);
  }
  return false;
}

void ConnectionPool::Worker() {
  Follower self;
  while (!stopping_.load()) {
    if (!BecomeWaiter(self)) break;
    platform::PollEvent event;
    const int n = poller_.wait(&event, 1, platform::kWaitInfinite);
    LeaveWaiting();
    if (n < 0) platform::sleep_ms(10);  // never spin on a failing set
    if (n == 0) ServeLate();  // woken: a body's time may have run out
    if (n <= 0) continue;
    if (Connection* c = Take(event.key)) Serve(event.key, *c);
  }
}

bool ConnectionPool::BecomeWaiter(Follower& self) {
  std::unique_lock<std::mutex> lock(waiters_mu_);
  if (waiting_ >= max_waiting_) {
    // Enough threads wait in the set already: a woken one is always a
    // recently busy one (the last in is the first out), never one of
    // hundreds of cold threads taking turns.
    self.promoted = false;
    followers_.push_back(&self);
    self.wake.wait(lock, [&] { return self.promoted || stopping_.load(); });
    if (!self.promoted) return false;
  }
  ++waiting_;
  return true;
}

void ConnectionPool::LeaveWaiting() {
  std::lock_guard<std::mutex> lock(waiters_mu_);
  // The last waiter going to serve a request calls a follower to the set,
  // so that a slow request never leaves the set without a thread.
  if (--waiting_ == 0 && !followers_.empty()) {
    Follower* next = followers_.back();
    followers_.pop_back();
    next->promoted = true;
    next->wake.notify_one();
  }
}

ConnectionPool::Connection* ConnectionPool::Take(uintptr_t key) {
  // The thread that armed the connection may still hold the lock for a
  // moment after the arming woke this one: spin briefly rather than sleep
  // and be woken again.
  std::unique_lock<std::mutex> lock(table_mu_, std::try_to_lock);
  for (int i = 0; i < kTakeSpins && !lock.owns_lock(); ++i) lock.try_lock();
  if (!lock.owns_lock()) lock.lock();
  auto it = table_.find(key);
  if (it == table_.end() || !it->second->parked) return nullptr;
  it->second->parked = false;
  return it->second.get();
}

void ConnectionPool::Serve(uintptr_t key, Connection& c) {
  Socket& socket = *c.socket;
  while (!stopping_.load() && !engine_->stop_flag()) {
    if (socket.HandshakePending()) {
      switch (socket.ContinueHandshake()) {
        case Socket::Handshake::kDone:
          continue;
        case Socket::Handshake::kWantRead:
          return Park(key, c);
        case Socket::Handshake::kWantWrite:
          return Park(key, c, platform::PollInterest::kWritable);
        case Socket::Handshake::kFailed:
          TraceTlsFailure(socket, socket.TlsFailure());
          return Close(key);
      }
    }
    if (!c.request) {
      if (!socket.HeadBuffered()) {
        switch (socket.ReceiveAvailable()) {
          case Socket::Arrival::kData:
            if (!c.head_started) {
              c.head_started = true;
              c.head_start = platform::tick_count();
            }
            continue;
          case Socket::Arrival::kNothing:
            return Park(key, c);
          case Socket::Arrival::kClosed:
          case Socket::Arrival::kFailed:
            return Close(key);
        }
      }
      if (!c.served) {
        auto snap = engine_->snapshot();
        if (!snap) break;
        // A plain socket stays blocking for good: the layer's own reads
        // never wait, and a mode switch around every request costs system
        // calls on the fast path. An encrypted one stays non-blocking: its
        // session does the waiting.
        if (!socket.secure() && !socket.SetBlocking(true)) break;
        c.served = true;
        socket.SetReceiveTimeout(snap->settings.recv_timeout);
        socket.SetSendTimeout(snap->settings.send_timeout);
        socket.SetNoDelay(true);
      }
      c.head_started = false;
      c.request = BeginRequest(*engine_, socket);
      if (!c.request) break;
    }
    // The body, as far as it has come; the connection waits parked for
    // the rest.
    if (!c.request->body.Take(socket)) {
      switch (socket.ReceiveAvailable()) {
        case Socket::Arrival::kData:
          continue;
        case Socket::Arrival::kNothing:
          return Park(key, c);
        case Socket::Arrival::kClosed:
        case Socket::Arrival::kFailed:
          c.request->body.Cut();
          break;
      }
    }
    const uint32_t keep_alive = c.request->ctx.snapshot->settings.keep_alive;
    const bool keep = FinishRequest(*engine_, socket, *c.request);
    c.request.reset();
    if (!keep) break;
    if (socket.HasBuffered()) continue;
    // A kept connection with a wait of 0 takes only a request already on
    // its way.
    if (keep_alive == 0) {
      if (socket.ReceiveAvailable() != Socket::Arrival::kData) break;
      c.head_started = true;
      c.head_start = platform::tick_count();
      continue;
    }
    // The client reads its answer before it sends again: the next
    // request is rarely here yet, so the set is asked rather than the
    // socket (one call less per request, and no wait is lost: an
    // arrival already queued is reported by the next wait).
    return Park(key, c);
  }
  Close(key);
}

void ConnectionPool::TraceTlsFailure(Socket& socket, const std::string& why) {
  platform::SockAddrV4 peer;
  const std::string client = socket.PeerAddress(&peer) ? platform::format_ipv4(peer.addr) : "unknown";
  engine_->logs().Trace("TLS handshake with " + client + " failed - " + why, nullptr);
}

void ConnectionPool::ServeLate() {
  uintptr_t key = 0;
  Connection* c = nullptr;
  {
    std::lock_guard<std::mutex> lock(table_mu_);
    if (late_.empty()) return;
    key = late_.back();
    late_.pop_back();
    auto it = table_.find(key);
    if (it == table_.end()) return;
    c = it->second.get();
  }
  // Its receive time ran out: what a timed-out receive of the body means.
  c->request->body.Cut();
  Serve(key, *c);
}

void ConnectionPool::Park(uintptr_t key, Connection& c, platform::PollInterest interest) {
  auto snap = engine_->snapshot();
  const uint32_t recv_timeout = snap ? snap->settings.recv_timeout : kDefaultTimeoutMs;
  const uint32_t keep_alive = snap ? snap->settings.keep_alive : kDefaultTimeoutMs;
  const uint32_t now = platform::tick_count();
  if (c.request) {
    // Each receive of a body is bounded by RecvTimeOut: it counts from
    // the last arrival.
    c.has_deadline = recv_timeout != 0;
    c.deadline = now + recv_timeout;
  } else if (c.head_started) {
    // RecvTimeOut bounds the whole head, from its first byte.
    c.has_deadline = recv_timeout != 0;
    c.deadline = c.head_start + recv_timeout;
  } else {
    c.has_deadline = true;
    c.deadline = now + keep_alive;
    c.socket->ReleaseInput();
  }
  // A deadline already passed is not handed to the sweep.
  if (stopping_.load() || (c.has_deadline && Passed(now, c.deadline))) return Expire(key, c);
  {
    // Armed under the lock: the worker it wakes takes the connection only
    // once this thread has let go of it.
    std::lock_guard<std::mutex> lock(table_mu_);
    if (!stopping_.load() && poller_.arm(c.socket->handle(), key, interest)) {
      c.parked = true;
      return;
    }
  }
  Close(key);
}

void ConnectionPool::Expire(uintptr_t key, Connection& c) {
  if (!stopping_.load() && c.socket->HandshakePending()) TraceTlsFailure(*c.socket, TimedOut());
  Close(key);
}

void ConnectionPool::Close(uintptr_t key) {
  std::unique_ptr<Connection> gone;
  {
    std::lock_guard<std::mutex> lock(table_mu_);
    auto it = table_.find(key);
    if (it == table_.end()) return;
    gone = std::move(it->second);
    table_.erase(it);
  }
  Dispose(std::move(gone));
}

void ConnectionPool::Dispose(std::unique_ptr<Connection> c) {
  poller_.remove(c->socket->handle());
  CloseConnection(*c->socket);
  c.reset();
  open_.fetch_sub(1);
}

void ConnectionPool::Sweep() {
  std::vector<std::unique_ptr<Connection>> expired;
  size_t late = 0;
  {
    const uint32_t now = platform::tick_count();
    std::lock_guard<std::mutex> lock(table_mu_);
    for (auto it = table_.begin(); it != table_.end();) {
      Connection& c = *it->second;
      if (!c.parked || !c.has_deadline || !Passed(now, c.deadline)) {
        ++it;
      } else if (c.request) {
        // A body that stopped arriving may still be owed an answer: a
        // worker gives it, woken for that (no worker can take it from
        // the set meanwhile).
        c.parked = false;
        late_.push_back(it->first);
        ++late;
        ++it;
      } else {
        // Out of the table, no worker can take it any more.
        expired.push_back(std::move(it->second));
        it = table_.erase(it);
      }
    }
  }
  for (; late > 0; --late) poller_.wake();
  for (auto& c : expired) {
    // Traced before the client can see the close.
    if (c->socket->HandshakePending()) TraceTlsFailure(*c->socket, TimedOut());
    Dispose(std::move(c));
  }
}

void ConnectionPool::Stop() {
  if (stopped_) return;
  stopped_ = true;
  {
    std::lock_guard<std::mutex> lock(table_mu_);
    stopping_.store(true);
    // A served connection's blocked receive or send returns at once.
    for (auto& [key, c] : table_)
      if (!c->parked) platform::socket_shutdown(c->socket->handle(), 2);
  }
  for (size_t i = 0; i < threads_.size(); ++i) poller_.wake();
  {
    std::lock_guard<std::mutex> lock(waiters_mu_);
    for (Follower* f : followers_) f->wake.notify_one();
    followers_.clear();
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  // Only parked connections are left, and no thread to serve them.
  Table left;
  {
    std::lock_guard<std::mutex> lock(table_mu_);
    left.swap(table_);
    late_.clear();
  }
  for (auto& [key, c] : left) Dispose(std::move(c));
  listener_->Close();
  if (secure_listener_) secure_listener_->Close();
}

}  // namespace brisvane
