// Pipes on POSIX: the handle is the descriptor. Every end is close-on-exec;
// a child gets an end only as a standard descriptor, through dup2.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/pipe.h"
#include "platform/posix/errno_map.h"

namespace platform {
namespace {

int fd_of(PipeHandle p) { return p == kInvalidPipe || p > INT_MAX ? -1 : static_cast<int>(p); }

bool fail(os_error e) {
  set_last_error(e);
  return false;
}

int fail_count(os_error e) {
  set_last_error(e);
  return -1;
}

// Writes with SIGPIPE blocked on this thread, and takes back a SIGPIPE the
// write raised, so that a reader gone away is an error, not the end of
// the process.
ssize_t write_without_sigpipe(int fd, const void* data, size_t len) {
  sigset_t pipe_only, old;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  bool was_pending = sigismember(&pending, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
  ssize_t n;
  do {
    n = ::write(fd, data, len);
  } while (n < 0 && errno == EINTR);
  int saved = errno;
  if (n < 0 && saved == EPIPE && !was_pending) {
    const timespec none{0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return n;
}

}  // namespace

bool pipe_create(PipeHandle* read_end, PipeHandle* write_end, bool, bool) {
  *read_end = *write_end = kInvalidPipe;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    posix::set_last_from_errno();
    return false;
  }
  *read_end = static_cast<PipeHandle>(fds[0]);
  *write_end = static_cast<PipeHandle>(fds[1]);
  return true;
}

bool pipe_close(PipeHandle p) {
  int fd = fd_of(p);
  if (fd < 0) return fail(err::kInvalidHandle);
  // The descriptor is gone whatever close says; EINTR must not be retried.
  if (::close(fd) != 0 && errno != EINTR) {
    posix::set_last_from_errno();
    return false;
  }
  return true;
}

int64_t pipe_read(PipeHandle read_end, void* buf, size_t len) {
  int fd = fd_of(read_end);
  if (fd < 0) return fail_count(err::kInvalidHandle);
  ssize_t n;
  do {
    n = ::read(fd, buf, len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    posix::set_last_from_errno();
    return -1;
  }
  return n;
}

int64_t pipe_write(PipeHandle write_end, const void* data, size_t len) {
  int fd = fd_of(write_end);
  if (fd < 0) return fail_count(err::kInvalidHandle);
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < len) {
    ssize_t n = write_without_sigpipe(fd, p + done, len - done);
    if (n < 0) {
      posix::set_last_from_errno();
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(len);
}

bool pipe_peek(PipeHandle read_end, uint32_t* available) {
  int fd = fd_of(read_end);
  if (fd < 0) return fail(err::kInvalidHandle);
  int n = 0;
  if (::ioctl(fd, FIONREAD, &n) != 0) {
    posix::set_last_from_errno();
    return false;
  }
  *available = static_cast<uint32_t>(n);
  if (n > 0) return true;
  // Empty: tell a live writer from none, as Windows does.
  pollfd pfd{fd, POLLIN, 0};
  if (::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLHUP)) return fail(err::kBrokenPipe);
  return true;
}

int pipe_wait(PipeHandle read_end, uint32_t timeout_ms) {
  int fd = fd_of(read_end);
  if (fd < 0) return fail_count(err::kInvalidHandle);
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms != kWaitInfinite) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      int64_t spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      wait_ms = spent >= timeout_ms ? 0 : static_cast<int>(timeout_ms - spent);
    }
    pollfd pfd{fd, POLLIN, 0};
    int r = ::poll(&pfd, 1, wait_ms);
    if (r > 0) {
      if (pfd.revents & POLLNVAL) return fail_count(err::kInvalidHandle);
      return 1;
    }
    if (r == 0) return 0;
    if (errno != EINTR) {
      posix::set_last_from_errno();
      return -1;
    }
  }
}

}  // namespace platform
