// Named events on POSIX: a one-byte file, '1' when signalled, in /dev/shm
// (or /tmp). The file name carries a hash of the registry file's path, so
// that the events of two installations, or of two test runs, stay apart.
// Whoever may write the registry file may signal its events: the file takes
// the registry file's owner and mode, and the handle that made the file
// removes it when it is closed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/event_file.h"
#include "platform/posix/registry_location.h"
#include "platform/system.h"

namespace platform {
namespace {

// A handle is the descriptor plus one, so that 0 can mean failure.
int fd_of(EventHandle e) { return static_cast<int>(e) - 1; }
EventHandle to_handle(int fd) { return static_cast<EventHandle>(fd) + 1; }

// The registry path made absolute, its directory resolved (links and
// all) so that every process names the same file alike, whether the file
// exists yet or not.
std::string absolute_registry_path() {
  std::string path = posix::registry_file_path();
  if (path.empty() || path[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
  }
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  char resolved[PATH_MAX];
  if (!::realpath(dir.c_str(), resolved)) return path;
  std::string out = resolved;
  if (out.back() != '/') out += '/';
  return out + path.substr(slash + 1);
}

uint64_t fnv1a64(const std::string& text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

const char* event_directory() {
  static const char* dir = [] {
    struct stat st {};
    return ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0
               ? "/dev/shm"
               : "/tmp";
  }();
  return dir;
}

bool write_state(EventHandle e, char state) {
  ssize_t n;
  do {
    n = ::pwrite(fd_of(e), &state, 1, 0);
  } while (n < 0 && errno == EINTR);
  if (n != 1) {
    posix::set_last_from_errno();
    return false;
  }
  return true;
}

// The name lies in a directory everyone may write, so whatever is found
// there may have been planted: a link is never followed (its target's mode
// and first byte would be ours to change), and a FIFO or device never
// blocks the open; what is not a plain file is refused afterwards.
int open_existing(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return fd;
}


// Owner and mode that an event file must have: the registry file's, or
// the process's own with 0600 while there is no registry file yet.
struct EventAccess {
  uid_t uid;
  gid_t gid;
  mode_t mode;
};

EventAccess wanted_access() {
  struct stat st {};
  if (::stat(absolute_registry_path().c_str(), &st) == 0)
    return {st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 0666)};
  return {::geteuid(), ::getegid(), 0600};
}

// Gives the file the wanted owner and mode as far as this process may; a
// file of another owner is accepted only when it already has them, since
// anyone may have placed it in the shared directory.
bool take_access(int fd, const EventAccess& want) {
  struct stat st {};
  // A second name (a hard link) would make some other file ours to write.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return false;
  if (st.st_uid != ::geteuid()) return st.st_uid == want.uid && (st.st_mode & 07777 & ~want.mode) == 0;
  if (st.st_uid != want.uid || st.st_gid != want.gid) {
    // Only root may give a file away; a group it belongs to is the next best.
    if (::fchown(fd, want.uid, want.gid) != 0) (void)!::fchown(fd, static_cast<uid_t>(-1), want.gid);
  }
  return ::fchmod(fd, want.mode) == 0;
}

// Handles whose event file this process made, with that file's path.
std::mutex g_made_mu;
std::set<std::pair<int, std::string>> g_made;

}  // namespace

namespace posix {

std::string event_file_path(const std::string& name) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a64(absolute_registry_path())));
  std::string safe = name;
  for (char& c : safe)
    if (c == '/') c = '_';
  return std::string(event_directory()) + "/brisvane-event-" + hash + "-" + safe;
}

}  // namespace posix

EventHandle event_create(const std::string& name) {
  std::string path = posix::event_file_path(name);
  const EventAccess want = wanted_access();
  int fd = open_existing(path);
  if (fd >= 0) {
    if (take_access(fd, want)) return to_handle(fd);
    ::close(fd);
    set_last_error(err::kAccessDenied);
    return 0;
  }
  if (errno != ENOENT) {
    posix::set_last_from_errno();
    return 0;
  }
  // The file appears whole, already holding its state and access, by
  // linking a private one into place: an opener never meets it half made,
  // and a signal given in between is never overwritten.
  std::string temp = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(current_thread_id());
  ::unlink(temp.c_str());  // left by a process that died here
  fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    posix::set_last_from_errno();
    return 0;
  }
  bool made = true;
  bool ok = take_access(fd, want) && write_state(to_handle(fd), '0');
  if (ok && ::link(temp.c_str(), path.c_str()) != 0) {
    int e = errno;
    ::close(fd);
    fd = -1;
    made = false;
    if (e == EEXIST) {  // another process made it first: use that one
      fd = open_existing(path);
      if (fd >= 0 && !take_access(fd, want)) {
        ::close(fd);
        fd = -1;
        errno = EACCES;
      }
    } else {
      errno = e;
    }
    ok = fd >= 0;
  }
  if (!ok) posix::set_last_from_errno();
  ::unlink(temp.c_str());
  if (!ok) {
    if (fd >= 0) ::close(fd);
    return 0;
  }
  if (made) {
    std::lock_guard<std::mutex> lock(g_made_mu);
    g_made.emplace(fd, path);
  }
  return to_handle(fd);
}

EventHandle event_open(const std::string& name) {
  int fd = open_existing(posix::event_file_path(name));
  if (fd < 0) {
    posix::set_last_from_errno();
    return 0;
  }
  // Only a plain file of this process's owner or of the registry file's
  // (whoever runs the server) is an event.
  struct stat st {};
  const EventAccess want = wanted_access();
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      (st.st_uid != ::geteuid() && st.st_uid != want.uid)) {
    ::close(fd);
    set_last_error(err::kAccessDenied);
    return 0;
  }
  return to_handle(fd);
}

bool event_set(EventHandle e) { return write_state(e, '1'); }

bool event_reset(EventHandle e) { return write_state(e, '0'); }

bool event_is_set(EventHandle e) {
  char state = 0;
  ssize_t n;
  do {
    n = ::pread(fd_of(e), &state, 1, 0);
  } while (n < 0 && errno == EINTR);
  // Empty while its creator has yet to write the first state.
  return n == 1 && state == '1';
}

void event_close(EventHandle e) {
  if (!e) return;
  int fd = fd_of(e);
  std::string made;
  {
    std::lock_guard<std::mutex> lock(g_made_mu);
    auto it = g_made.lower_bound({fd, std::string()});
    if (it != g_made.end() && it->first == fd) {
      made = it->second;
      g_made.erase(it);
    }
  }
  // Only while the name still leads to this handle's file: after a discard
  // another process may have made a new one.
  struct stat mine {}, named {};
  if (!made.empty() && ::fstat(fd, &mine) == 0 && ::stat(made.c_str(), &named) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
    ::unlink(made.c_str());
  ::close(fd);
}

void event_discard(const std::string& name) { ::unlink(posix::event_file_path(name).c_str()); }

}  // namespace platform
