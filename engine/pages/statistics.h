// Request counters shown by the statistics page and QueryValue. Counters
// wrap at 2^32 and change atomically; readers may see slightly different
// moments of different counters.
#pragma once

#include <atomic>
#include <cstdint>

namespace brisvane {

struct RequestContext;

class Statistics {
 public:
  Statistics();
  // Counts one answered request.
  void Count(const RequestContext& ctx);

  uint32_t requests() const { return requests_.load(std::memory_order_relaxed); }
  uint32_t bytes_sent() const { return bytes_sent_.load(std::memory_order_relaxed); }
  uint32_t bytes_received() const { return bytes_received_.load(std::memory_order_relaxed); }
  int64_t start_time() const { return start_time_; }

 private:
  std::atomic<uint32_t> requests_{0};
  std::atomic<uint32_t> bytes_sent_{0};
  std::atomic<uint32_t> bytes_received_{0};
  int64_t start_time_ = 0;
};

}  // namespace brisvane
