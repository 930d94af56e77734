// The parts of the engine library that the core takes from above: the one
// place that sees every part of the engine.
#include "engine/core/error_page.h"
#include "engine/core/engine_parts.h"
#include "engine/core/handler.h"
#include "engine/core/log_writer.h"
#include "engine/core/pipeline.h"
#include "engine/core/redirection.h"
#include "engine/core/static_document.h"
#include "engine/dynamic/isapi_extension.h"
#include "engine/dynamic/server_includes.h"
#include "engine/dynamic/standard_cgi.h"
#include "engine/dynamic/windows_cgi.h"
#include "engine/pages/auto_index.h"
#include "engine/pages/dynamic_address.h"
#include "engine/pages/statistics_page.h"

namespace brisvane {
namespace {

HandlerTable MakeTable() {
  HandlerTable t;
  t.Set(HandlerKind::kDocument, ServeStaticDocument);
  t.Set(HandlerKind::kDirectoryListing, ServeDirectoryListing);
  t.Set(HandlerKind::kRedirection, ServeRedirection);
  t.Set(HandlerKind::kStdCgi, LaunchStandardCgi);
  t.Set(HandlerKind::kWinCgi, LaunchWindowsCgi);
  t.Set(HandlerKind::kIsapi, LaunchIsapiExtension);
  t.Set(HandlerKind::kStatistics, ServeStatisticsPage);
  t.Set(HandlerKind::kAdmin, ServeAdmin);
  t.Set(HandlerKind::kProxy, RefuseProxy);
  t.includes = RunServerSideIncludes;
  return t;
}


bool ResolveAddress(ServerSettings* settings, const std::string& profile, EngineLogs& logs,
                    bool* changed) {
  return ResolveDynamicAddress(settings, profile, logs, changed);
}

// Extensions still running when the engine stops get this long to return.
void EndExtensions() { EndIsapiExtensions(5000); }

}  // namespace

const EngineParts& BuiltInParts() {
  static const HandlerTable table = MakeTable();
  static const EngineParts parts{&table, ResolveAddress, UnloadIdleIsapiExtensions, EndExtensions,
                                  StuckIsapiExtensionRuns};
  return parts;
}

}  // namespace brisvane
