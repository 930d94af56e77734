#include "platform/message_box.h"

#include <mutex>

namespace platform {
namespace detail {
// Supplied by the backend.
void show_message_box(const std::string& text, const std::string& caption, unsigned style);
void play_message_beep();
}  // namespace detail

namespace {
std::mutex g_hook_mutex;
MessageBoxHook g_hook;
}  // namespace

void set_message_box_hook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> lock(g_hook_mutex);
  g_hook = std::move(hook);
}

void message_box(const std::string& text, const std::string& caption, unsigned style) {
  MessageBoxHook hook;
  {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    hook = g_hook;
  }
  if (hook) {
    hook(text, caption, style);
    return;
  }
  detail::show_message_box(text, caption, style);
}

void message_beep() { detail::play_message_beep(); }

}  // namespace platform
