// The registry on POSIX: one text file in the registry export format,
// located by BRISVANE_REGISTRY or as registry.reg beside the executable.
//
// Every call first checks whether the file changed on disk (another
// process, or a person with an editor) and reloads it if so. Every change
// is written before the call returns: the store writes "<file>.new" and
// renames it over the file, so readers never see a torn file and a crash
// leaves the previous file whole. Each new file gets a modification time
// later than the one it replaces, so (inode, mtime) tells every version
// apart, and it keeps the owner, group and mode of the one it replaces
// (the file holds passwords; a new one is the owner's alone).
//
// Programs take turns through an advisory lock (flock) on "<file>.lock",
// not on the file itself: the rename gives the file a new inode with every
// change, so a lock on it would guard only the version it was taken on,
// and a second writer would lock the new one beside the first. The lock
// file is never replaced or removed, so every program locks the same inode.
// A change takes the lock exclusively for itself unless the caller holds
// it for a whole read-modify-write (reg_hold_store); readers hold it
// shared, so they never see a half-done edit.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/posix/errno_map.h"
#include "platform/posix/registry_location.h"
#include "platform/posix/registry_tree.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace platform {
namespace {

using posix::RegKey;
using posix::RegValue;

struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};

  bool operator==(const FileStamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

FileStamp stamp_of(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  return s;
}

// How long one change waits for other programs' holds, and how often it
// looks whether they ended.
constexpr uint32_t kChangeWaitMs = 10000;
constexpr int kLockPollMs = 5;

// Mode of a registry file the store creates: it holds passwords.
constexpr mode_t kNewFileMode = 0600;

// Longest name of one key, as the Windows registry allows.
constexpr size_t kMaxKeyNameLength = 255;

// The whole file and, when asked, its identity stamp.
os_error read_file(const std::string& file, std::string* text, FileStamp* stamp = nullptr) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return posix::from_errno(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    os_error e = posix::from_errno(errno);
    ::close(fd);
    return e;
  }
  text->clear();
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      os_error e = posix::from_errno(errno);
      ::close(fd);
      return e;
    }
    if (n == 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (stamp) *stamp = stamp_of(st);
  return err::kSuccess;
}

class Store {
 public:
  static Store& get() {
    static Store* store = new Store();  // lives until exit; handles may outlive statics
    return *store;
  }

  os_error open_key(RegHandle parent, const std::string& subkey, bool create, RegHandle* out,
                    bool* created) {
    if (!out) return err::kInvalidParameter;
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::vector<std::string> base;
    if (!path_of(parent, &base)) return err::kInvalidHandle;
    if (!subkey.empty() && subkey[0] == '\\') return err::kBadPathname;
    std::vector<std::string> parts = base;
    for (auto& p : posix::split_key_path(subkey)) parts.push_back(p);
    refresh();
    RegKey* key = find(parts);
    bool made = false;
    if (!key) {
      if (!find(base)) return err::kKeyDeleted;
      if (!create) return err::kFileNotFound;
      for (size_t i = base.size(); i < parts.size(); ++i) {
        if (parts[i].size() > kMaxKeyNameLength) return err::kInvalidParameter;
      }
      os_error e = mutate([&] {
        RegKey* k = find(base);
        if (!k) return err::kKeyDeleted;
        for (size_t i = base.size(); i < parts.size(); ++i) k = k->add_subkey(parts[i]);
        return err::kSuccess;
      });
      if (e != err::kSuccess) return e;
      key = find(parts);
      if (!key) return err::kCantWrite;
      made = true;
    }
    // Keep the stored spelling of every part, as the registry reports it.
    std::vector<std::string> spelled;
    RegKey* k = &top_;
    for (const auto& p : parts) {
      k = k->find_subkey(p);
      spelled.push_back(k->name);
    }
    RegHandle h = next_handle_;
    next_handle_ += 4;
    handles_[h] = std::move(spelled);
    *out = h;
    if (created) *created = made;
    return err::kSuccess;
  }

  os_error close_key(RegHandle h) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (root_index(h) >= 0) return err::kSuccess;
    return handles_.erase(h) ? err::kSuccess : err::kInvalidHandle;
  }

  os_error query_value(RegHandle h, const std::string& name, uint32_t* type, void* data,
                       uint32_t* size) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    RegKey* key = nullptr;
    if (os_error e = key_of(h, &key)) return e;
    RegValue* v = key->find_value(name);
    if (!v) return err::kFileNotFound;
    return copy_out(*v, type, data, size);
  }

  os_error set_value(RegHandle h, const std::string& name, uint32_t type, const void* data,
                     uint32_t size) {
    if (size > 0 && !data) return err::kInvalidParameter;
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::vector<std::string> path;
    if (!path_of(h, &path)) return err::kInvalidHandle;
    std::string bytes(static_cast<const char*>(data), data ? size : 0);
    // Writing what is there already changes nothing: no new file.
    refresh();
    if (!damaged_) {
      RegKey* key = find(path);
      RegValue* v = key ? key->find_value(name) : nullptr;
      if (v && v->type == type && v->data == bytes) return err::kSuccess;
    }
    return mutate([&] {
      RegKey* key = find(path);
      if (!key) return err::kKeyDeleted;
      key->set_value(name, type, bytes);
      return err::kSuccess;
    });
  }

  os_error delete_value(RegHandle h, const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::vector<std::string> path;
    if (!path_of(h, &path)) return err::kInvalidHandle;
    return mutate([&] {
      RegKey* key = find(path);
      if (!key) return err::kKeyDeleted;
      return key->remove_value(name) ? err::kSuccess : err::kFileNotFound;
    });
  }

  os_error query_info(RegHandle h, uint32_t* subkeys, uint32_t* values) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    RegKey* key = nullptr;
    if (os_error e = key_of(h, &key)) return e;
    if (subkeys) *subkeys = static_cast<uint32_t>(key->subkeys.size());
    if (values) *values = static_cast<uint32_t>(key->values.size());
    return err::kSuccess;
  }

  os_error enum_key(RegHandle h, uint32_t index, uint32_t max_name, std::string* name) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    RegKey* key = nullptr;
    if (os_error e = key_of(h, &key)) return e;
    if (index >= key->subkeys.size()) return err::kNoMoreItems;
    const std::string& n = key->subkeys[index]->name;
    if (n.size() + 1 > max_name) return err::kMoreData;
    if (name) *name = n;
    return err::kSuccess;
  }

  os_error enum_value(RegHandle h, uint32_t index, uint32_t max_name, std::string* name,
                      uint32_t* type, void* data, uint32_t* size) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    RegKey* key = nullptr;
    if (os_error e = key_of(h, &key)) return e;
    if (index >= key->values.size()) return err::kNoMoreItems;
    const RegValue& v = key->values[index];
    if (v.name.size() + 1 > max_name) return err::kMoreData;
    if (name) *name = v.name;
    return copy_out(v, type, data, size);
  }

  os_error delete_key(RegHandle h, const std::string& subkey) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::vector<std::string> path;
    if (!path_of(h, &path)) return err::kInvalidHandle;
    size_t own = path.size();
    for (auto& p : posix::split_key_path(subkey)) path.push_back(p);
    if (path.size() == own) return err::kAccessDenied;  // a key cannot delete itself
    return mutate([&] {
      std::vector<std::string> parent(path.begin(), path.end() - 1);
      if (!find(std::vector<std::string>(path.begin(), path.begin() + own))) return err::kKeyDeleted;
      RegKey* p = find(parent);
      if (!p) return err::kFileNotFound;
      RegKey* t = p->find_subkey(path.back());
      if (!t) return err::kFileNotFound;
      if (!t->subkeys.empty()) return err::kAccessDenied;
      p->remove_subkey(path.back());
      return err::kSuccess;
    });
  }

  // Takes a hold; on success `mu_` stays locked until release_hold().
  os_error take_hold(RegHoldMode mode, uint32_t wait_ms) {
    mu_.lock();
    holds_.push_back(mode);
    os_error e = lock_file(level_wanted(), wait_ms);
    if (e != err::kSuccess) {
      holds_.pop_back();
      mu_.unlock();
    }
    return e;
  }

  void release_hold() {
    if (!holds_.empty()) holds_.pop_back();
    // Going down from an exclusive lock to a shared one cannot be kept
    // waiting by a reader; a waiting writer may come first, which is fine.
    lock_file(level_wanted(), kChangeWaitMs);
    mu_.unlock();
  }

  os_error save_key(RegHandle h, const std::string& file) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::vector<std::string> path;
    if (os_error e = existing_path(h, &path)) return e;
    std::string joined;
    for (const auto& p : path) joined += (joined.empty() ? "" : "\\") + p;
    std::string text = posix::format_reg_subtree(*find(path), joined);
    // Like the system's save, never overwrite an existing file.
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? err::kAlreadyExists : posix::from_errno(errno);
    os_error e = write_all(fd, text);
    ::close(fd);
    if (e != err::kSuccess) ::unlink(file.c_str());
    return e;
  }

  os_error restore_key(RegHandle h, const std::string& file) {
    std::string text;
    if (os_error e = read_file(file, &text)) return e;
    RegKey loaded;
    posix::add_roots(&loaded);
    posix::ParseResult parsed = posix::parse_reg_text(text, &loaded);
    if (!parsed.problems.empty() || parsed.first_section.empty()) return err::kBadDb;
    RegKey* source = nullptr;
    {
      RegKey* k = &loaded;
      for (const auto& p : parsed.first_section) k = k ? k->find_subkey(p) : nullptr;
      source = k;
    }
    if (!source) return err::kBadDb;
    std::lock_guard<std::recursive_mutex> lock(mu_);
    std::vector<std::string> path;
    if (os_error e = existing_path(h, &path)) return e;
    return mutate([&] {
      RegKey* key = find(path);
      if (!key) return err::kKeyDeleted;
      key->assign_contents(*source);
      return err::kSuccess;
    });
  }

 private:
  Store() {
    posix::add_roots(&top_);
  }

  static int root_index(RegHandle h) {
    const RegHandle roots[5] = {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                                kHkeyCurrentConfig};
    for (int i = 0; i < 5; ++i)
      if (roots[i] == h) return i;
    return -1;
  }

  bool path_of(RegHandle h, std::vector<std::string>* path) const {
    int r = root_index(h);
    if (r >= 0) {
      *path = {posix::kRootNames[r]};
      return true;
    }
    auto it = handles_.find(h);
    if (it == handles_.end()) return false;
    *path = it->second;
    return true;
  }

  RegKey* find(const std::vector<std::string>& parts) {
    RegKey* k = &top_;
    for (const auto& p : parts) {
      k = k->find_subkey(p);
      if (!k) return nullptr;
    }
    return k;
  }

  // The key behind a handle, after looking for changes on disk.
  os_error key_of(RegHandle h, RegKey** key) {
    std::vector<std::string> path;
    if (os_error e = existing_path(h, &path)) return e;
    *key = find(path);
    return err::kSuccess;
  }

  os_error existing_path(RegHandle h, std::vector<std::string>* path) {
    if (!path_of(h, path)) return err::kInvalidHandle;
    refresh();
    return find(*path) ? err::kSuccess : err::kKeyDeleted;
  }

  static os_error copy_out(const RegValue& v, uint32_t* type, void* data, uint32_t* size) {
    if (type) *type = v.type;
    uint32_t need = static_cast<uint32_t>(v.data.size());
    if (!data) {
      if (size) *size = need;
      return err::kSuccess;
    }
    if (!size) return err::kInvalidParameter;
    uint32_t have = *size;
    *size = need;
    if (need > have) return err::kMoreData;
    std::memcpy(data, v.data.data(), need);
    return err::kSuccess;
  }

  static std::string current_file() { return posix::registry_file_path(); }


  static os_error write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return posix::from_errno(errno);
      done += static_cast<size_t>(n);
    }
    return err::kSuccess;
  }

  // Brings the tree up to date with the file, if the file changed.
  void refresh() {
    std::string file = current_file();
    struct stat& st = last_stat_;
    FileStamp now;
    if (::stat(file.c_str(), &st) == 0) now = stamp_of(st);
    if (loaded_ && file == file_ && now == stamp_) return;
    load(file);
  }

  void load(const std::string& file) {
    top_.clear();
    posix::add_roots(&top_);
    file_ = file;
    stamp_ = FileStamp{};
    damaged_ = false;
    loaded_ = true;
    std::string text;
    FileStamp stamp;
    os_error e = read_file(file, &text, &stamp);
    if (e == err::kFileNotFound) return;  // no file yet: an empty registry
    if (e != err::kSuccess) {
      damaged_ = true;
      loaded_ = false;
      report("cannot read " + file + ": " + error_message(e));
      return;
    }
    stamp_ = stamp;
    posix::ParseResult parsed = posix::parse_reg_text(text, &top_);
    if (!parsed.problems.empty()) {
      // Writing back would drop what we could not read: refuse changes
      // until the file is mended.
      damaged_ = true;
      for (const auto& p : parsed.problems) report(file + ": " + p);
    }
  }

  void report(const std::string& line) {
    if (line == last_report_) return;
    last_report_ = line;
    std::fprintf(stderr, "registry: %s\n", line.c_str());
  }

  enum class FileLock : uint8_t { kNone, kShared, kExclusive };

  FileLock level_wanted() const {
    FileLock level = FileLock::kNone;
    for (RegHoldMode m : holds_) {
      if (m == RegHoldMode::kExclusive) return FileLock::kExclusive;
      level = FileLock::kShared;
    }
    return level;
  }

  // Brings the lock on "<file>.lock" to `level`, waiting up to `wait_ms`
  // for other programs; kTimeout when they kept it longer.
  os_error lock_file(FileLock level, uint32_t wait_ms) {
    std::string lock_path = current_file() + ".lock";
    // A forked child shares the parent's open file, and with it the lock:
    // it needs one of its own. A different registry file (a test's) needs
    // a different lock file.
    if (lock_fd_ < 0 || lock_path != lock_path_ || lock_pid_ != getpid()) {
      if (level == FileLock::kNone) return err::kSuccess;
      // Closing a copy never unlocks: the parent's descriptor still holds.
      if (lock_fd_ >= 0) ::close(lock_fd_);
      lock_level_ = FileLock::kNone;
      lock_path_ = lock_path;
      lock_pid_ = getpid();
      lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (lock_fd_ < 0) return posix::from_errno(errno);
    }
    if (level == lock_level_) return err::kSuccess;
    if (level == FileLock::kNone) {
      flock(lock_fd_, LOCK_UN);
      lock_level_ = FileLock::kNone;
      return err::kSuccess;
    }
    const int op = (level == FileLock::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    // flock has no time-out of its own; polling keeps this thread's wait
    // bounded without signals. Changing the kind of a lock may drop it for
    // a moment, which is what lets two readers that both want to write
    // take turns instead of waiting for each other.
    while (flock(lock_fd_, op) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        os_error e = posix::from_errno(errno);
        lock_level_ = FileLock::kNone;
        flock(lock_fd_, LOCK_UN);
        return e;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        // A failed change of kind can leave no lock at all: say so.
        lock_level_ = FileLock::kNone;
        flock(lock_fd_, LOCK_UN);
        return err::kTimeout;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
    lock_level_ = level;
    return err::kSuccess;
  }

  // Applies `change` to the current tree and writes the result, under an
  // exclusive lock: the caller's hold, or one taken for this change. The
  // change returns the call's result; only success writes.
  template <typename Change>
  os_error mutate(Change change) {
    const FileLock before = level_wanted();
    if (before == FileLock::kExclusive && lock_level_ == FileLock::kExclusive)
      return mutate_locked(current_file(), change);
    if (os_error e = lock_file(FileLock::kExclusive, kChangeWaitMs)) {
      // Back to what the caller's hold had, if anything.
      lock_file(before, kChangeWaitMs);
      return e;
    }
    os_error result = mutate_locked(current_file(), change);
    lock_file(before, kChangeWaitMs);
    return result;
  }

  template <typename Change>
  os_error mutate_locked(const std::string& file, Change& change) {
    refresh();
    if (damaged_) return err::kBadDb;
    os_error e = change();
    if (e != err::kSuccess) return e;
    std::string text = posix::format_reg_text(top_);
    std::string temp = file + ".new";
    // refresh() just looked at the file; under the lock it cannot change.
    const struct stat old = last_stat_;
    bool had_old = stamp_.exists;
    // A file left by a write that died is stale; whatever else sits at the
    // name (a link someone planted) is not followed.
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      loaded_ = false;  // the tree holds a change the file does not
      return posix::from_errno(errno);
    }
    e = keep_owner_and_mode(fd, had_old ? &old : nullptr);
    if (e == err::kSuccess) e = write_all(fd, text);
    struct stat st {};
    if (e == err::kSuccess && fstat(fd, &st) != 0) e = posix::from_errno(errno);
    if (e == err::kSuccess && had_old && !later(st.st_mtim, old.st_mtim)) {
      timespec times[2];
      times[0].tv_nsec = UTIME_OMIT;
      times[1] = old.st_mtim;
      if (++times[1].tv_nsec >= 1000000000L) {
        times[1].tv_nsec = 0;
        ++times[1].tv_sec;
      }
      futimens(fd, times);
      fstat(fd, &st);
    }
    // On disk before the rename: otherwise a crash soon after can leave the
    // settings' name on an empty file.
    if (e == err::kSuccess && ::fdatasync(fd) != 0) e = posix::from_errno(errno);
    if (::close(fd) != 0 && e == err::kSuccess) e = posix::from_errno(errno);
    if (e == err::kSuccess && ::rename(temp.c_str(), file.c_str()) != 0) e = posix::from_errno(errno);
    if (e != err::kSuccess) {
      ::unlink(temp.c_str());
      loaded_ = false;
      return e;
    }
    stamp_ = stamp_of(st);
    file_ = file;
    return err::kSuccess;
  }

  // The new file gets the owner, group and mode of the one it replaces
  // (not narrowed by the umask), or 0600 when there was none. A rewrite
  // that cannot keep them fails rather than hand the file to another
  // owner or mode.
  static os_error keep_owner_and_mode(int fd, const struct stat* old) {
    if (old) {
      struct stat now {};
      if (fstat(fd, &now) != 0) return posix::from_errno(errno);
      if ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
          fchown(fd, old->st_uid, old->st_gid) != 0)
        return posix::from_errno(errno);
    }
    if (fchmod(fd, old ? old->st_mode & 07777 : kNewFileMode) != 0) return posix::from_errno(errno);
    return err::kSuccess;
  }

  static bool later(const timespec& a, const timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
  }

  // Recursive: a hold keeps it from reg_hold_store until it is given
  // back, so that other threads of this program wait for the holder too.
  std::recursive_mutex mu_;
  RegKey top_;
  std::string file_;
  FileStamp stamp_;
  bool loaded_ = false;
  bool damaged_ = false;
  std::string last_report_;
  struct stat last_stat_ {};
  std::string lock_path_;
  int lock_fd_ = -1;
  pid_t lock_pid_ = 0;
  FileLock lock_level_ = FileLock::kNone;
  // The holds this program has taken, innermost last.
  std::vector<RegHoldMode> holds_;
  std::unordered_map<RegHandle, std::vector<std::string>> handles_;
  RegHandle next_handle_ = 0x1000;
};

}  // namespace

os_error reg_open_key(RegHandle parent, const std::string& subkey, bool create, RegHandle* out,
                      bool* created) {
  return Store::get().open_key(parent, subkey, create, out, created);
}
os_error reg_close_key(RegHandle key) { return Store::get().close_key(key); }
os_error reg_query_value(RegHandle key, const std::string& name, uint32_t* type, void* data,
                         uint32_t* size) {
  return Store::get().query_value(key, name, type, data, size);
}
os_error reg_set_value(RegHandle key, const std::string& name, uint32_t type, const void* data,
                       uint32_t size) {
  return Store::get().set_value(key, name, type, data, size);
}
os_error reg_delete_value(RegHandle key, const std::string& name) {
  return Store::get().delete_value(key, name);
}
os_error reg_query_info(RegHandle key, uint32_t* subkeys, uint32_t* values) {
  return Store::get().query_info(key, subkeys, values);
}
os_error reg_enum_key(RegHandle key, uint32_t index, uint32_t max_name, std::string* name) {
  return Store::get().enum_key(key, index, max_name, name);
}
os_error reg_enum_value(RegHandle key, uint32_t index, uint32_t max_name, std::string* name,
                        uint32_t* type, void* data, uint32_t* size) {
  return Store::get().enum_value(key, index, max_name, name, type, data, size);
}
os_error reg_delete_key(RegHandle key, const std::string& subkey) {
  return Store::get().delete_key(key, subkey);
}
namespace {

std::string type_text(uint32_t type) {
  switch (type) {
    case kRegSz: return "text";
    case kRegDword: return "a number (dword)";
    case kRegBinary: return "binary data (hex)";
    case kRegExpandSz: return "expandable text (hex(2))";
    case kRegMultiSz: return "a list of texts (hex(7))";
    default: return "data of type hex(" + std::to_string(type) + ")";
  }
}

bool rule_matches(const RegTypeRule& rule, const posix::ParseResult::ValueLine& v) {
  int root = -1;
  const RegHandle roots[5] = {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                              kHkeyCurrentConfig};
  for (int i = 0; i < 5; ++i)
    if (roots[i] == rule.root) root = i;
  if (root < 0 || v.key.empty() || !posix::names_equal(v.key[0], posix::kRootNames[root]))
    return false;
  std::vector<std::string> parts = posix::split_key_path(rule.key);
  if (parts.size() + 1 != v.key.size()) return false;
  for (size_t i = 0; i < parts.size(); ++i)
    if (parts[i] != "*" && !posix::names_equal(parts[i], v.key[i + 1])) return false;
  return rule.value == "*" || posix::names_equal(rule.value, v.name);
}

int line_of(const std::string& entry) { return std::atoi(entry.c_str() + entry.find(' ') + 1); }

}  // namespace

os_error reg_check_store(const std::vector<RegTypeRule>& rules, std::string* where,
                         std::vector<std::string>* problems) {
  std::string file = posix::registry_file_path();
  if (where) *where = file;
  if (problems) problems->clear();
  std::string text;
  if (os_error e = read_file(file, &text)) return e == err::kFileNotFound ? err::kSuccess : e;
  posix::RegKey scratch;
  posix::add_roots(&scratch);
  posix::ParseResult parsed = posix::parse_reg_text(text, &scratch);
  if (!problems) return err::kSuccess;
  *problems = std::move(parsed.problems);
  for (auto& r : parsed.repeats) problems->push_back(std::move(r));
  for (const auto& v : parsed.values) {
    for (const RegTypeRule& rule : rules) {
      if (v.type == rule.type || !rule_matches(rule, v)) continue;
      problems->push_back("line " + std::to_string(v.line) + ": value " +
                          (v.name.empty() ? std::string("@") : "\"" + v.name + "\"") + " is " +
                          type_text(v.type) + " where " + type_text(rule.type) +
                          " is expected, so it is not read as meant");
      break;
    }
  }
  std::stable_sort(problems->begin(), problems->end(),
                   [](const std::string& a, const std::string& b) { return line_of(a) < line_of(b); });
  return err::kSuccess;
}

os_error reg_hold_store(RegHoldMode mode, uint32_t wait_ms, RegStoreHold* hold) {
  if (!hold || hold->held_) return err::kInvalidParameter;
  os_error e = Store::get().take_hold(mode, wait_ms);
  hold->held_ = e == err::kSuccess;
  return e;
}

RegStoreHold::~RegStoreHold() {
  if (held_) Store::get().release_hold();
}

os_error reg_save_key(RegHandle key, const std::string& file) {
  return Store::get().save_key(key, file);
}
os_error reg_restore_key(RegHandle key, const std::string& file) {
  return Store::get().restore_key(key, file);
}

}  // namespace platform
