// The access, error and trace logs, and the hook that hands every line to
// the host as it is written.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/core/server_instance.h"
#include "platform/file.h"

namespace brisvane {

struct RequestContext;
struct ServerSettings;

// One log file, appended to under its own lock. Opening takes the file for
// writing without sharing writes, so a second server on the same paths
// fails to open it rather than interleaving lines.
class LogFile {
 public:
  ~LogFile() { Close(); }
  bool Open(const std::string& path);
  // Appends the line and "\r\n"; nothing when the file is closed.
  void Write(const std::string& line);
  void Flush();
  void Close();
  bool IsOpen();

 private:
  std::mutex mu_;
  platform::FileHandle file_ = platform::kInvalidFile;
  std::string path_;
};

// "[08/Dec/2026:15:04:05 +0000]"'s inside: the local time and the zone
// offset from a bias in minutes (positive west of Greenwich).
std::string FormatLogTimeStamp(int year, int month, int day, int hour, int minute, int second,
                               int32_t bias_minutes);
std::string LogTimeStampNow();

class EngineLogs {
 public:
  void SetHook(LogHookFunction hook, int32_t level, uintptr_t user);

  // Opens (or closes, by mask) the three logs from the settings, then
  // flushes them. A log that cannot be opened is reported in a box.
  void Open(const ServerSettings& settings);
  void Close();
  void Flush();

  // The access line of an answered request (the caller counts it).
  void Access(const RequestContext& ctx);
  void Error(const std::string& message, const RequestContext* ctx);
  void Trace(const std::string& message, const RequestContext* ctx);

  // The lines as they are written, without "\r\n", for a given time stamp
  // (and thread); `ctx` may be null for the error and trace lines.
  static std::string ComposeAccessLine(const RequestContext& ctx, const std::string& stamp);
  static std::string ComposeErrorLine(const std::string& message, const RequestContext* ctx,
                                      const std::string& stamp);
  static std::string ComposeTraceLine(const std::string& message, const RequestContext* ctx,
                                      const std::string& stamp, uint32_t thread_id);

 private:
  // The hook, its level and its user value change together, so a writer
  // never calls one hook with another's user value.
  struct Hook {
    LogHookFunction function = nullptr;
    int32_t level = 0;
    uintptr_t user = 0;
  };
  bool Hooked(int32_t min_level) const;
  void CallHook(const std::string& line, int32_t min_level);

  std::atomic<std::shared_ptr<const Hook>> hook_;
  std::atomic<bool> access_on_{false};
  std::atomic<bool> error_on_{false};
  std::atomic<bool> trace_on_{false};
  LogFile access_;
  LogFile error_;
  LogFile trace_;
};

}  // namespace brisvane
