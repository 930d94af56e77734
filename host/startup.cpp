#include "host/startup.h"

#include "platform/message_box.h"

namespace brisvane {

std::optional<HostStart> StartHost(EngineBinding& binding, const std::string& command_line,
                                   int* exit_code) {
  if (!binding.loaded()) {
    platform::message_box(binding.status(), kHostCaption, platform::kMbIconError);
    *exit_code = 1;
    return std::nullopt;
  }
  HostStart start;
  start.engine = binding.instance();
  start.command_line = ParseHostCommandLine(command_line);
  if (start.command_line.missing_profile)
    platform::message_box(kNoProfileText, kHostCaption, platform::kMbOk);
  // The engine learns its profile in every mode, even those that end here.
  start.engine->SetProfile(start.command_line.profile.c_str());
  *exit_code = 0;
  switch (start.command_line.mode) {
    case HostMode::kOldSwitch:
      platform::message_box(kOldSwitchText, kHostCaption, platform::kMbOk);
      return std::nullopt;
    case HostMode::kHelp:
      platform::message_box(kHostUsage, kHostCaption, platform::kMbOk);
      return std::nullopt;
    default:
      return start;
  }
}

bool TogglePause(ServerInstance* engine) {
  ServerInfo info{};
  engine->GetInfo(&info);
  return info.state == kStatePaused ? engine->Resume() : engine->Pause();
}

}  // namespace brisvane
