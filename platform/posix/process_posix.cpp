// Child processes on POSIX: posix_spawn (no shell, no fork of a large
// address space), each child leading a process group of its own so that
// terminating it ends what it started. The child is never left unreaped:
// process_wait reaps it as soon as it has ended and process_close kills
// and reaps one still running.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/errno_map.h"
#include "platform/posix/file_internal.h"
#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

struct PosixProcess {
  pid_t pid = -1;
  int pidfd = -1;  // readable once the child has ended; -1 where unsupported
  bool reaped = false;
  uint32_t exit_code = 0;
};

PosixProcess* from_handle(ProcessHandle p) { return reinterpret_cast<PosixProcess*>(p); }

ProcessHandle fail(os_error e) {
  set_last_error(e);
  return kInvalidProcess;
}

// What a failed posix_spawn means in Windows terms: the exec error of the
// program itself is reported here, synchronously.
os_error spawn_error(int e) {
  switch (e) {
    case ENOEXEC: return err::kBadExeFormat;
    case EISDIR: return err::kAccessDenied;
    default: return posix::from_errno(e);
  }
}

// The descriptor a child standard handle names; -1 for the null device.
// False when the handle is not an open descriptor.
bool stdio_descriptor(const ChildStdio& s, int* fd) {
  *fd = -1;
  switch (s.kind) {
    case ChildStdio::Kind::kNone: return true;
    case ChildStdio::Kind::kFile: *fd = posix::file_descriptor(s.handle); break;
    case ChildStdio::Kind::kPipe:
      *fd = s.handle == kInvalidPipe || s.handle > INT_MAX ? -1 : static_cast<int>(s.handle);
      break;
  }
  return *fd >= 0 && ::fcntl(*fd, F_GETFD) >= 0;
}

// The entries of a Windows environment block, up to its empty entry.
std::vector<std::string> environment_entries(const std::string& block) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < block.size()) {
    size_t end = block.find('\0', i);
    if (end == std::string::npos) end = block.size();
    if (end == i) break;
    out.push_back(block.substr(i, end - i));
    i = end + 1;
  }
  return out;
}

// The program path as the caller sees it: a relative path is taken from
// the caller's directory before the child changes its own.
std::string program_path(const std::string& token) {
  if (token.find('/') == std::string::npos || token[0] == '/') return token;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return token;
  return std::string(cwd) + "/" + token;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Standard descriptors go first to numbers above every source, then down
  // to 0, 1 and 2, so that a source that is itself 0, 1 or 2 (a server
  // started with them closed) is not overwritten before it is copied.
  // Everything else is closed, whatever its close-on-exec flag.
  int set_stdio(const int fds[3]) {
    int high = 3;
    for (int i = 0; i < 3; ++i) high = std::max(high, fds[i] + 1);
    int r = 0;
    for (int i = 0; i < 3 && r == 0; ++i) {
      if (fds[i] >= 0) r = posix_spawn_file_actions_adddup2(&actions_, fds[i], high + i);
    }
    for (int i = 0; i < 3 && r == 0; ++i) {
      r = fds[i] >= 0 ? posix_spawn_file_actions_adddup2(&actions_, high + i, i)
                      : posix_spawn_file_actions_addopen(&actions_, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    if (r == 0) r = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    return r;
  }

  int set_directory(const std::string& dir) {
    return dir.empty() ? 0 : posix_spawn_file_actions_addchdir_np(&actions_, dir.c_str());
  }

  // Its own process group; signals as a freshly started program has them
  // (the server's ignored SIGPIPE or blocked signals must not carry over).
  int set_attributes() {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    int r = posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (r == 0) r = posix_spawnattr_setpgroup(&attr_, 0);
    if (r == 0) r = posix_spawnattr_setsigmask(&attr_, &none);
    if (r == 0) r = posix_spawnattr_setsigdefault(&attr_, &all);
    return r;
  }

  int spawn(pid_t* pid, const std::string& program, char* const argv[], char* const envp[]) {
    bool search = program.find('/') == std::string::npos;
    return search ? posix_spawnp(pid, program.c_str(), &actions_, &attr_, argv, envp)
                  : posix_spawn(pid, program.c_str(), &actions_, &attr_, argv, envp);
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Reaps the child. `block`: wait for it; otherwise only when it has ended.
bool reap(PosixProcess* p, bool block) {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(p->pid, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    posix::set_last_from_errno();
    return false;
  }
  if (r == 0) return false;
  p->reaped = true;
  p->exit_code = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : kTerminatedExitCode;
  if (p->pidfd >= 0) ::close(p->pidfd);
  p->pidfd = -1;
  return true;
}

int64_t ms_since(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// 1 when the child has ended (not yet reaped), 0 on time-out, -1 on error.
int wait_for_end(PosixProcess* p, uint32_t timeout_ms) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long pause_ms = 1;
  for (;;) {
    int64_t left = static_cast<int64_t>(timeout_ms) - ms_since(start);
    if (left < 0) left = 0;
    if (p->pidfd >= 0) {
      pollfd pfd{p->pidfd, POLLIN, 0};
      int r = ::poll(&pfd, 1, static_cast<int>(left));
      if (r > 0) return 1;
      if (r == 0) return 0;
      if (errno != EINTR) return posix::set_last_from_errno(), -1;
      continue;
    }
    // Without process descriptors (kernels before 5.3): look, then pause
    // a little longer each time.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(p->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno != EINTR)
      return posix::set_last_from_errno(), -1;
    if (info.si_pid == p->pid) return 1;
    if (left == 0) return 0;
    long step = std::min<long>(pause_ms, static_cast<long>(left));
    timespec ts{step / 1000, (step % 1000) * 1000000};
    ::nanosleep(&ts, nullptr);
    pause_ms = std::min<long>(pause_ms * 2, 50);
  }
}

void kill_group(const PosixProcess* p) {
  // The group id is the child's pid, which cannot be reused before the
  // child is reaped; the child itself is named too in case it left the
  // group.
  ::kill(-p->pid, SIGKILL);
  ::kill(p->pid, SIGKILL);
}

}  // namespace

ProcessHandle process_spawn(const ProcessStart& start) {
  std::vector<std::string> args =
      start.arguments.empty() ? split_command_line(start.command_line) : start.arguments;
  if (args.empty() || args[0].empty()) return fail(err::kInvalidParameter);
  int fds[3] = {-1, -1, -1};
  const ChildStdio* stdio[3] = {&start.input, &start.output, &start.error};
  for (int i = 0; i < 3 && start.standard_handles; ++i) {
    if (!stdio_descriptor(*stdio[i], &fds[i])) return fail(err::kInvalidHandle);
  }
  if (!start.working_directory.empty()) {
    struct stat st {};
    if (::stat(start.working_directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(err::kDirectory);
  }

  std::string program = program_path(args[0]);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = environment_entries(start.environment);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  SpawnSetup setup;
  int r = setup.set_stdio(fds);
  if (r == 0) r = setup.set_directory(start.working_directory);
  if (r == 0) r = setup.set_attributes();
  pid_t pid = -1;
  if (r == 0) r = setup.spawn(&pid, program, argv.data(), env.empty() ? environ : envp.data());
  if (r != 0) return fail(spawn_error(r));

  auto* p = new PosixProcess;
  p->pid = pid;
  p->pidfd = open_pidfd(pid);
  return reinterpret_cast<ProcessHandle>(p);
}

WaitResult process_wait(ProcessHandle h, uint32_t timeout_ms, uint32_t* exit_code) {
  PosixProcess* p = from_handle(h);
  if (!p) {
    set_last_error(err::kInvalidHandle);
    return WaitResult::kFailed;
  }
  if (!p->reaped) {
    if (timeout_ms != kWaitInfinite) {
      int r = wait_for_end(p, timeout_ms);
      if (r < 0) return WaitResult::kFailed;
      if (r == 0) return WaitResult::kTimedOut;
    }
    if (!reap(p, true)) return WaitResult::kFailed;
  }
  if (exit_code) *exit_code = p->exit_code;
  return WaitResult::kEnded;
}

bool process_terminate(ProcessHandle h) {
  PosixProcess* p = from_handle(h);
  if (!p) {
    set_last_error(err::kInvalidHandle);
    return false;
  }
  // A child that has ended by itself is reaped first, so that what it
  // left running is not taken for part of a running child.
  if (!p->reaped && !reap(p, false)) kill_group(p);
  return true;
}

uint32_t process_id(ProcessHandle h) {
  PosixProcess* p = from_handle(h);
  return p ? static_cast<uint32_t>(p->pid) : 0;
}

void process_close(ProcessHandle h) {
  std::unique_ptr<PosixProcess> p(from_handle(h));
  if (!p) return;
  if (!p->reaped && !reap(p.get(), false)) {
    kill_group(p.get());
    reap(p.get(), true);
  }
  if (p->pidfd >= 0) ::close(p->pidfd);
}

}  // namespace platform
