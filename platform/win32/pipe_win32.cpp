// Pipes on Windows are named pipes with unique names, so that each end can
// be made for overlapped I/O on its own: the ends the server keeps are, and
// pipe_wait waits on them with a zero-byte read that completes when data
// comes. Ends meant for a child stay synchronous, as its C runtime expects.
// No end is inheritable; process_spawn hands a child private copies.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/pipe.h"

namespace platform {
namespace {

// kInvalidPipe is INVALID_HANDLE_VALUE: all bits set.
static_assert(sizeof(PipeHandle) == sizeof(HANDLE) && kInvalidPipe == static_cast<PipeHandle>(-1));
static_assert(kWaitInfinite == INFINITE && err::kBrokenPipe == ERROR_BROKEN_PIPE);

constexpr DWORD kBufferSize = 65536;

HANDLE native(PipeHandle p) { return reinterpret_cast<HANDLE>(p); }

bool fail(DWORD e) {
  SetLastError(e);
  return false;
}

// An event for one overlapped operation; closed when it goes.
class IoEvent {
 public:
  IoEvent() : h_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~IoEvent() {
    if (h_) CloseHandle(h_);
  }
  IoEvent(const IoEvent&) = delete;
  IoEvent& operator=(const IoEvent&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// One read or write on an end made for either kind of I/O; waits for it.
bool transfer(HANDLE h, bool write, void* buf, DWORD len, DWORD* done) {
  IoEvent event;
  if (!event.get()) return false;
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  *done = 0;
  BOOL ok = write ? WriteFile(h, buf, len, done, &ov) : ReadFile(h, buf, len, done, &ov);
  if (ok) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(h, &ov, done, TRUE) != 0;
}

}  // namespace

bool pipe_create(PipeHandle* read_end, PipeHandle* write_end, bool inherit_read, bool inherit_write) {
  *read_end = *write_end = kInvalidPipe;
  static std::atomic<unsigned> counter{0};
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\brisvane-%lu-%u-%llu", GetCurrentProcessId(), ++counter,
                static_cast<unsigned long long>(GetTickCount64()));
  DWORD read_mode = PIPE_ACCESS_INBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | (inherit_read ? 0 : FILE_FLAG_OVERLAPPED);
  HANDLE rd = CreateNamedPipeA(name, read_mode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               1, kBufferSize, kBufferSize, 0, nullptr);
  if (rd == INVALID_HANDLE_VALUE) return false;
  HANDLE wr = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, inherit_write ? 0 : FILE_FLAG_OVERLAPPED, nullptr);
  if (wr == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    CloseHandle(rd);
    return fail(e);
  }
  *read_end = reinterpret_cast<PipeHandle>(rd);
  *write_end = reinterpret_cast<PipeHandle>(wr);
  return true;
}

bool pipe_close(PipeHandle p) {
  if (p == kInvalidPipe || p == 0) return fail(ERROR_INVALID_HANDLE);
  return CloseHandle(native(p)) != 0;
}

int64_t pipe_read(PipeHandle read_end, void* buf, size_t len) {
  DWORD got = 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(len, 1u << 30));
  if (transfer(native(read_end), false, buf, want, &got)) return got;
  // Every writer gone and nothing left: the end of the data.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

int64_t pipe_write(PipeHandle write_end, const void* data, size_t len) {
  char* p = static_cast<char*>(const_cast<void*>(data));
  size_t done = 0;
  while (done < len) {
    DWORD n = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(len - done, 1u << 30));
    if (!transfer(native(write_end), true, p + done, chunk, &n)) {
      // A pipe whose reader has gone reports "being closed" on writes.
      if (GetLastError() == ERROR_NO_DATA) SetLastError(ERROR_BROKEN_PIPE);
      return -1;
    }
    done += n;
  }
  return static_cast<int64_t>(len);
}

bool pipe_peek(PipeHandle read_end, uint32_t* available) {
  DWORD n = 0;
  if (!PeekNamedPipe(native(read_end), nullptr, 0, nullptr, &n, nullptr)) return false;
  *available = n;
  return true;
}

int pipe_wait(PipeHandle read_end, uint32_t timeout_ms) {
  HANDLE h = native(read_end);
  IoEvent event;
  if (!event.get()) return -1;
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  char none = 0;
  if (ReadFile(h, &none, 0, nullptr, &ov)) return 1;
  DWORD e = GetLastError();
  if (e == ERROR_BROKEN_PIPE) return 1;
  if (e != ERROR_IO_PENDING) return -1;
  bool timed_out = WaitForSingleObject(event.get(), timeout_ms) == WAIT_TIMEOUT;
  if (timed_out) CancelIoEx(h, &ov);
  // The read must be finished before `ov` goes, cancelled or not.
  DWORD n = 0;
  if (GetOverlappedResult(h, &ov, &n, TRUE)) return 1;
  e = GetLastError();
  if (e == ERROR_BROKEN_PIPE) return 1;
  if (e == ERROR_OPERATION_ABORTED && timed_out) return 0;
  return -1;
}

}  // namespace platform
