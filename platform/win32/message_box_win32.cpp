#include <windows.h>

#include <string>

#include "platform/message_box.h"

namespace platform {

static_assert(kMbIconError == MB_ICONERROR && kMbIconExclamation == MB_ICONEXCLAMATION &&
              kMbTaskModal == MB_TASKMODAL && kMbOk == MB_OK);

namespace detail {
void show_message_box(const std::string& text, const std::string& caption, unsigned style) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

void play_message_beep() { MessageBeep(MB_ICONEXCLAMATION); }
}  // namespace detail

}  // namespace platform
