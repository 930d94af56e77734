#include <cstdio>
#include <string>

namespace platform::detail {

// No desktop to show a box on: one line on standard error, never blocking.
void show_message_box(const std::string& text, const std::string& caption, unsigned) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

// No sound on a server console: a bell on standard error would land in
// logs as a control character.
void play_message_beep() {}

bool interactive_desktop() { return false; }

// Standard error is what a service manager (systemd's journal) keeps.
void report_event(const std::string& text, const std::string& caption) {
  show_message_box(text, caption, 0);
}

}  // namespace platform::detail
