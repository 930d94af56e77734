#include "engine/core/message_body.h"

#include <algorithm>
#include <memory>

#include "platform/system.h"

namespace brisvane {
namespace {

// Pieces a body is read in when it is not sent straight from its file.
constexpr size_t kPieceSize = 65536;

// Shares deletion too, so that a document being sent can still be deleted
// or replaced by another request, as it can on POSIX.
platform::FileHandle OpenForReading(const std::string& path) {
  return platform::file_open(path, platform::kGenericRead,
                             platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                             platform::kOpenExisting, platform::kFlagSequentialScan);
}

}  // namespace

PipeDeadline PipeDeadline::After(uint32_t timeout_ms, const std::atomic<bool>* cancel) {
  return PipeDeadline{platform::tick_count(), timeout_ms == 0 ? platform::kWaitInfinite : timeout_ms, cancel};
}

int PipeDeadline::Wait(platform::PipeHandle pipe, uint32_t max_ms) const {
  // With a stop flag to watch the wait goes in slices; the pipe itself
  // still wakes it at once.
  constexpr uint32_t kSliceMs = 100;
  const uint32_t begun = platform::tick_count();
  for (;;) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return 0;
    uint32_t left = Left();
    if (max_ms != platform::kWaitInfinite) {
      const uint32_t spent = platform::tick_count() - begun;
      if (spent >= max_ms) return 0;
      left = std::min(left, max_ms - spent);
    }
    if (left == 0) return 0;
    const uint32_t slice = cancel ? std::min(left, kSliceMs) : left;
    const int r = platform::pipe_wait(pipe, slice);
    if (r != 0 || slice == left) return r;
  }
}

uint32_t PipeDeadline::Left() const {
  if (ms == platform::kWaitInfinite) return ms;
  const uint32_t spent = platform::tick_count() - start;
  return spent >= ms ? 0 : ms - spent;
}

void MessageBody::Reset() {
  // A writer still running on a pipe sees its next write fail: the reader
  // is gone.
  source_ = std::monostate{};
  document_.reset();
}

void MessageBody::SetFile(platform::ScopedFile file, uint64_t offset, uint64_t length) {
  Reset();
  source_ = FileSource{std::move(file), offset, length};
}

void MessageBody::SetMemory(std::string bytes) {
  Reset();
  const size_t length = bytes.size();
  source_ = SharedSource{std::make_shared<const std::string>(std::move(bytes)), 0, length};
}

void MessageBody::SetPipe(platform::ScopedPipe read_end, std::string first, PipeDeadline deadline) {
  Reset();
  source_ = PipeSource{std::move(read_end), std::move(first), deadline};
}

void MessageBody::SetDocument(const std::string& path, platform::ScopedFile file, const platform::FileInfo& info) {
  SetFile(std::move(file), 0, info.size);
  document_ = Document{path, info};
}

void MessageBody::SetKeptDocument(const std::string& path, std::shared_ptr<const std::string> content,
                                  const platform::FileInfo& info) {
  Reset();
  const size_t length = content->size();
  source_ = SharedSource{std::move(content), 0, length};
  document_ = Document{path, info};
}

bool MessageBody::OpenDocument(const std::string& path) {
  Reset();
  platform::ScopedFile file(OpenForReading(path));
  platform::FileInfo info;
  if (!file || !platform::file_info(file.get(), &info)) return false;
  SetDocument(path, std::move(file), info);
  return true;
}

void MessageBody::Narrow(uint64_t first, uint64_t length) {
  if (auto* f = std::get_if<FileSource>(&source_)) {
    f->offset = first;
    f->length = length;
  } else if (auto* m = std::get_if<SharedSource>(&source_)) {
    m->offset = static_cast<size_t>(std::min<uint64_t>(first, m->bytes->size()));
    m->length = static_cast<size_t>(std::min<uint64_t>(length, m->bytes->size() - m->offset));
  }
}

uint64_t MessageBody::Size() const {
  if (const auto* f = std::get_if<FileSource>(&source_)) return f->length;
  if (const auto* m = std::get_if<SharedSource>(&source_)) return m->length;
  return 0;
}

MessageBody MessageBody::Share() const {
  MessageBody copy;
  if (const auto* f = std::get_if<FileSource>(&source_)) {
    platform::ScopedFile again(platform::file_duplicate(f->file.get()));
    if (again) copy.source_ = FileSource{std::move(again), f->offset, f->length};
  } else if (const auto* m = std::get_if<SharedSource>(&source_)) {
    copy.source_ = SharedSource{m->bytes, m->offset, m->length};
  }
  if (!copy.empty()) copy.document_ = document_;
  return copy;
}

platform::FileHandle MessageBody::file(uint64_t* offset) const {
  const auto* f = std::get_if<FileSource>(&source_);
  if (!f) return platform::kInvalidFile;
  *offset = f->offset;
  return f->file.get();
}

bool BodySink::WriteFile(platform::FileHandle file, uint64_t offset, uint64_t length) {
  std::unique_ptr<char[]> buf(new char[kPieceSize]);
  while (length > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, kPieceSize));
    const int64_t n = platform::file_read_at(file, offset, buf.get(), want);
    if (n <= 0 || !Write(buf.get(), static_cast<size_t>(n))) return false;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<uint64_t>(n);
  }
  return true;
}

uint64_t BodyReader::Remaining() const {
  const uint64_t size = body_.Size();
  return size > position_ ? size - position_ : 0;
}

int64_t BodyReader::ReadPipe(PipeSource& pipe, void* buf, size_t len) {
  if (position_ < pipe.first.size()) {
    const size_t n = pipe.first.copy(static_cast<char*>(buf), len, static_cast<size_t>(position_));
    position_ += n;
    return static_cast<int64_t>(n);
  }
  if (pipe.deadline.Wait(pipe.pipe.get(), platform::kWaitInfinite) != 1) return 0;
  const int64_t n = platform::pipe_read(pipe.pipe.get(), buf, len);
  if (n > 0) position_ += static_cast<uint64_t>(n);
  return n;
}

int64_t BodyReader::Read(void* buf, size_t len) {
  if (auto* pipe = std::get_if<PipeSource>(&body_.source_)) return ReadPipe(*pipe, buf, len);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(len, Remaining()));
  if (want == 0) return 0;
  int64_t n = -1;
  if (const auto* m = std::get_if<SharedSource>(&body_.source_)) {
    n = static_cast<int64_t>(m->bytes->copy(static_cast<char*>(buf), want, m->offset + static_cast<size_t>(position_)));
  } else if (const auto* f = std::get_if<FileSource>(&body_.source_)) {
    n = platform::file_read_at(f->file.get(), f->offset + position_, buf, want);
    // A file that ends before its length has shrunk since: that is a
    // failure, not an end.
    if (n == 0) n = -1;
  }
  if (n > 0) position_ += static_cast<uint64_t>(n);
  return n;
}

bool BodyReader::ReadAll(std::string* out, uint64_t max) {
  if (Remaining() > max) return false;
  std::string bytes;
  bytes.reserve(static_cast<size_t>(Remaining()));
  std::unique_ptr<char[]> buf(new char[kPieceSize]);
  for (;;) {
    const int64_t n = Read(buf.get(), kPieceSize);
    // A pipe that fails ends like one whose writer closed.
    if (n < 0 && !body_.is_pipe()) return false;
    if (n <= 0) break;
    if (bytes.size() + static_cast<uint64_t>(n) > max) return false;
    bytes.append(buf.get(), static_cast<size_t>(n));
  }
  *out = std::move(bytes);
  return true;
}

bool BodyReader::SendTo(BodySink& sink, std::string_view head, size_t inline_max, uint64_t* sent) {
  *sent = 0;
  const uint64_t left = Remaining();
  if (!body_.is_pipe() && left <= inline_max) {
    std::string out(head);
    std::string bytes;
    if (left > 0 && !ReadAll(&bytes, inline_max)) {
      // Unreadable: the head still goes, and the response then fails.
      if (!out.empty()) sink.Write(out.data(), out.size());
      return false;
    }
    out.append(bytes);
    if (!out.empty() && !sink.Write(out.data(), out.size())) return false;
    *sent = bytes.size();
    return true;
  }
  if (!head.empty() && !sink.Write(head.data(), head.size())) return false;
  if (const auto* f = std::get_if<FileSource>(&body_.source_)) {
    if (!sink.WriteFile(f->file.get(), f->offset + position_, left)) return false;
    position_ += left;
    *sent = left;
    return true;
  }
  if (const auto* m = std::get_if<SharedSource>(&body_.source_)) {
    if (!sink.Write(m->bytes->data() + m->offset + position_, static_cast<size_t>(left))) return false;
    position_ += left;
    *sent = left;
    return true;
  }
  // A pipe as it comes: a writer that stays silent past the deadline, or a
  // stopping engine, ends the body with what came, and the connection then
  // closes.
  std::unique_ptr<char[]> buf(new char[kPieceSize]);
  for (;;) {
    const int64_t n = Read(buf.get(), kPieceSize);
    if (n <= 0) return true;
    if (!sink.Write(buf.get(), static_cast<size_t>(n))) return false;
    *sent += static_cast<uint64_t>(n);
  }
}

}  // namespace brisvane
