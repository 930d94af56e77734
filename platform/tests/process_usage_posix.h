// What a server test needs to see of its own process on a POSIX system:
// the descriptors and threads it holds, the CPU time it has used, and a
// tighter limit on descriptors for a while.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace platform::testing {

// Entries of a /proc directory of this process; -1 where there is none.
inline int CountProcEntries(const char* dir) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return -1;
  int n = 0;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) ++n;
  return ec ? -1 : n;
}
inline int OpenDescriptors() { return CountProcEntries("/proc/self/fd"); }
inline int ProcessThreads() { return CountProcEntries("/proc/self/task"); }

// User and system time of every thread of the process, in milliseconds.
inline uint64_t ProcessCpuMs() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  auto ms = [](const timeval& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_usec) / 1000;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// While it lives, no new descriptor can be made: the soft limit sits at
// the lowest free descriptor number. The old limit comes back at Restore
// or when it goes.
class NoNewDescriptors {
 public:
  NoNewDescriptors() {
    if (getrlimit(RLIMIT_NOFILE, &saved_) != 0) return;
    const int lowest_free = open("/dev/null", O_RDONLY);
    if (lowest_free < 0) return;
    close(lowest_free);
    rlimit tight = saved_;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    active_ = setrlimit(RLIMIT_NOFILE, &tight) == 0;
  }
  ~NoNewDescriptors() { Restore(); }
  NoNewDescriptors(const NoNewDescriptors&) = delete;
  NoNewDescriptors& operator=(const NoNewDescriptors&) = delete;
  bool active() const { return active_; }
  void Restore() {
    if (active_) setrlimit(RLIMIT_NOFILE, &saved_);
    active_ = false;
  }

 private:
  rlimit saved_{};
  bool active_ = false;
};

}  // namespace platform::testing
