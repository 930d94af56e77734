// The Windows front end of the configuration module: the Configuration
// dialog, the two property sheets and the security editors. Every rule
// lives in admin/model; these only show, collect and call.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/server_settings.h"

namespace brisvane::admin {

// Message-box styles and answers, the Windows values.
inline constexpr unsigned kBoxOk = 0x0;
inline constexpr unsigned kBoxYesNoCancel = 0x3;
inline constexpr unsigned kBoxIconError = 0x10;
inline constexpr unsigned kBoxIconExclamation = 0x30;
inline constexpr unsigned kBoxDefault2 = 0x100;
inline constexpr unsigned kBoxDefault3 = 0x200;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// Every notice and question of the dialogs goes through Ask, every file
// choice through ChooseFile. While a hook is set it answers instead of the
// user, so that a test can drive the dialogs without a screen.
using AskHook = std::function<int(const std::string& text, const std::string& caption,
                                  unsigned style)>;
// `save` tells a save dialog from an open dialog; nullopt is Cancel.
using FileHook =
    std::function<std::optional<std::string>(bool save, const std::string& initial_name)>;
void SetAskHook(AskHook hook);
void SetFileHook(FileHook hook);

// Shows the Configuration dialog over `settings`; true when it ended with
// OK. A restore ends it as Cancel, whatever was edited before.
bool RunConfigurationDialog(ServerSettings* settings);

// The whole program for one profile: load, the dialog, and on OK save and
// signal a running engine. Returns the process exit code: 0, or 1 when the
// profile could not be loaded or saved.
int RunConfigurationModule(const std::string& profile);

}  // namespace brisvane::admin
