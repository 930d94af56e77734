// Files on POSIX with the Windows meaning. Share modes become advisory
// flock locks taken by writers: a writer that does not share writing takes
// an exclusive lock, one that does takes a shared lock, so two writers
// conflict exactly when one of them refused to share (readers never lock).
// flock belongs to the open file description, so the conflict shows within
// one process as well as between processes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <random>

#include "platform/file.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/file_internal.h"
#include "platform/system.h"

namespace platform {
namespace {

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

struct PosixFile {
  int fd = -1;
  std::string delete_path;  // unlinked at close (delete-on-close)
};

PosixFile* from_handle(FileHandle f) {
  if (f == kInvalidFile || f == 0) return nullptr;
  return reinterpret_cast<PosixFile*>(f);
}

bool fail(os_error e) {
  set_last_error(e);
  return false;
}

int64_t fail_count(os_error e) {
  set_last_error(e);
  return -1;
}

bool fail_errno() {
  posix::set_last_from_errno();
  return false;
}

std::string parent_of(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  size_t slash = path.rfind('/', end);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// ENOENT means a missing file when the parent directory is there and a
// missing path otherwise, as Windows tells the two apart.
os_error not_found_error(const std::string& path) {
  struct stat st {};
  if (::stat(parent_of(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return err::kFileNotFound;
  return err::kPathNotFound;
}

os_error path_error(int e, const std::string& path) {
  if (e == ENOENT) return not_found_error(path);
  return posix::from_errno(e);
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

uint32_t attributes_of(const std::string& name, const struct stat& st) {
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") a |= kAttrHidden;
  return a;
}

std::string last_component(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  size_t slash = path.rfind('/', end);
  size_t begin = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(begin, end + 1 - begin);
}

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens per the disposition without truncating: truncation waits until the
// share lock is held, so that a refused open leaves the file as it was.
// `existed` tells whether the file was there before.
int open_for(const std::string& path, int base, uint32_t disposition, bool* existed) {
  *existed = true;
  switch (disposition) {
    case kCreateNew:
      *existed = false;
      return open_retrying(path.c_str(), base | O_CREAT | O_EXCL, 0666);
    case kOpenExisting:
    case kTruncateExisting:
      return open_retrying(path.c_str(), base);
    case kCreateAlways:
    case kOpenAlways:
      // Two steps so that the caller learns whether the file was new, as
      // ERROR_ALREADY_EXISTS tells on Windows.
      for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open_retrying(path.c_str(), base);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = open_retrying(path.c_str(), base | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) {
          *existed = false;
          return fd;
        }
      }
      errno = EEXIST;
      return -1;
    default:
      errno = EINVAL;
      return -1;
  }
}

bool read_write_copy(int in, int out) {
  char buf[65536];
  while (true) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return false;
      done += w;
    }
  }
}

bool copy_contents(int in, int out) {
  bool first = true;
  while (true) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1u << 30, 0);
    if (n > 0) {
      first = false;
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    // Not every file system pair can do it; plain copying always can.
    if (first && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
      return read_write_copy(in, out);
    return false;
  }
}

}  // namespace

namespace posix {

int file_descriptor(FileHandle f) {
  PosixFile* p = from_handle(f);
  return p ? p->fd : -1;
}

uint64_t filetime_from_timespec(long long sec, long nsec) {
  constexpr long long kEpochDelta = 11644473600LL;  // seconds from 1601 to 1970
  if (sec < -kEpochDelta) return 0;
  return static_cast<uint64_t>(sec + kEpochDelta) * 10000000u + static_cast<uint64_t>(nsec) / 100u;
}

}  // namespace posix

FileHandle file_open(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) {
  bool write = access & kGenericWrite;
  int base = O_CLOEXEC | (write ? ((access & kGenericRead) ? O_RDWR : O_WRONLY) : O_RDONLY);
  bool existed = false;
  int fd = open_for(path, base, disposition, &existed);
  if (fd < 0) {
    set_last_error(path_error(errno, path));
    return kInvalidFile;
  }
  if (write) {
    int lock = (share & kShareWrite) ? LOCK_SH : LOCK_EX;
    int r;
    do {
      r = ::flock(fd, lock | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0 && errno == EWOULDBLOCK) {
      ::close(fd);
      set_last_error(err::kSharingViolation);
      return kInvalidFile;
    }
    // Other failures (a file system without locks) leave the file unlocked.
  }
  bool truncate = existed && (disposition == kCreateAlways || disposition == kTruncateExisting);
  // Truncating a file that is already empty is not free: on ext4 it marks
  // the file for a flush at close, so the close waits on the disk. A fresh
  // temporary file is the common case.
  struct stat st;
  if (truncate && ::fstat(fd, &st) == 0 && st.st_size == 0) truncate = false;
  if (truncate && ::ftruncate(fd, 0) != 0) {
    os_error e = posix::from_errno(errno);
    ::close(fd);
    set_last_error(e);
    return kInvalidFile;
  }
  if (flags & kFlagSequentialScan) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  auto* file = new PosixFile;
  file->fd = fd;
  if (flags & kFlagDeleteOnClose) file->delete_path = absolute(path);
  bool reports_existing = disposition == kCreateAlways || disposition == kOpenAlways;
  set_last_error(reports_existing && existed ? err::kAlreadyExists : err::kSuccess);
  return reinterpret_cast<FileHandle>(file);
}

bool file_close(FileHandle f) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  std::unique_ptr<PosixFile> owned(p);
  if (!p->delete_path.empty()) ::unlink(p->delete_path.c_str());
  // The descriptor is gone whatever close says; EINTR must not be retried.
  if (::close(p->fd) != 0 && errno != EINTR) return fail_errno();
  return true;
}

bool same_path_text(const std::string& a, const std::string& b) { return a == b; }

int64_t file_read(FileHandle f, void* buf, size_t len) {
  PosixFile* p = from_handle(f);
  if (!p) return fail_count(err::kInvalidHandle);
  while (true) {
    ssize_t n = ::read(p->fd, buf, len);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    posix::set_last_from_errno();
    return -1;
  }
}

int64_t file_write(FileHandle f, const void* data, size_t len) {
  PosixFile* p = from_handle(f);
  if (!p) return fail_count(err::kInvalidHandle);
  // WriteFile on a disk file writes everything or fails; so does this.
  const char* at = static_cast<const char*>(data);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::write(p->fd, at + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      posix::set_last_from_errno();
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool file_seek(FileHandle f, uint64_t offset) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  if (offset > static_cast<uint64_t>(INT64_MAX)) return fail(err::kInvalidParameter);
  if (::lseek(p->fd, static_cast<off_t>(offset), SEEK_SET) < 0) return fail_errno();
  return true;
}

bool file_seek_end(FileHandle f) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  if (::lseek(p->fd, 0, SEEK_END) < 0) return fail_errno();
  return true;
}

bool file_size(FileHandle f, uint64_t* size) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  struct stat st {};
  if (::fstat(p->fd, &st) != 0) return fail_errno();
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool file_last_write_time(FileHandle f, uint64_t* time) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  struct stat st {};
  if (::fstat(p->fd, &st) != 0) return fail_errno();
  *time = posix::filetime_from_timespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return true;
}

bool file_info(FileHandle f, FileInfo* info) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  struct stat st {};
  if (::fstat(p->fd, &st) != 0) return fail_errno();
  info->size = static_cast<uint64_t>(st.st_size);
  info->last_write = posix::filetime_from_timespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  info->attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : 0;
  if (!(st.st_mode & S_IWUSR)) info->attributes |= kAttrReadOnly;
  return true;
}

namespace {

void identity_from_stat(const struct stat& st, FileIdentity* id) {
  id->volume = static_cast<uint64_t>(st.st_dev);
  id->index = static_cast<uint64_t>(st.st_ino);
  id->size = static_cast<uint64_t>(st.st_size);
  id->last_write = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_mtim.tv_nsec);
  id->change = static_cast<uint64_t>(st.st_ctim.tv_sec) * 1000000000u + static_cast<uint64_t>(st.st_ctim.tv_nsec);
  id->attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : 0;
}

}  // namespace

bool file_identity(FileHandle f, FileIdentity* id) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  struct stat st {};
  if (::fstat(p->fd, &st) != 0) return fail_errno();
  identity_from_stat(st, id);
  return true;
}

bool identity_settled(const FileIdentity& id, uint32_t ms) {
  struct timespec now {};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const uint64_t now_ns = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
  const uint64_t latest = id.last_write > id.change ? id.last_write : id.change;
  return now_ns >= latest && now_ns - latest >= static_cast<uint64_t>(ms) * 1000000u;
}

bool path_identity(const std::string& path, FileIdentity* id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail_errno();
  identity_from_stat(st, id);
  return true;
}

int64_t file_read_at(FileHandle f, uint64_t offset, void* buf, size_t len) {
  PosixFile* p = from_handle(f);
  if (!p) {
    fail(err::kInvalidHandle);
    return -1;
  }
  while (true) {
    ssize_t n = ::pread(p->fd, buf, len, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) {
      fail_errno();
      return -1;
    }
  }
}

bool file_flush(FileHandle f) {
  PosixFile* p = from_handle(f);
  if (!p) return fail(err::kInvalidHandle);
  if (::fsync(p->fd) != 0) return fail_errno();
  return true;
}

uint32_t file_attributes(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    set_last_error(path_error(errno, path));
    return kInvalidAttributes;
  }
  return attributes_of(last_component(path), st);
}

bool file_copy(const std::string& from, const std::string& to, bool fail_if_exists) {
  int in = open_retrying(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(path_error(errno, from));
  struct stat src {};
  if (::fstat(in, &src) != 0 || S_ISDIR(src.st_mode)) {
    os_error e = S_ISDIR(src.st_mode) ? err::kAccessDenied : posix::from_errno(errno);
    ::close(in);
    return fail(e);
  }
  int out = open_retrying(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fail_if_exists ? O_EXCL : 0), 0666);
  if (out < 0) {
    os_error e = path_error(errno, to);
    ::close(in);
    return fail(e);
  }
  // Copying a file onto itself would empty it, and a target that a writer
  // holds without sharing is refused, as Windows refuses both.
  struct stat dst {};
  bool same = ::fstat(out, &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino;
  if (same || (::flock(out, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
    ::close(in);
    ::close(out);
    return fail(err::kSharingViolation);
  }
  bool ok = ::ftruncate(out, 0) == 0 && copy_contents(in, out);
  os_error e = ok ? err::kSuccess : posix::from_errno(errno);
  if (ok) {
    // CopyFile keeps the last-write time of the source.
    timespec times[2] = {src.st_atim, src.st_mtim};
    ::futimens(out, times);
  }
  ::close(in);
  if (::close(out) != 0 && ok && errno != EINTR) {
    ok = false;
    e = posix::from_errno(errno);
  }
  if (!ok) {
    ::unlink(to.c_str());
    return fail(e);
  }
  return true;
}

bool file_delete(const std::string& path) {
  struct stat st {};
  // DeleteFile refuses directories with access denied; unlink says EISDIR
  // or EPERM depending on the system.
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fail(err::kAccessDenied);
  if (::unlink(path.c_str()) != 0) return fail(path_error(errno, path));
  return true;
}

bool list_directory(const std::string& path, std::vector<DirEntry>* entries) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return fail(errno == ENOENT || errno == ENOTDIR ? err::kPathNotFound : posix::from_errno(errno));
  entries->clear();
  int dfd = ::dirfd(dir);
  while (true) {
    errno = 0;
    dirent* d = ::readdir(dir);
    if (!d) break;
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    // A dangling link still shows, as the link itself; an entry that
    // vanished since readdir does not.
    if (::fstatat(dfd, d->d_name, &st, 0) != 0 && ::fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    DirEntry e;
    e.name = std::move(name);
    e.attributes = attributes_of(e.name, st);
    e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    e.last_write = posix::filetime_from_timespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    entries->push_back(std::move(e));
  }
  os_error e = errno ? posix::from_errno(errno) : err::kSuccess;
  ::closedir(dir);
  if (e != err::kSuccess) return fail(e);
  return true;
}

bool temp_directory(std::string* dir) {
  std::string d = "/tmp";
  if (auto env = get_env("TMPDIR"); env && !env->empty()) d = *env;
  if (d.back() != '/') d += '/';
  *dir = std::move(d);
  return true;
}

namespace {

// "<up to three characters of prefix>XXXXXX.TMP" in `dir`.
std::string temp_template(const std::string& dir, const std::string& prefix) {
  std::string name = dir.empty() ? std::string(".") : dir;
  if (name.back() != '/') name += '/';
  return name + prefix.substr(0, 3) + "XXXXXX.TMP";
}

os_error temp_error(int e) { return e == ENOENT ? err::kPathNotFound : posix::from_errno(e); }

// A new file from the template with the mode given (the umask applies),
// in the way of mkostemps, whose files are always 0600.
int create_unique(std::vector<char>& name, mode_t mode) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t x = name.size() - 1 - 4 - 6;  // the six X before ".TMP" and the NUL
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = 0; i < 6; ++i) name[x + i] = kChars[random() % (sizeof kChars - 1)];
    const int fd = open_retrying(name.data(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

FileHandle wrap(int fd) {
  auto* file = new PosixFile;
  file->fd = fd;
  return reinterpret_cast<FileHandle>(file);
}

}  // namespace

bool temp_file_name(const std::string& dir, const std::string& prefix, std::string* path, bool private_file) {
  // Up to three characters of the prefix, as GetTempFileName, then random
  // characters: a numbered series could be pre-created by another local
  // user. Mode 0600 by default, since request bodies land here.
  const std::string name = temp_template(dir, prefix);
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd;
  if (private_file) {
    do {
      fd = ::mkostemps(buf.data(), 4, O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  } else {
    fd = create_unique(buf, 0666);
  }
  if (fd < 0) return fail(temp_error(errno));
  ::close(fd);
  *path = buf.data();
  return true;
}

FileHandle temp_file_unnamed(const std::string& dir, const std::string& prefix) {
  const std::string where = dir.empty() ? std::string(".") : dir;
#ifdef O_TMPFILE
  int fd = open_retrying(where.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) return wrap(fd);
  // Not every file system has unnamed files: a name removed at once.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    set_last_error(temp_error(errno));
    return kInvalidFile;
  }
#endif
  const std::string name = temp_template(where, prefix);
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int named;
  do {
    named = ::mkostemps(buf.data(), 4, O_CLOEXEC);
  } while (named < 0 && errno == EINTR);
  if (named < 0) {
    set_last_error(temp_error(errno));
    return kInvalidFile;
  }
  ::unlink(buf.data());
  return wrap(named);
}

bool file_replace(const std::string& from, const std::string& to) {
  struct stat st {};
  // MoveFileEx will not replace a read-only file or a directory; rename
  // would replace the first and, given an empty one, the second.
  if (::stat(to.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)))
    return fail(err::kAccessDenied);
  if (::rename(from.c_str(), to.c_str()) != 0) return fail(path_error(errno, to));
  return true;
}

FileHandle file_duplicate(FileHandle f) {
  PosixFile* p = from_handle(f);
  if (!p) {
    fail(err::kInvalidHandle);
    return kInvalidFile;
  }
  const int fd = ::fcntl(p->fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    fail_errno();
    return kInvalidFile;
  }
  return wrap(fd);
}

}  // namespace platform
