// Request counters shown by the statistics page and QueryValue. Counters
// wrap at 2^32 and change atomically; readers may see slightly different
// moments of different counters.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace brisvane {

struct RequestContext;

class Statistics {
 public:
  // Method counters by method code: 0 unknown, 1 OPTIONS ... 7 TRACE.
  static constexpr int kMethodCounters = 8;

  // Starts now, or at `start_time` (seconds since 1970) for tests.
  Statistics();
  explicit Statistics(int64_t start_time);

  // Counts one answered request: its body bytes both ways, its method and
  // the class of its status.
  void Count(const RequestContext& ctx);
  // One launched CGI program, Windows CGI program or ISAPI request.
  void CountCgiExec();

  uint32_t requests() const { return Load(requests_); }
  uint32_t bytes_sent() const { return Load(bytes_sent_); }
  uint32_t bytes_received() const { return Load(bytes_received_); }
  // 0 for an index outside 0..7.
  uint32_t method_count(int index) const;
  uint32_t redirections() const { return Load(redirections_); }
  uint32_t use_cache() const { return Load(use_cache_); }
  uint32_t authorization_failures() const { return Load(authorization_failures_); }
  uint32_t cgi_execs() const { return Load(cgi_execs_); }
  uint32_t errors() const { return Load(errors_); }
  // Where the count of extension runs stuck past CGITimeOut comes from: a
  // state of the extension host, not a counter of requests. Set once,
  // before any request.
  void SetStuckRunsSource(uint32_t (*source)()) { stuck_runs_source_ = source; }
  // 0 without a source.
  uint32_t stuck_extension_runs() const { return stuck_runs_source_ ? stuck_runs_source_() : 0; }

  int64_t start_time() const { return start_time_; }
  // The start time as an HTTP date in GMT.
  const std::string& start_date() const { return start_date_; }

 private:
  using Counter = std::atomic<uint32_t>;
  static uint32_t Load(const Counter& c) { return c.load(std::memory_order_relaxed); }
  static void Add(Counter& c, uint32_t n) { c.fetch_add(n, std::memory_order_relaxed); }

  Counter requests_{0};
  Counter bytes_sent_{0};
  Counter bytes_received_{0};
  std::array<Counter, kMethodCounters> methods_{};
  Counter redirections_{0};
  Counter use_cache_{0};
  Counter authorization_failures_{0};
  Counter cgi_execs_{0};
  Counter errors_{0};
  int64_t start_time_ = 0;
  std::string start_date_;
  uint32_t (*stuck_runs_source_)() = nullptr;
};

}  // namespace brisvane
