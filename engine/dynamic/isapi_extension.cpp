#include "engine/dynamic/isapi_extension.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "config/server_settings.h"
#include "config/type_maps.h"
#include "engine/core/error_page.h"
#include "engine/core/log_writer.h"
#include "engine/core/mapping.h"
#include "engine/core/statistics.h"
#include "engine/core/virtual_server.h"
#include "engine/dynamic/cgi_request_info.h"
#include "engine/dynamic/isapi/brisvane_isapi.h"
#include "engine/dynamic/script_output.h"
#include "engine/dynamic/script_process.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {
namespace {

#if defined(_WIN32) && !defined(_WIN64)
// 32-bit Windows extensions were built against the published layout.
static_assert(sizeof(EXTENSION_CONTROL_BLOCK) == 144);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ConnID) == 8);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszLogData) == 16);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszMethod) == 96);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, cbTotalBytes) == 112);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpbData) == 120);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, lpszContentType) == 124);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, GetServerVariable) == 128);
static_assert(offsetof(EXTENSION_CONTROL_BLOCK, ServerSupportFunction) == 140);
#endif
static_assert(sizeof(HSE_VERSION_INFO) == 4 + HSE_MAX_EXT_DLL_NAME_LEN);
static_assert(sizeof(DWORD) == 4 && sizeof(BOOL) == 4);
#ifdef ERROR_INVALID_INDEX
// Where the header names the codes itself, they are the ones set here.
static_assert(ERROR_INVALID_PARAMETER == platform::err::kInvalidParameter &&
              ERROR_INSUFFICIENT_BUFFER == platform::err::kInsufficientBuffer &&
              ERROR_NO_DATA == platform::err::kNoData && ERROR_INVALID_INDEX == platform::err::kInvalidIndex);
#endif

constexpr char kLaunchError[] = "ISAPI Launch Error";
constexpr char kExtensionError[] = "ISAPI Extension Error";
constexpr char kBusyError[] = "ISAPI Extension Busy";
// Extension threads left parked for later runs; more than that, or one
// idle for longer, ends: a burst of runs leaves no crowd of threads behind.
constexpr size_t kMaxParkedThreads = 8;
constexpr auto kParkedThreadLife = std::chrono::seconds(30);
// Runs past CGITimeOut that may hold their threads before new runs are
// refused: an extension cannot be ended from outside, so each one that
// never returns keeps a thread and its handles for good.
constexpr uint32_t kMaxStuckRuns = 16;
// The part of the body handed over in the control block.
constexpr size_t kDataBufferSize = 49152;

// One loaded library.
struct ExtensionModule {
  std::string path;
  platform::ScopedLibrary library;
  HSE_VERSION_INFO version_info{};
  PFN_GETEXTENSIONVERSION version_entry = nullptr;
  PFN_HTTPEXTENSIONPROC request_entry = nullptr;
  PFN_TERMINATEEXTENSION terminate_entry = nullptr;
  platform::os_error load_error = 0;
  // Requests running in the module; changed under the cache's lock.
  std::atomic<uint32_t> in_use{0};

  ~ExtensionModule() {
    if (library && terminate_entry) terminate_entry(HSE_TERM_MUST_UNLOAD);
  }
};

// One request running in an extension. Everything the callbacks read is
// owned here, so the worker may finish the request (after CGITimeOut) while
// the extension still runs: only the run's own thread frees it.
struct ExtensionRun {
  uint32_t number = 0;
  ExtensionModule* module = nullptr;
  EXTENSION_CONTROL_BLOCK ecb{};
  std::string method, query, path_info, path_translated, content_type;
  std::unique_ptr<unsigned char[]> data;
  // What GetServerVariable and the mapper read: a copy of the request,
  // with a body of its own over the request's bytes.
  RequestContext request;
  // That body, read by the data buffer and then by ReadClient.
  std::unique_ptr<BodyReader> input;
  platform::ScopedPipe output;
  std::atomic<uint32_t> done{0};
  // Null once the engine has stopped; guarded by the cache's lock.
  EngineLogs* logs = nullptr;
  // Tick count at the start, and CGITimeOut (0: never stuck).
  uint32_t started = 0;
  uint32_t timeout_ms = 0;

  // Ends the run once: the extension finished, or said it was done.
  void End() {
    if (done.exchange(1) != 0) return;
    input.reset();
    output.reset();
  }
};

// An extension thread waiting for its next run, on its own stack.
struct ParkedThread {
  std::condition_variable wake;
  std::thread::id id = std::this_thread::get_id();
  ExtensionRun* run = nullptr;
  // Set at engine stop: the thread leaves instead of waiting on.
  bool leave = false;
};

// The engine-wide cache of libraries, running requests and the extension
// threads. One lock guards all of it; it is never held while
// HttpExtensionProc runs. A run takes a parked thread when one waits, else
// starts a new one; the thread parks again when the run returns, so a
// steady stream of requests creates no threads. While a run goes on, its
// thread serves nothing else.
class ExtensionCache {
 public:
  // The module for `path`, loaded when it is not cached yet, with its
  // in-use count raised; null (last error set) when it cannot be loaded.
  ExtensionModule* Acquire(const std::string& path);
  // Registers the run, gives it its number and hands it to a parked
  // thread or a new one; false (the run taken out again) when no thread
  // can be made.
  bool Start(ExtensionRun* run);
  // The running request with this number, or null.
  ExtensionRun* Find(uint32_t number);
  // Runs still going past their CGITimeOut.
  uint32_t StuckRuns();
  void UnloadIdle();
  void End(uint32_t wait_ms);
  std::mutex& lock() { return mu_; }

 private:
  void UnloadIdleLocked();
  // An extension thread's life: `first`, then each run it is handed while
  // parked, until it is told to leave, is not needed or was let go.
  void Serve(ExtensionRun* first);
  // Called by the run's thread at its end, under the lock: takes the run
  // out of the lists and frees it, lowers its module's count.
  void FinishLocked(ExtensionRun* run);
  // Joins the threads that have left (so the joins are short).
  void Reap();

  std::mutex mu_;
  std::condition_variable idle_;
  std::vector<std::unique_ptr<ExtensionModule>> modules_;
  std::map<uint32_t, ExtensionRun*> runs_;
  // Every extension thread until it is joined or let go (detached at stop,
  // still in its run), and the ones that have left.
  std::map<std::thread::id, std::thread> threads_;
  std::vector<std::thread::id> finished_;
  // Waiting for a run; the last parked is handed the next run.
  std::vector<ParkedThread*> parked_;
};

// Never destroyed: an extension thread that outlives the engine still
// finds its context and module when it returns.
ExtensionCache& Cache() {
  static ExtensionCache* cache = new ExtensionCache;
  return *cache;
}

// Loads the library and finds its entry points; load_error tells failure.
std::unique_ptr<ExtensionModule> LoadModule(const std::string& path) {
  auto m = std::make_unique<ExtensionModule>();
  m->path = path;
  m->library.reset(platform::library_load(path));
  if (!m->library) {
    m->load_error = platform::last_error();
    return m;
  }
  m->version_entry =
      reinterpret_cast<PFN_GETEXTENSIONVERSION>(platform::library_symbol(m->library.get(), "GetExtensionVersion"));
  if (m->version_entry)
    m->request_entry =
        reinterpret_cast<PFN_HTTPEXTENSIONPROC>(platform::library_symbol(m->library.get(), "HttpExtensionProc"));
  if (!m->version_entry || !m->request_entry) {
    m->load_error = platform::last_error();
    if (m->load_error == 0) m->load_error = platform::err::kProcNotFound;
    m->library.reset();
    return m;
  }
  m->terminate_entry =
      reinterpret_cast<PFN_TERMINATEEXTENSION>(platform::library_symbol(m->library.get(), "TerminateExtension"));
  m->version_entry(&m->version_info);
  return m;
}

ExtensionModule* ExtensionCache::Acquire(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& m : modules_) {
    if (platform::same_path_text(m->path, path)) {
      m->in_use.fetch_add(1);
      return m.get();
    }
  }
  // Loaded under the lock, so that a second request for the library waits
  // for this load instead of initialising it twice.
  std::unique_ptr<ExtensionModule> m = LoadModule(path);
  if (m->load_error != 0) {
    platform::set_last_error(m->load_error);
    return nullptr;
  }
  m->in_use.fetch_add(1);
  modules_.push_back(std::move(m));
  return modules_.back().get();
}

bool ExtensionCache::Start(ExtensionRun* run) {
  Reap();
  std::lock_guard<std::mutex> lock(mu_);
  run->number = runs_.empty() ? 0 : runs_.rbegin()->first + 1;
  runs_[run->number] = run;
  run->started = platform::tick_count();
  run->ecb.ConnID = reinterpret_cast<HCONN>(static_cast<uintptr_t>(run->number));
  if (!parked_.empty()) {
    ParkedThread* parked = parked_.back();
    parked_.pop_back();
    parked->run = run;
    parked->wake.notify_one();
    return true;
  }
  try {
    // Made under the lock: the thread's first FinishLocked waits for it, so
    // the thread is in threads_ before it can park or leave.
    std::thread thread(&ExtensionCache::Serve, this, run);
    const std::thread::id id = thread.get_id();
    threads_.emplace(id, std::move(thread));
  } catch (const std::system_error&) {
    runs_.erase(run->number);
    run->module->in_use.fetch_sub(1);
    return false;
  }
  return true;
}

void ExtensionCache::Serve(ExtensionRun* first) {
  ParkedThread self;
  ExtensionRun* run = first;
  std::unique_lock<std::mutex> lock(mu_, std::defer_lock);
  for (;;) {
    run->module->request_entry(&run->ecb);
    // Its return value does not matter: the run ends when it returns.
    run->End();
    lock.lock();
    FinishLocked(run);
    // Let go at stop while it ran: nobody joins it or hands it a run.
    const bool owned = threads_.count(std::this_thread::get_id()) != 0;
    if (!owned) return;
    if (parked_.size() >= kMaxParkedThreads) break;
    self.run = nullptr;
    parked_.push_back(&self);
    const bool woken = self.wake.wait_for(lock, kParkedThreadLife, [&self] { return self.run || self.leave; });
    if (self.leave) return;  // taken out of parked_ and threads_ by End
    if (!woken) {
      std::erase(parked_, &self);
      break;
    }
    run = self.run;
    lock.unlock();
  }
  finished_.push_back(std::this_thread::get_id());
}

void ExtensionCache::FinishLocked(ExtensionRun* run) {
  runs_.erase(run->number);
  run->module->in_use.fetch_sub(1);
  delete run;
  if (runs_.empty()) idle_.notify_all();
}

void ExtensionCache::Reap() {
  std::vector<std::thread> joinable;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (const std::thread::id& id : finished_) {
      auto it = threads_.find(id);
      if (it == threads_.end()) continue;
      joinable.push_back(std::move(it->second));
      threads_.erase(it);
    }
    finished_.clear();
  }
  for (std::thread& t : joinable) t.join();
}

ExtensionRun* ExtensionCache::Find(uint32_t number) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = runs_.find(number);
  return it == runs_.end() ? nullptr : it->second;
}

uint32_t ExtensionCache::StuckRuns() {
  std::lock_guard<std::mutex> lock(mu_);
  const uint32_t now = platform::tick_count();
  uint32_t stuck = 0;
  for (const auto& [number, run] : runs_)
    stuck += run->timeout_ms != 0 && now - run->started > run->timeout_ms;
  return stuck;
}

void ExtensionCache::UnloadIdleLocked() {
  // TerminateExtension runs under the lock: a request for the library
  // meanwhile must load it anew, not share the instance being ended.
  std::erase_if(modules_, [](const std::unique_ptr<ExtensionModule>& m) { return m->in_use.load() == 0; });
}

void ExtensionCache::UnloadIdle() {
  std::lock_guard<std::mutex> lock(mu_);
  UnloadIdleLocked();
}

void ExtensionCache::End(uint32_t wait_ms) {
  std::vector<std::thread> leaving, running;
  {
    std::unique_lock<std::mutex> lock(mu_);
    idle_.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] { return runs_.empty(); });
    // A run still going writes no more log lines: the logs may go with
    // the engine.
    for (auto& [number, run] : runs_) run->logs = nullptr;
    UnloadIdleLocked();
    for (const std::thread::id& id : finished_) {
      auto it = threads_.find(id);
      if (it == threads_.end()) continue;
      leaving.push_back(std::move(it->second));
      threads_.erase(it);
    }
    finished_.clear();
    for (ParkedThread* parked : parked_) {
      parked->leave = true;
      parked->wake.notify_one();
      auto it = threads_.find(parked->id);
      leaving.push_back(std::move(it->second));
      threads_.erase(it);
    }
    parked_.clear();
    // The rest are in their runs.
    for (auto& [id, thread] : threads_) running.push_back(std::move(thread));
    threads_.clear();
  }
  for (std::thread& t : leaving) t.join();
  // A thread stuck in its extension keeps its run and its module.
  for (std::thread& t : running) t.detach();
}

ExtensionRun* RunOf(HCONN conn) {
  return Cache().Find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(conn)));
}

BOOL Fail(platform::os_error code) {
  platform::set_library_visible_error(code);
  return FALSE;
}

BOOL Succeed(platform::os_error code = platform::err::kSuccess) {
  platform::set_library_visible_error(code);
  return TRUE;
}

bool WriteOutput(ExtensionRun& run, const std::string& text) {
  if (run.done.load() != 0) return false;
  return platform::pipe_write(run.output.get(), text.data(), text.size()) >= 0;
}

BOOL HSE_CALL GetServerVariableCallback(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size) {
  ExtensionRun* run = RunOf(conn);
  if (!run || !name || !size) return Fail(platform::err::kInvalidParameter);
  std::string value;
  if (!LookupServerVariable(run->request, name, &value)) return Fail(platform::err::kInvalidIndex);
  char* out = static_cast<char*>(buffer);
  if (value.empty()) {
    if (out && *size > 0) out[0] = '\0';
    *size = 1;
    return Succeed(platform::err::kNoData);
  }
  const DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (!out || value.size() >= *size) {
    *size = needed;
    return Fail(platform::err::kInsufficientBuffer);
  }
  std::memcpy(out, value.c_str(), needed);
  *size = needed;
  return Succeed();
}

BOOL HSE_CALL WriteClientCallback(HCONN conn, LPVOID buffer, LPDWORD size, DWORD flags) {
  ExtensionRun* run = RunOf(conn);
  if (!run || !buffer || !size || (flags & HSE_IO_ASYNC)) return Fail(platform::err::kInvalidParameter);
  if (run->done.load() != 0) return Fail(platform::err::kInvalidHandle);
  if (platform::pipe_write(run->output.get(), buffer, *size) < 0) {
    // The worker has stopped reading: the client is gone or CGITimeOut passed.
    const platform::os_error code = platform::last_error();
    *size = 0;
    return Fail(code);
  }
  return Succeed();
}

BOOL HSE_CALL ReadClientCallback(HCONN conn, LPVOID buffer, LPDWORD size) {
  ExtensionRun* run = RunOf(conn);
  if (!run || !buffer || !size) return Fail(platform::err::kInvalidParameter);
  if (!run->input) {
    *size = 0;
    return Succeed();
  }
  const int64_t n = run->input->Read(buffer, *size);
  if (n < 0) {
    *size = 0;
    return Fail(platform::last_error());
  }
  *size = static_cast<DWORD>(n);
  return Succeed();
}

BOOL MapUrl(ExtensionRun& run, char* buffer, LPDWORD size) {
  if (!buffer || !size || *size == 0) return Fail(platform::err::kInvalidParameter);
  std::string path;
  MapUrlToPhysicalPath(run.request, buffer, &path);
  const size_t room = *size - 1;
  const size_t n = path.size() < room ? path.size() : room;
  std::memcpy(buffer, path.data(), n);
  buffer[n] = '\0';
  if (path.size() + 1 < *size) *size = static_cast<DWORD>(path.size() + 1);
  return Succeed();
}

BOOL HSE_CALL ServerSupportFunctionCallback(HCONN conn, DWORD request, LPVOID buffer, LPDWORD size,
                                            LPDWORD data_type) {
  ExtensionRun* run = RunOf(conn);
  if (!run) return Fail(platform::err::kInvalidParameter);
  const char* text = static_cast<const char*>(buffer);
  switch (request) {
    case HSE_REQ_SEND_URL_REDIRECT_RESP:
      if (!text) return Fail(platform::err::kInvalidParameter);
      WriteOutput(*run, std::string("HTTP/1.0 302 Redirection\r\nLocation: ") + text + "\r\n\r\n");
      return Succeed();
    case HSE_REQ_SEND_URL:
      if (!text) return Fail(platform::err::kInvalidParameter);
      WriteOutput(*run, std::string("HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\nHSE_REQ_SEND_URL: ") + text +
                            "<br>\n(Not implemented)\n");
      return Succeed();
    case HSE_REQ_SEND_RESPONSE_HEADER: {
      // The data-type argument carries the header text, as published.
      const char* headers = reinterpret_cast<const char*>(data_type);
      WriteOutput(*run, std::string("HTTP/1.0 ") + (text ? text : "200 OK") + "\r\n" + (headers ? headers : "\r\n"));
      return Succeed();
    }
    case HSE_REQ_DONE_WITH_SESSION:
      run->End();
      return Succeed();
    case HSE_REQ_MAP_URL_TO_PATH:
      return MapUrl(*run, static_cast<char*>(buffer), size);
    case HSE_APPEND_LOG_PARAMETER:
      if (text) {
        std::lock_guard<std::mutex> lock(Cache().lock());
        if (run->logs) run->logs->Trace(text, &run->request);
      }
      return Succeed();
    default:
      return Fail(platform::err::kInvalidParameter);
  }
}

// What the callbacks read of the request, copied: the worker may reuse
// its request once CGITimeOut has passed while the extension still runs.
void CopyRequest(const RequestContext& from, RequestContext* to) {
  to->snapshot = from.snapshot;
  to->virtual_server = from.virtual_server;
  to->mapping = from.mapping;
  to->handler = from.handler;
  to->auth = from.auth;
  to->depth = from.depth;
  to->secure = from.secure;
  const HttpMessage& req = from.request;
  HttpMessage& copy = to->request;
  for (int i = 1; i < kHeaderCount; ++i)
    if (const std::string* v = req.Get(i)) copy.Set(i, *v);
  copy.version = req.version;
  copy.method = req.method;
  copy.method_name = req.method_name;
  copy.path = req.path;
  copy.query = req.query;
  copy.host = req.host;
  copy.local_address = req.local_address;
  copy.remote_address = req.remote_address;
  copy.remote_host = req.remote_host;
  copy.body = req.body.Share();
}

void FillControlBlock(ExtensionRun& run) {
  EXTENSION_CONTROL_BLOCK& ecb = run.ecb;
  ecb.cbSize = sizeof ecb;
  ecb.dwVersion = 0;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = run.method.data();
  ecb.lpszQueryString = run.query.data();
  ecb.lpszPathInfo = run.path_info.data();
  ecb.lpszPathTranslated = run.path_translated.data();
  ecb.lpszContentType = run.content_type.data();
  ecb.GetServerVariable = GetServerVariableCallback;
  ecb.WriteClient = WriteClientCallback;
  ecb.ReadClient = ReadClientCallback;
  ecb.ServerSupportFunction = ServerSupportFunctionCallback;
}

// The first part of the body into the control block's data buffer.
void ReadFirstPart(ExtensionRun& run, uint64_t total) {
  run.ecb.cbTotalBytes = static_cast<DWORD>(total);
  if (total == 0) return;
  const size_t want = total < kDataBufferSize ? static_cast<size_t>(total) : kDataBufferSize;
  run.data.reset(new unsigned char[want]);
  size_t got = 0;
  while (got < want) {
    const int64_t n = run.input->Read(run.data.get() + got, want - got);
    if (n < 0) {
      run.data.reset();
      return;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  run.ecb.cbAvailable = static_cast<DWORD>(got);
  run.ecb.lpbData = run.data.get();
}

// Starts the extension for the request; false with the last error set.
bool RunExtension(RequestServices& services, const RequestContext& ctx, const std::string& library,
                  platform::ScopedPipe output) {
  if (library.empty()) {
    platform::set_last_error(platform::err::kInvalidParameter);
    return false;
  }
  auto run = std::make_unique<ExtensionRun>();
  CopyRequest(ctx, &run->request);
  // A body whose file could not be shared must not reach the extension as
  // no body at all.
  if (run->request.request.body.empty() && !ctx.request.body.empty()) return false;
  run->input = std::make_unique<BodyReader>(run->request.request.body);
  ExtensionModule* module = Cache().Acquire(library);
  if (!module) return false;
  run->module = module;
  run->output = std::move(output);
  run->logs = &services.logs;
  run->timeout_ms = ctx.snapshot->settings.cgi_timeout;
  run->method = ctx.request.method_name;
  run->query = ctx.request.query;
  run->path_info = ctx.mapping.path_info;
  LookupServerVariable(ctx, "PATH_TRANSLATED", &run->path_translated);
  if (const std::string* type = ctx.request.Get(kHdrContentType)) run->content_type = *type;
  ReadFirstPart(*run, ctx.request.body.Size());
  FillControlBlock(*run);
  if (!Cache().Start(run.get())) {
    platform::set_last_error(platform::err::kMaxThrdsReached);
    return false;
  }
  run.release();  // its thread frees it
  return true;
}

}  // namespace

StageResult LaunchIsapiExtension(RequestServices& services, RequestContext& ctx) {
  if (Cache().StuckRuns() >= kMaxStuckRuns) {
    services.logs.Error("ISAPI Extension: " + std::to_string(kMaxStuckRuns) +
                            " runs past CGITimeOut have not returned; request refused",
                        &ctx);
    RespondError(ctx, 503, kBusyError);
    return kStageStop;
  }
  platform::PipeHandle read_end = platform::kInvalidPipe, write_end = platform::kInvalidPipe;
  const bool piped = platform::pipe_create(&read_end, &write_end, false, false);
  platform::ScopedPipe reader(read_end), writer(write_end);
  if (!piped) {
    services.logs.Error("ISAPI Extension: Error creating pipe handles!", &ctx);
    RespondError(ctx, 500, kLaunchError);
    return kStageStop;
  }
  const ServerSettings& settings = ctx.snapshot->settings;
  std::string library = ctx.mapping.physical_path;
  const std::string program = AssociationFor(settings.assoc_map, library);
  if (!program.empty()) {
    library = program;
    ctx.mapping.path_info = ctx.request.path;
    ctx.mapping.script_url = ctx.request.path;
  }
  services.logs.Trace("[ISAPI Extension] " + library + " Args: " + ctx.request.query +
                          " Path Info: " + ctx.mapping.path_info,
                      &ctx);
  // CGITimeOut bounds the whole wait for the output, from the start.
  const PipeDeadline deadline = PipeDeadline::After(settings.cgi_timeout, ctx.cancel);
  if (!RunExtension(services, ctx, library, std::move(writer))) {
    const platform::os_error code = platform::last_error();
    services.logs.Error(LaunchFailedLine("ISAPI Extension", library, code), &ctx);
    RespondError(ctx, 500, kExtensionError);
    return kStageStop;
  }
  services.statistics.CountCgiExec();
  return ProcessScriptPipeOutput(services, ctx, std::move(reader), deadline) ? kStageDone : kStageStop;
}

void UnloadIdleIsapiExtensions() { Cache().UnloadIdle(); }

void EndIsapiExtensions(uint32_t wait_ms) { Cache().End(wait_ms); }

uint32_t StuckIsapiExtensionRuns() { return Cache().StuckRuns(); }

}  // namespace brisvane
