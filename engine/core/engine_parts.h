// What the engine's core takes from the parts of the library above it
// (generated pages, dynamic content): the handlers, the learning of the
// public address, and the unloading of extension libraries. The library assembles them once, where every part is
// visible, so the core never includes those parts.
#pragma once

#include <string>

#include "engine/core/handler.h"

namespace brisvane {

class EngineLogs;
struct ServerSettings;

struct EngineParts {
  const HandlerTable* handlers = nullptr;
  // Learns the public address; with DynamicIP on, writes it into the
  // virtual servers that follow it and saves them under the profile, and
  // sets *changed. Returns whether an address was found.
  bool (*resolve_dynamic_address)(ServerSettings* settings, const std::string& profile,
                                  EngineLogs& logs, bool* changed) = nullptr;
  // At Flush: unloads the extension libraries no request is running in.
  void (*unload_idle_extensions)() = nullptr;
  // At Stop, once no connection is served: waits a bounded time for
  // extensions still running, then unloads the idle libraries.
  void (*end_extensions)() = nullptr;
  // Extension runs still going past their CGITimeOut.
  uint32_t (*stuck_extension_runs)() = nullptr;
};

const EngineParts& BuiltInParts();

}  // namespace brisvane
