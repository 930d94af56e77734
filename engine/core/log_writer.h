// The access, error and trace logs, and the hook that hands every line to
// the host as it is written.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/core/server_instance.h"
#include "platform/scoped_handle.h"

namespace brisvane {

struct RequestContext;
struct ServerSettings;

// One log file, appended to under its own lock. Opening takes the file for
// writing without sharing writes, so a second server on the same paths
// fails to open it rather than interleaving lines.
//
// A buffered file keeps its lines in memory, in the order they were
// written, and writes them out together: a thread of its own does so a
// short delay after the first line arrives, and WriteBuffered, a buffer of
// 64 KiB, Flush, Open and Close do so at once. One write per request
// would cost a system call under a lock that every connection thread wants.
class LogFile {
 public:
  explicit LogFile(bool buffered = false);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  bool Open(const std::string& path);
  // Appends the line and "\r\n"; nothing when the file is closed.
  void Write(const std::string& line);
  // Writes out the buffered lines.
  void WriteBuffered();
  // Writes out the buffered lines and forces the file to disk.
  void Flush();
  void Close();
  bool IsOpen();
  // How long the first buffered line waits for others (default 20 ms);
  // 0 leaves the lines to the explicit writes alone (tests use it).
  void SetWriteDelay(uint32_t ms);

 private:
  void WriteOutLocked();
  void RunWriter();

  std::mutex mu_;
  std::condition_variable wake_;
  platform::ScopedFile file_;
  const bool buffered_;
  std::string pending_;
  uint32_t delay_ms_ = 20;
  bool quit_ = false;
  std::thread writer_;
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
  // Writes out the buffered access lines (the idle processing calls it).
  void WriteBuffered();
  // See LogFile::SetWriteDelay; for the access log.
  void SetAccessWriteDelay(uint32_t ms);

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
  // The hook's level alone, read on every log line: a shared pointer load
  // takes a lock, this does not. kNoHook when there is none.
  static constexpr int32_t kNoHook = INT32_MIN;
  std::atomic<int32_t> hook_level_{kNoHook};
  std::atomic<bool> access_on_{false};
  std::atomic<bool> error_on_{false};
  std::atomic<bool> trace_on_{false};
  LogFile access_{true};
  LogFile error_;
  LogFile trace_;
};

}  // namespace brisvane
