#include "platform/message_box.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
namespace detail {
// Supplied by the backend.
void show_message_box(const std::string& text, const std::string& caption, unsigned style);
void play_message_beep();
bool interactive_desktop();
void report_event(const std::string& text, const std::string& caption);
}  // namespace detail

namespace {
std::mutex g_hook_mutex;
MessageBoxHook g_hook;

std::atomic<NoticePolicy> g_policy{NoticePolicy::kAutomatic};

// The latest installed sink serves; when its owner leaves, the one before
// serves again (two engines in one process).
std::mutex g_sink_mutex;
std::vector<std::pair<const void*, std::shared_ptr<NoticeLogSink>>> g_sinks;

// Texts whose box is on screen: a full disk met by every connection makes
// one box, not one per connection.
std::mutex g_showing_mutex;
std::set<std::string> g_showing;

MessageBoxHook current_hook() {
  std::lock_guard<std::mutex> lock(g_hook_mutex);
  return g_hook;
}

void show_detached(const std::string& text, const std::string& caption, unsigned style) {
  {
    std::lock_guard<std::mutex> lock(g_showing_mutex);
    if (!g_showing.insert(text).second) return;
  }
  std::thread([text, caption, style] {
    detail::show_message_box(text, caption, style);
    std::lock_guard<std::mutex> lock(g_showing_mutex);
    g_showing.erase(text);
  }).detach();
}
}  // namespace

void set_message_box_hook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(g_hook_mutex);
  g_hook = std::move(hook);
}

void message_box(const std::string& text, const std::string& caption, unsigned style) {
  if (MessageBoxHook hook = current_hook()) {
    hook(text, caption, style);
    return;
  }
  detail::show_message_box(text, caption, style);
}

void message_beep() { detail::play_message_beep(); }

void set_notice_policy(NoticePolicy policy) { g_policy = policy; }

bool has_interactive_desktop() {
  // The answer cannot change while the process runs.
  static const bool desktop = detail::interactive_desktop();
  return desktop;
}

void set_notice_log_sink(const void* owner, NoticeLogSink sink) {
  std::lock_guard<std::mutex> lock(g_sink_mutex);
  std::erase_if(g_sinks, [owner](const auto& entry) { return entry.first == owner; });
  if (sink) g_sinks.emplace_back(owner, std::make_shared<NoticeLogSink>(std::move(sink)));
}

void notify_failure(const std::string& text, const std::string& caption, unsigned style) {
  if (MessageBoxHook hook = current_hook()) {
    hook(text, caption, style);
    return;
  }
  NoticePolicy policy = g_policy.load();
  bool desktop = policy == NoticePolicy::kAutomatic ? has_interactive_desktop()
                                                    : policy == NoticePolicy::kDesktop;
  if (desktop) {
    show_detached(text, caption, style);
    return;
  }
  std::shared_ptr<NoticeLogSink> sink;
  {
    std::lock_guard<std::mutex> lock(g_sink_mutex);
    if (!g_sinks.empty()) sink = g_sinks.back().second;
  }
  // Outside the lock: the sink writes a log line, which may reach a hook.
  if (sink) (*sink)(text);
  detail::report_event(text, caption);
}

}  // namespace platform
