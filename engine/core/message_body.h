// The body of a request or a response: one of a few sources held in one
// value, read through one reader.
//
//   - a range of an open file, which the body owns (a document, a request
//     body or a script's output in an unnamed temporary file);
//   - shared bytes that never change (a page built in memory, or a kept
//     document's content, shared with the document cache);
//   - the read end of a pipe that another thread writes, with the deadline
//     its writer has; its length is not known in advance.
//
// A body that serves the mapped document also remembers the document's
// path and information (size, last-write time), so that conditional
// requests and byte ranges can ask whether it still is that document.
// Sizes are 64-bit: documents beyond 4 GiB are served whole and ranged.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/file.h"
#include "platform/scoped_handle.h"

namespace brisvane {

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

struct FileSource {
  platform::ScopedFile file;
  uint64_t offset = 0;
  uint64_t length = 0;
};
struct SharedSource {
  std::shared_ptr<const std::string> bytes;
  size_t offset = 0;
  size_t length = 0;
};
struct PipeSource {
  platform::ScopedPipe pipe;
  std::string first;  // bytes taken from the pipe before it became the body
  PipeDeadline deadline;
};

class MessageBody {
 public:
  MessageBody() = default;
  MessageBody(MessageBody&&) noexcept = default;
  MessageBody& operator=(MessageBody&&) noexcept = default;
  MessageBody(const MessageBody&) = delete;
  MessageBody& operator=(const MessageBody&) = delete;

  // No body. A file or pipe it held is closed; an unnamed temporary file
  // goes with it.
  void Reset();

  // `length` bytes of `file` from `offset`.
  void SetFile(platform::ScopedFile file, uint64_t offset, uint64_t length);
  void SetMemory(std::string bytes);
  // The read end of a pipe; `first` (bytes read from it before) comes
  // first. It ends when every writer has closed, or when `deadline` passes
  // with the writer silent.
  void SetPipe(platform::ScopedPipe read_end, std::string first, PipeDeadline deadline);
  // The mapped document at `path`, open in `file`, as `info` describes it.
  void SetDocument(const std::string& path, platform::ScopedFile file, const platform::FileInfo& info);
  // The mapped document from the bytes kept of it: nothing is opened.
  void SetKeptDocument(const std::string& path, std::shared_ptr<const std::string> content,
                       const platform::FileInfo& info);
  // Opens the document at `path`; false with last_error() set, the body
  // then empty.
  bool OpenDocument(const std::string& path);

  bool empty() const { return std::holds_alternative<std::monostate>(source_); }
  bool is_pipe() const { return std::holds_alternative<PipeSource>(source_); }
  // The document this body serves, whole or in part, when it serves one.
  bool IsDocument(const std::string& path) const { return document_ && document_->path == path; }
  // Its information as read when it was opened; null for other bodies.
  const platform::FileInfo* document_info() const { return document_ ? &document_->info : nullptr; }
  // Narrows a document body to `length` bytes from `first` of the
  // document (a byte range).
  void Narrow(uint64_t first, uint64_t length);

  // The bytes a reader gives: 0 for a pipe, whose length is not known.
  uint64_t Size() const;

  // A second body over the same bytes that reads on by itself, for a
  // reader that may outlive this body (an extension run, a child's
  // standard input). A pipe cannot be shared: its copy is empty.
  MessageBody Share() const;
  // The open file of a file body, for handing on to a child; its data
  // starts at *offset.
  platform::FileHandle file(uint64_t* offset) const;

 private:
  friend class BodyReader;
  struct Document {
    std::string path;
    platform::FileInfo info;
  };

  std::variant<std::monostate, FileSource, SharedSource, PipeSource> source_;
  std::optional<Document> document_;
};

// Where a body goes. A plain connection takes a file range straight from
// the file (sendfile); an encrypted one, or any other sink, gets the bytes
// read into a buffer, which is what WriteFile does unless overridden.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // Writes all of `data`; false on failure.
  virtual bool Write(const void* data, size_t length) = 0;
  // Writes `length` bytes of `file` from `offset`; false on failure, also
  // when the file ends early.
  virtual bool WriteFile(platform::FileHandle file, uint64_t offset, uint64_t length);
};

// The one way a body is read: from its first byte to its last, whatever
// its source. Reading a file body does not move anything a second reader
// would see; reading a pipe body takes the bytes from the pipe.
class BodyReader {
 public:
  explicit BodyReader(MessageBody& body) : body_(body) {}

  // Bytes still to come: 0 for a pipe.
  uint64_t Remaining() const;
  // The next bytes: the count, 0 at the end (for a pipe also once its
  // deadline passed), -1 when the source cannot be read.
  int64_t Read(void* buf, size_t len);
  // The rest of the body into `out` when it is at most `max` bytes; false
  // (nothing read) when it is longer or cannot be read.
  bool ReadAll(std::string* out, uint64_t max);
  // Writes `head` and then the rest of the body to `sink`. A body of at
  // most `inline_max` bytes that can be read at once goes in the same
  // write as the head, so a client never waits on a delayed
  // acknowledgement. False when a write fails or the body cannot be read
  // (after the head went out); *sent gets the body bytes written.
  bool SendTo(BodySink& sink, std::string_view head, size_t inline_max, uint64_t* sent);

 private:
  int64_t ReadPipe(PipeSource& pipe, void* buf, size_t len);

  MessageBody& body_;
  uint64_t position_ = 0;
};

}  // namespace brisvane
