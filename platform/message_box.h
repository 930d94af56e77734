// User-visible reports of machine and installation failures. On Windows a
// real message box; on POSIX one line "caption: text" on standard error.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Style bits, the Windows values.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbIconError = 0x10;  // also the stop icon
inline constexpr unsigned kMbIconExclamation = 0x30;
inline constexpr unsigned kMbTaskModal = 0x2000;

// Shows a box without owner window and returns when it is dismissed.
void message_box(const std::string& text, const std::string& caption,
                 unsigned style);

// The exclamation beep that goes with a warning box.
void message_beep();

// While a hook is installed, boxes go to the hook instead of the user.
// Tests use it to see what would have been shown.
using MessageBoxHook = std::function<void(const std::string& text,
                                          const std::string& caption,
                                          unsigned style)>;
void set_message_box_hook(MessageBoxHook hook);

}  // namespace platform
