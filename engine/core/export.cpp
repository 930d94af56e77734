// The library's one export, and the sockets start-up that goes with
// loading the library.
#include <new>

#include "engine/core/engine.h"
#include "engine/core/socket.h"
#include "platform/export.h"

namespace {

struct SocketsLifetime {
  SocketsLifetime() { brisvane::StartSockets(); }
  ~SocketsLifetime() { brisvane::StopSockets(); }
};
SocketsLifetime g_sockets;

}  // namespace

extern "C" PLATFORM_EXPORT int CreateServerInstance(brisvane::ServerInstance** out) {
  if (!out) return 0;
  *out = new (std::nothrow) brisvane::Engine();
  return *out != nullptr;
}
