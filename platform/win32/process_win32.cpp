// Child processes on Windows. Inheritance is confined to the one child:
// each standard handle is given as a private inheritable copy, and the copies
// are named in PROC_THREAD_ATTRIBUTE_HANDLE_LIST so that the child inherits
// those and nothing else, even when another thread is starting a child at
// the same moment (Wine supports the list too). Where the system refuses the
// list, spawns that cannot use it take an exclusive lock, so that no other
// spawn's copies exist while they run. Each child is put in a job object of
// its own before it runs, so that terminating it ends the processes it
// started as well; where a job cannot be had (an older system whose jobs do
// not nest) only the child itself is terminated.
#include <windows.h>

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {
namespace {

static_assert(sizeof(ProcessHandle) == sizeof(HANDLE) && sizeof(FileHandle) == sizeof(HANDLE));
static_assert(err::kDirectory == ERROR_DIRECTORY && err::kBadExeFormat == ERROR_BAD_EXE_FORMAT &&
              err::kInvalidHandle == ERROR_INVALID_HANDLE);

struct WinProcess {
  HANDLE process = nullptr;
  HANDLE job = nullptr;  // nullptr when the child could not be put in one
  DWORD pid = 0;
};

WinProcess* from_handle(ProcessHandle p) { return reinterpret_cast<WinProcess*>(p); }

ProcessHandle fail(DWORD e) {
  SetLastError(e);
  return kInvalidProcess;
}

// Held shared by spawns that name their handles, exclusively by the others.
std::shared_mutex inherit_lock;

// The child's inheritable copies of its standard handles.
class StdioCopies {
 public:
  ~StdioCopies() {
    for (HANDLE h : handles_) CloseHandle(h);
  }
  // False with the error set when a handle cannot be had.
  bool add(const ChildStdio& s, bool input) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE copy = nullptr;
    if (s.kind == ChildStdio::Kind::kNone) {
      copy = CreateFileA("NUL", input ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                         OPEN_EXISTING, 0, nullptr);
      if (copy == INVALID_HANDLE_VALUE) return false;
    } else {
      HANDLE h = reinterpret_cast<HANDLE>(s.handle);
      if (h == INVALID_HANDLE_VALUE || h == nullptr ||
          !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
      }
    }
    handles_.push_back(copy);
    return true;
  }
  HANDLE operator[](size_t i) const { return handles_[i]; }
  HANDLE* data() { return handles_.data(); }
  size_t size() const { return handles_.size(); }

 private:
  std::vector<HANDLE> handles_;
};

// A start-up attribute list naming the only handles a child inherits.
class HandleList {
 public:
  HandleList() = default;
  HandleList(const HandleList&) = delete;
  HandleList& operator=(const HandleList&) = delete;
  ~HandleList() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  bool set(HANDLE* handles, size_t count) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
    list_ = list;
    return UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                     nullptr, nullptr) != 0;
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// The block with exactly two terminating NULs; empty for the caller's own.
std::string environment_block(const std::string& env) {
  std::string block = env;
  while (!block.empty() && block.back() == '\0') block.pop_back();
  if (block.empty()) return block;
  block.append(2, '\0');
  return block;
}

bool is_directory(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

HANDLE job_for(HANDLE process) {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job && !AssignProcessToJobObject(job, process)) {
    CloseHandle(job);
    job = nullptr;
  }
  return job;
}

bool handle_lists_supported() {
  static const bool supported = [] {
    HandleList list;
    HANDLE any = GetCurrentProcess();
    return list.set(&any, 1);
  }();
  return supported;
}

bool still_running(const WinProcess* p) { return WaitForSingleObject(p->process, 0) == WAIT_TIMEOUT; }

// The child, or nullptr with `*error` set. The error is kept apart from the
// thread's last error, which the clean-up on the way out may change.
// Starts the suspended child in a job of its own, then lets it run.
WinProcess* create(const ProcessStart& start, BOOL inherit, DWORD flags, STARTUPINFOA* si, DWORD* error) {
  std::string command = start.command_line;
  std::string env = environment_block(start.environment);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, inherit, flags | CREATE_SUSPENDED | CREATE_NO_WINDOW,
                      env.empty() ? nullptr : env.data(),
                      start.working_directory.empty() ? nullptr : start.working_directory.c_str(), si, &pi)) {
    *error = GetLastError();
    return nullptr;
  }
  auto* p = new WinProcess;
  p->process = pi.hProcess;
  p->pid = pi.dwProcessId;
  p->job = job_for(pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  return p;
}

// A child given no handles: nothing to inherit, so no lock either.
WinProcess* spawn_without_handles(const ProcessStart& start, DWORD* error) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  return create(start, FALSE, 0, &si, error);
}

WinProcess* spawn(const ProcessStart& start, DWORD* error) {
  *error = ERROR_SUCCESS;
  if (!start.standard_handles) return spawn_without_handles(start, error);

  // Lock first, copies second: the copies are closed before the lock goes.
  std::shared_lock<std::shared_mutex> shared(inherit_lock, std::defer_lock);
  std::unique_lock<std::shared_mutex> exclusive(inherit_lock, std::defer_lock);
  bool named_ok = handle_lists_supported();
  if (named_ok) {
    shared.lock();
  } else {
    exclusive.lock();
  }
  StdioCopies copies;
  HandleList named;
  if (!copies.add(start.input, true) || !copies.add(start.output, false) || !copies.add(start.error, false) ||
      (named_ok && !named.set(copies.data(), copies.size()))) {
    *error = GetLastError();
    return nullptr;
  }

  STARTUPINFOEXA si{};
  si.StartupInfo.cb = named_ok ? sizeof si : sizeof si.StartupInfo;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.StartupInfo.wShowWindow = SW_HIDE;
  si.StartupInfo.hStdInput = copies[0];
  si.StartupInfo.hStdOutput = copies[1];
  si.StartupInfo.hStdError = copies[2];
  if (named_ok) si.lpAttributeList = named.get();

  return create(start, TRUE, named_ok ? EXTENDED_STARTUPINFO_PRESENT : 0, &si.StartupInfo, error);
}

}  // namespace

ProcessHandle process_spawn(const ProcessStart& start) {
  if (split_command_line(start.command_line).empty()) return fail(ERROR_INVALID_PARAMETER);
  if (!start.working_directory.empty() && !is_directory(start.working_directory)) return fail(ERROR_DIRECTORY);
  DWORD error = ERROR_SUCCESS;
  WinProcess* p = spawn(start, &error);
  SetLastError(error);
  return reinterpret_cast<ProcessHandle>(p);
}

WaitResult process_wait(ProcessHandle h, uint32_t timeout_ms, uint32_t* exit_code) {
  WinProcess* p = from_handle(h);
  if (!p) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WaitResult::kFailed;
  }
  switch (WaitForSingleObject(p->process, timeout_ms)) {
    case WAIT_OBJECT_0: break;
    case WAIT_TIMEOUT: return WaitResult::kTimedOut;
    default: return WaitResult::kFailed;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(p->process, &code)) return WaitResult::kFailed;
  if (exit_code) *exit_code = code;
  return WaitResult::kEnded;
}

bool process_terminate(ProcessHandle h) {
  WinProcess* p = from_handle(h);
  if (!p) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!still_running(p)) return true;
  if (p->job && TerminateJobObject(p->job, kTerminatedExitCode)) return true;
  return TerminateProcess(p->process, kTerminatedExitCode) != 0;
}

uint32_t process_id(ProcessHandle h) {
  WinProcess* p = from_handle(h);
  return p ? p->pid : 0;
}

void process_close(ProcessHandle h) {
  std::unique_ptr<WinProcess> p(from_handle(h));
  if (!p) return;
  if (still_running(p.get())) {
    process_terminate(h);
    // Termination completes asynchronously; the child is gone on return,
    // as on POSIX.
    WaitForSingleObject(p->process, 5000);
  }
  CloseHandle(p->process);
  if (p->job) CloseHandle(p->job);
}

}  // namespace platform
