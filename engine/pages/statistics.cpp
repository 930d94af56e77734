#include "engine/pages/statistics.h"

#include <ctime>

#include "engine/core/http_message.h"

namespace brisvane {

Statistics::Statistics() : start_time_(static_cast<int64_t>(std::time(nullptr))) {}

void Statistics::Count(const RequestContext& ctx) {
  requests_.fetch_add(1, std::memory_order_relaxed);
  bytes_sent_.fetch_add(static_cast<uint32_t>(ctx.bytes_sent), std::memory_order_relaxed);
  bytes_received_.fetch_add(static_cast<uint32_t>(ctx.bytes_received), std::memory_order_relaxed);
}

}  // namespace brisvane
