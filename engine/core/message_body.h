// The body of a request or a response: nothing, an existing file, a
// temporary file (deleted with the body), a memory block, an open handle
// or the read end of a pipe, with a start offset and a limit for byte ranges. Sizes are 64-bit, so
// documents beyond 4 GiB are served whole and ranged correctly.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/scoped_handle.h"

namespace brisvane {

class Socket;

// How long a pipe may still be waited for: `ms` from `start` on the tick
// clock, or without end when `ms` is kWaitInfinite.
struct PipeDeadline {
  uint32_t start = 0;
  uint32_t ms = platform::kWaitInfinite;
  // Raised when the engine stops: the wait gives up within a moment.
  const std::atomic<bool>* cancel = nullptr;
  // Starts now; a time-out of 0 means none.
  static PipeDeadline After(uint32_t timeout_ms, const std::atomic<bool>* cancel = nullptr);
  // Milliseconds left (0 once passed), or kWaitInfinite.
  uint32_t Left() const;
  // Waits until a read of `pipe` would not block, at most `max_ms` and the
  // time left: 1 ready, 0 when the time is up or the engine stops, -1 on
  // error.
  int Wait(platform::PipeHandle pipe, uint32_t max_ms) const;
};

class MessageBody {
 public:
  enum Kind { kNone = 0, kExistingFile = 1, kTemporaryFile = 2, kMemory = 3, kHandle = 4, kPipe = 5 };

  MessageBody() = default;
  ~MessageBody() { Reset(); }
  MessageBody(const MessageBody&) = delete;
  MessageBody& operator=(const MessageBody&) = delete;

  // Releases what the body holds: a temporary file is deleted, a handle
  // closed, memory freed. An existing file is never deleted.
  void Reset();

  // Creates a unique empty "BSV" file in the temporary directory and makes
  // it the body. On failure shows "Unable to open temporary file" and
  // leaves the body empty.
  bool MakeTemporary(bool reset_first = true);
  void UseExistingFile(const std::string& path, bool reset_first = true);
  // As UseExistingFile, with a handle already open for reading that the
  // body takes over, so the file is opened once per request.
  void UseOpenExistingFile(const std::string& path, platform::FileHandle handle,
                           const platform::FileInfo& info);
  // As UseExistingFile, with the file's bytes and information read before
  // (a kept document): nothing is opened or read for this request.
  void UseKeptExistingFile(const std::string& path, std::shared_ptr<const std::string> content,
                           const platform::FileInfo& info);
  void UseTemporaryFile(const std::string& path, bool reset_first = true);
  void CopyMemory(const void* data, size_t length, bool reset_first = true);
  void AdoptMemory(std::string&& data, bool reset_first = true);
  void UseHandle(platform::FileHandle handle, bool reset_first = true);
  // The read end of a pipe that another thread writes, owned from now on;
  // `already_read` (bytes taken from it before) comes first. Its length is
  // unknown (Size() is 0): it ends when every writer has closed, or when
  // `deadline` passes with the writer silent.
  void UsePipe(platform::PipeHandle read_end, std::string already_read, PipeDeadline deadline);

  Kind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  const std::string& memory() const { return data_; }
  // The open handle of a kHandle body, read from where it stands.
  platform::FileHandle handle() const { return handle_.get(); }
  uint64_t start_offset() const { return start_; }
  uint64_t limit() const { return limit_; }
  void set_range(uint64_t start, uint64_t limit) {
    start_ = start;
    limit_ = limit;
  }

  // The whole body in `out` when it is at most `max` bytes and can be read
  // now; the response writer sends such bodies in one write with the head.
  bool ReadInline(std::string* out, size_t max) const;

  // Bytes that Send would transmit.
  uint64_t Size() const;
  // Size of the whole underlying file, ignoring offset and limit.
  uint64_t FileSize() const;
  // Last-write time of an existing-file body (100-ns units since 1601).
  bool LastWriteTime(uint64_t* time) const;
  // Streams the body; false when it cannot be read or the send fails.
  bool Send(Socket& socket, uint64_t* bytes_sent) const;
  // The next bytes of a pipe body, waiting for them within its deadline:
  // the count, 0 at its end (or once the deadline passed), -1 for any
  // other kind or a failed read.
  int64_t ReadPipe(void* buf, size_t len) const;

  // Appends bytes to a temporary-file body (request bodies).
  bool Append(const void* data, size_t length);
  // Finishes appending: closes the write handle.
  void EndAppend();

 private:
  Kind kind_ = kNone;
  std::string path_;
  std::string data_;
  platform::ScopedFile handle_;
  platform::ScopedFile writer_;
  platform::ScopedPipe pipe_;
  PipeDeadline deadline_;
  // Bytes of data_ that ReadPipe handed out; reading a pipe consumes it
  // whether or not the body is otherwise changed.
  mutable size_t pipe_taken_ = 0;
  // Kind 1: the file opened once and reused by Size, LastWriteTime and
  // Send; its size and time are read once.
  platform::FileHandle OpenFile() const;
  const platform::FileInfo* Info() const;
  mutable platform::ScopedFile reader_;
  mutable bool info_known_ = false;
  mutable bool info_ok_ = false;
  mutable platform::FileInfo info_;
  // Kind 1 with the bytes already in memory.
  std::shared_ptr<const std::string> kept_;
  uint64_t start_ = 0;
  uint64_t limit_ = 0;
};

}  // namespace brisvane
