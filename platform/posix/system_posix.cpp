#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/error.h"
#include "platform/posix/errno_map.h"
#include "platform/system.h"

extern char** environ;

namespace platform {

std::string executable_path() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::string executable_directory() {
  std::string path = executable_path();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int platform_id() { return 2; }

std::string system_name() {
  struct utsname u {};
  if (::uname(&u) != 0) return "POSIX";
  // The release up to its second number: "6.1.0-18-amd64" reads "6.1".
  std::string release = u.release;
  size_t end = release.find_first_not_of("0123456789.");
  release = release.substr(0, end);
  size_t first = release.find('.');
  if (first != std::string::npos) {
    size_t second = release.find('.', first + 1);
    if (second != std::string::npos) release.resize(second);
  }
  return release.empty() ? std::string(u.sysname) : std::string(u.sysname) + " " + release;
}

bool running_under_wine() { return false; }

bool running_as_superuser() { return ::geteuid() == 0; }

uint32_t tick_count() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

uint32_t current_thread_id() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t current_process_id() { return static_cast<uint32_t>(getpid()); }

std::optional<std::string> get_env(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

bool set_env(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool unset_env(const std::string& name) { return unsetenv(name.c_str()) == 0; }

std::string environment_strings() {
  std::string out;
  for (char** e = environ; e && *e; ++e) {
    out += *e;
    out += '\0';
  }
  return out;
}

bool set_priority_class(int level) {
  // The nice values nearest the Windows classes; raising the priority
  // needs privileges, and so does lowering nice again after idle.
  static constexpr int kNice[] = {19, 0, -10};
  if (level < 0 || level > 2) {
    set_last_error(err::kInvalidParameter);
    return false;
  }
  if (setpriority(PRIO_PROCESS, 0, kNice[level]) != 0) {
    posix::set_last_from_errno();
    return false;
  }
  return true;
}

bool enable_privilege(const char*) { return true; }

void com_initialize() {}
void com_uninitialize() {}

namespace {
// tzset rewrites the C library's zone state, which localtime_r reads: log
// writers on many threads take their turn.
std::mutex g_zone_mu;

// The local time of one second, with its bias in minutes.
struct ZoneReading {
  time_t second = -1;
  bool has_tz = false;  // the TZ it was read under (unset and "" differ)
  std::string tz;
  struct tm local {};
};

// Every access-log line asks for the local time; the zone is read again
// (tzset looks at the zone file each time) once a second per thread at
// most, or when TZ changed, not once per line under the shared lock.
const ZoneReading& read_zone() {
  thread_local ZoneReading reading;
  const time_t now = time(nullptr);
  const char* tz = getenv("TZ");
  const bool same_tz = tz ? reading.has_tz && reading.tz == tz : !reading.has_tz;
  if (now != reading.second || !same_tz) {
    reading.has_tz = tz != nullptr;
    reading.tz = tz ? tz : "";
    std::lock_guard<std::mutex> lock(g_zone_mu);
    // tzset first: localtime_r need not notice a changed TZ by itself.
    tzset();
    localtime_r(&now, &reading.local);
    reading.second = now;
  }
  return reading;
}
}  // namespace

int32_t time_zone_bias() {
  return static_cast<int32_t>(-read_zone().local.tm_gmtoff / 60);  // tm_gmtoff counts daylight time in
}

LocalTime local_time_now() {
  const struct tm& t = read_zone().local;
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

}  // namespace platform
