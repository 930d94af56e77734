// The library's one export. The sockets library is started by the engine
// it creates, not while the library loads.
#include <new>

#include "engine/core/engine.h"
#include "platform/export.h"

extern "C" PLATFORM_EXPORT int CreateServerInstance(brisvane::ServerInstance** out) {
  if (!out) return 0;
  *out = new (std::nothrow) brisvane::Engine();
  return *out != nullptr;
}
