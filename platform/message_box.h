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

// Shows a box without owner window and returns when it is dismissed. For
// the control thread of a program with a desktop; code that may run on a
// connection thread uses notify_failure.
void message_box(const std::string& text, const std::string& caption,
                 unsigned style);

// The exclamation beep that goes with a warning box.
void message_beep();

// While a hook is installed, boxes and failure notices go to the hook
// instead of the user. Tests use it to see what would have been shown.
using MessageBoxHook = std::function<void(const std::string& text,
                                          const std::string& caption,
                                          unsigned style)>;
void set_message_box_hook(MessageBoxHook hook);

// A failure the user must learn of, met on any thread; it never holds
// that thread. With a desktop the box opens on a thread of its own (one
// box per text at a time). Without one (a service, POSIX) the text goes to
// the log sink and to the system's event log (standard error on POSIX).
void notify_failure(const std::string& text, const std::string& caption,
                    unsigned style);

// Automatic asks the system whether the process has an interactive desktop
// (a visible window station on Windows; never on POSIX), so that every copy
// of this library in a process decides alike. A host may fix the answer
// for its own copy, and tests for theirs.
enum class NoticePolicy { kAutomatic, kDesktop, kNoDesktop };
void set_notice_policy(NoticePolicy policy);
// What kAutomatic decides for this process.
bool has_interactive_desktop();

// Where notices go when no box can be shown: the engine's error log. The
// sink belongs to `owner`; an empty sink removes only that owner's. The
// latest sink serves, and the one before serves again once it is removed.
using NoticeLogSink = std::function<void(const std::string& text)>;
void set_notice_log_sink(const void* owner, NoticeLogSink sink);

}  // namespace platform
