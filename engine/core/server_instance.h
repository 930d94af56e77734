// The engine as the host sees it: one object reached only through these
// eleven virtual operations, in this slot order (the host calls through
// the table, so the order is binding), and the one library export that
// creates it. The library allocates and frees the instance itself.
#pragma once

#include <cstdint>

namespace brisvane {

enum ServerState : int32_t {
  kStateStopped = 0,
  kStateStopping = 1,
  kStateRunning = 2,
  kStateStarting = 3,
  kStatePaused = 4,
};

struct ServerInfo {
  int32_t state;
  int32_t kind;        // always 7
  uint32_t start_time; // seconds since 1970
  char description[80];
};

// Receives log lines; `user` is passed back unchanged. Pointer-sized so a
// host may pass its own object's address on 64-bit systems too.
using LogHookFunction = void (*)(const char* line, uintptr_t user);

class ServerInstance {
 public:
  virtual ~ServerInstance() = default;                                     // slot 0
  virtual bool SetProfile(const char* profile) = 0;                       // slot 1
  virtual bool Start() = 0;                                               // slot 2
  virtual bool Stop() = 0;                                                // slot 3
  virtual bool Pause() = 0;                                               // slot 4
  virtual bool Resume() = 0;                                              // slot 5
  virtual bool Flush() = 0;                                               // slot 6
  virtual bool GetInfo(ServerInfo* info) = 0;                             // slot 7
  virtual bool QueryValue(char* buffer, int size) = 0;                    // slot 8
  virtual bool SetLogHook(LogHookFunction hook, int32_t level, uintptr_t user) = 0;  // slot 9
  virtual bool Command(const char* name, int32_t a, int32_t b) = 0;       // slot 10
};

// The value names QueryValue knows (exact, case-sensitive); each answers
// with a decimal number.
inline constexpr char kQueryNumClients[] = "NUM_CLIENTS";
inline constexpr char kQueryNumRequests[] = "NUM_REQUESTS";
inline constexpr char kQueryBytesSent[] = "BYTES_SENT";
inline constexpr char kQueryBytesReceived[] = "BYTES_RECEIVED";
inline constexpr char kQueryPort[] = "PORT";

// The command names Command knows (exact, case-sensitive).
inline constexpr char kCommandResolveIp[] = "RESOLVE_IP";
inline constexpr char kCommandImportWebsite[] = "IMPORT_WEBSITE";
inline constexpr char kCommandExportWebsite[] = "EXPORT_WEBSITE";
inline constexpr char kCommandIdle[] = "IDLE";

// The export: stores a new instance through `out` and returns non-zero, or
// stores null and returns zero.
using CreateServerInstanceFunction = int (*)(ServerInstance** out);

}  // namespace brisvane
