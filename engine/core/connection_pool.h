// The connection layer: a thread per request in progress, not per open
// connection.
//
// Why: a thread per connection lets silent or trickling clients hold
// every thread (and, counted as clients, refuse everyone else), and makes
// the thread count grow with the connections. Here a connection that is
// idle between requests, or whose request head or body is still
// arriving, costs no thread: it is parked in one readiness set
// (platform::Poller) and what it sends is read without blocking into its
// own buffer. A thread serves a request only once its head and body have
// arrived; from then until its response is written it is a request in
// progress, which is what the overload rule counts.
//
// Which thread does what:
// - One accept thread takes new connections from both listeners, plain
//   and TLS (non-blocking, woken every 100 ms so that it notices Stop),
//   refuses those past MaxConnections (both counted together), and parks
//   the rest; a TLS connection gets its session first. When the process is out of descriptors it logs
//   that once and backs off instead of spinning. On the same beat it
//   closes parked connections whose deadline has passed: a kept
//   connection after KeepAlive with nothing sent, a head still arriving
//   after RecvTimeOut from its first byte (a new connection: from accept).
//   A body whose last piece came RecvTimeOut ago is handed to a worker
//   (woken for it), which answers it as a timed-out receive would be.
// - NumThreads workers: as many as there are cores wait in the set
//   together (the kernel hands each ready connection to exactly one
//   waiting thread); the rest park as followers, the last parked called
//   first, and the last waiter to leave for a request calls one to the
//   set. So a thread done with a request finds the next ready connection
//   without sleeping, and a wake-up goes to a recently busy thread, not to
//   one of hundreds of cold ones in turn.
//   The worker that takes a connection serves it itself, with no hand-off:
//   a TLS handshake still going is advanced without waiting and parked
//   again for the readiness it asks for (RecvTimeOut from accept bounds
//   it like a head);
//   it reads what arrived; with the head incomplete it parks it again.
//   With the head whole it reads it from the buffer and decides on the
//   body (refusals, MaxRequestBody, "100 Continue" once the request would
//   be admitted, sent from here). The body is fed to its decoder
//   (counted or chunked, into the request's temporary file) from what has
//   arrived; while it is incomplete the connection is parked again with
//   RecvTimeOut from its last arrival. With the body in, the same worker
//   serves the request (admission, handler, response, logs) on its own
//   thread. A request without a body goes straight through, at no extra
//   cost. A plain socket is blocking from its first request on (an
//   encrypted one stays non-blocking, its session waits); the layer's own
//   reads never wait whatever the mode. If the next request is already
//   buffered it goes on at once; if not, it parks the connection
//   (KeepAlive 0: closes it).
// - Stop shuts down every served connection (its blocked call returns),
//   wakes the workers, joins every thread and closes what is parked.
//
// A connection is owned by the pool's table; `parked` tells who may touch
// it: the table's lock holder while parked, the worker that took it
// otherwise. Only the table's lock moves it between the two (arming
// included, so that the worker an arming wakes sees it parked).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/socket.h"
#include "platform/poller.h"

namespace brisvane {

class Engine;
struct IncomingRequest;

class ConnectionPool {
 public:
  // Takes the listeners (`secure_listener` null when nothing is served
  // over TLS); `workers` threads serve requests.
  ConnectionPool(std::unique_ptr<Socket> listener, std::unique_ptr<Socket> secure_listener, int workers,
                 Engine* engine);
  ~ConnectionPool();

  // Listens and starts the threads. False when a listener cannot listen
  // (the socket layer has told the user), the readiness set cannot be
  // made, or no thread could be started.
  bool Start();
  // Closes the listeners, shuts down every open connection and returns when
  // every thread has ended.
  void Stop();

  uint32_t open_connections() const { return open_.load(); }

 private:
  struct Connection {
    std::unique_ptr<Socket> socket;
    bool parked = false;
    uint32_t deadline = 0;     // tick count; meaningful with has_deadline
    bool has_deadline = false;
    bool served = false;       // a request has been served on it
    bool head_started = false; // bytes of the next head have arrived
    uint32_t head_start = 0;
    // A request whose body is still arriving.
    std::unique_ptr<IncomingRequest> request;
  };
  using Table = std::map<uintptr_t, std::unique_ptr<Connection>>;

  void AcceptLoop();
  // Takes one waiting connection; false when none was waiting (or the
  // process is out of descriptors, after a rest).
  bool Accept(Socket& listener, bool secure);
  // Counts a new connection in, or false when MaxConnections are already
  // open: the caller closes it at once.
  bool TakeConnection();
  void Worker();
  // The parked connection of an event, now the caller's; null when it has
  // been closed meanwhile.
  Connection* Take(uintptr_t key);
  void Serve(uintptr_t key, Connection& c);
  // Answers a connection whose body stopped arriving, as the sweep found.
  void ServeLate();
  // Arms the connection again with its deadline; closes it on failure or
  // when its deadline has passed already.
  void Park(uintptr_t key, Connection& c,
            platform::PollInterest interest = platform::PollInterest::kReadable);
  // Writes the trace line of a TLS connection that failed before its
  // first request (never an access line: there was no request).
  void TraceTlsFailure(Socket& socket, const std::string& why);
  void Close(uintptr_t key);
  // Closes a connection whose deadline passed (a stalled handshake is
  // traced).
  void Expire(uintptr_t key, Connection& c);
  void Dispose(std::unique_ptr<Connection> c);
  // Closes the parked connections whose deadline has passed; those whose
  // body stopped arriving go to a worker for their answer.
  void Sweep();

  std::unique_ptr<Socket> listener_;
  std::unique_ptr<Socket> secure_listener_;
  int workers_;
  Engine* engine_;
  // Most workers waiting in the set at once; the others are followers.
  int max_waiting_;
  platform::Poller poller_;
  std::atomic<uint32_t> open_{0};
  std::atomic<bool> stopping_{false};
  bool stopped_ = false;
  // A refusal at MaxConnections has been logged and none admitted since.
  std::atomic<bool> refusing_{false};
  // Running out of descriptors has been logged and no accept worked since.
  bool starved_ = false;

  // A worker not waiting in the set, parked until called to it.
  struct Follower {
    std::condition_variable wake;
    bool promoted = false;  // under waiters_mu_
  };
  // Joins the threads waiting in the set, or parks as a follower while
  // enough wait there; false when the layer stops meanwhile.
  bool BecomeWaiter(Follower& self);
  // Leaves the set's waiters with an event (or a wake-up) to serve.
  void LeaveWaiting();
  std::mutex waiters_mu_;
  int waiting_ = 0;  // threads in the set's wait
  std::vector<Follower*> followers_;  // parked, the last parked last

  std::mutex table_mu_;
  Table table_;
  uintptr_t next_key_ = 1;
  // Connections whose body's time ran out, for the next woken worker.
  std::vector<uintptr_t> late_;

  std::thread acceptor_;
  std::vector<std::thread> threads_;
};

// Ends a connection: the send side first, a little of what the client
// still sends drained, then the close.
void CloseConnection(Socket& socket);

}  // namespace brisvane
