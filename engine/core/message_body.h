// The body of a request or a response: nothing, an existing file, a
// temporary file (deleted with the body), a memory block or an open handle,
// with a start offset and a limit for byte ranges. Sizes are 64-bit, so
// documents beyond 4 GiB are served whole and ranged correctly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/scoped_handle.h"

namespace brisvane {

class Socket;

class MessageBody {
 public:
  enum Kind { kNone = 0, kExistingFile = 1, kTemporaryFile = 2, kMemory = 3, kHandle = 4 };

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
