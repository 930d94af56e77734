// The start-up steps every host front end shares: binding the engine,
// reading the command line, naming the profile and the modes that only
// show a message.
#pragma once

#include <optional>
#include <string>

#include "engine/core/server_instance.h"
#include "host/command_line.h"
#include "host/engine_binding.h"

namespace brisvane {

struct HostStart {
  ServerInstance* engine = nullptr;
  HostCommandLine command_line;
};

// Runs the shared steps for `command_line` (program path first). Returns
// the engine and the mode to run, or the process exit code when the host
// ends here (engine missing: 1; help and old switch: 0).
std::optional<HostStart> StartHost(EngineBinding& binding, const std::string& command_line,
                                   int* exit_code);

// The pause command (SIGUSR1 on POSIX): resumes a paused engine, pauses a
// running one. The engine is asked for its state each time, since a reload
// (SIGHUP or the flush event) resumes it behind the host's back. True when
// the engine changed state.
bool TogglePause(ServerInstance* engine);

}  // namespace brisvane
