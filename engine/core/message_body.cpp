#include "engine/core/message_body.h"

#include <algorithm>
#include <memory>

#include "engine/core/socket.h"
#include "platform/message_box.h"
#include "platform/system.h"

namespace brisvane {
namespace {

// Where temporary files go when the system's directory is unusable.
std::string FallbackTempDirectory() {
  return platform::executable_directory() + platform::kPathSeparator;
}

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
  reader_.reset();
  kept_.reset();
  info_known_ = false;
  info_ok_ = false;
  // Closed before the deletion, which a handle still open could hinder.
  writer_.reset();
  if (kind_ == kTemporaryFile && !path_.empty()) platform::file_delete(path_);
  handle_.reset();
  // A writer still running sees its next write fail: the reader is gone.
  pipe_.reset();
  pipe_taken_ = 0;
  kind_ = kNone;
  path_.clear();
  data_.clear();
  data_.shrink_to_fit();
  start_ = 0;
  limit_ = 0;
}

bool MessageBody::MakeTemporary(bool reset_first) {
  if (reset_first) Reset();
  std::string dir;
  if (!platform::temp_directory(&dir) || dir.size() >= 260) dir = FallbackTempDirectory();
  std::string path;
  if (!platform::temp_file_name(dir, "BSV", &path)) {
    platform::notify_failure("Unable to open temporary file", "Critical Error", platform::kMbIconError);
    return false;
  }
  kind_ = kTemporaryFile;
  path_ = path;
  return true;
}

void MessageBody::UseExistingFile(const std::string& path, bool reset_first) {
  if (reset_first) Reset();
  kind_ = kExistingFile;
  path_ = path;
}

void MessageBody::UseOpenExistingFile(const std::string& path, platform::FileHandle handle,
                                      const platform::FileInfo& info) {
  Reset();
  kind_ = kExistingFile;
  path_ = path;
  reader_.reset(handle);
  info_ = info;
  info_known_ = info_ok_ = true;
}

void MessageBody::UseKeptExistingFile(const std::string& path,
                                      std::shared_ptr<const std::string> content,
                                      const platform::FileInfo& info) {
  Reset();
  kind_ = kExistingFile;
  path_ = path;
  kept_ = std::move(content);
  info_ = info;
  info_known_ = info_ok_ = true;
}

const platform::FileInfo* MessageBody::Info() const {
  if (!info_known_) {
    platform::FileHandle f = OpenFile();
    info_ok_ = f != platform::kInvalidFile && platform::file_info(f, &info_);
    info_known_ = true;
  }
  return info_ok_ ? &info_ : nullptr;
}

bool MessageBody::ReadInline(std::string* out, size_t max) const {
  if (kind_ == kMemory) {
    if (data_.size() > max) return false;
    *out = data_;
    return true;
  }
  if (kind_ != kExistingFile) return false;
  uint64_t size = Size();
  if (size > max) return false;
  if (kept_) {
    if (start_ + size > kept_->size()) return false;
    out->assign(*kept_, static_cast<size_t>(start_), static_cast<size_t>(size));
    return true;
  }
  out->resize(static_cast<size_t>(size));
  platform::FileHandle f = OpenFile();
  size_t got = 0;
  while (got < out->size()) {
    int64_t n = platform::file_read_at(f, start_ + got, out->data() + got, out->size() - got);
    if (n <= 0) return false;  // the file shrank: let the streaming path fail
    got += static_cast<size_t>(n);
  }
  return true;
}

platform::FileHandle MessageBody::OpenFile() const {
  if (kind_ == kExistingFile && !reader_) reader_.reset(OpenForReading(path_));
  return reader_.get();
}

void MessageBody::UseTemporaryFile(const std::string& path, bool reset_first) {
  if (reset_first) Reset();
  kind_ = kTemporaryFile;
  path_ = path;
}

void MessageBody::CopyMemory(const void* data, size_t length, bool reset_first) {
  if (reset_first) Reset();
  if (!data || length == 0) return;
  kind_ = kMemory;
  data_.assign(static_cast<const char*>(data), length);
}

void MessageBody::AdoptMemory(std::string&& data, bool reset_first) {
  if (reset_first) Reset();
  kind_ = kMemory;
  data_ = std::move(data);
}

void MessageBody::UseHandle(platform::FileHandle handle, bool reset_first) {
  if (reset_first) Reset();
  kind_ = kHandle;
  handle_.reset(handle);
}

void MessageBody::UsePipe(platform::PipeHandle read_end, std::string already_read, PipeDeadline deadline) {
  Reset();
  kind_ = kPipe;
  pipe_.reset(read_end);
  data_ = std::move(already_read);
  deadline_ = deadline;
}

int64_t MessageBody::ReadPipe(void* buf, size_t len) const {
  if (kind_ != kPipe) return -1;
  if (pipe_taken_ < data_.size()) {
    const size_t n = data_.copy(static_cast<char*>(buf), len, pipe_taken_);
    pipe_taken_ += n;
    return static_cast<int64_t>(n);
  }
  if (deadline_.Wait(pipe_.get(), platform::kWaitInfinite) != 1) return 0;
  return platform::pipe_read(pipe_.get(), buf, len);
}

uint64_t MessageBody::FileSize() const {
  if (kind_ == kExistingFile) {
    const platform::FileInfo* info = Info();
    return info ? info->size : 0;
  }
  if (kind_ != kTemporaryFile) return 0;
  platform::ScopedFile f(OpenForReading(path_));
  if (!f) return 0;
  uint64_t size = 0;
  if (!platform::file_size(f.get(), &size)) size = 0;
  return size;
}

uint64_t MessageBody::Size() const {
  switch (kind_) {
    case kExistingFile:
    case kTemporaryFile: {
      uint64_t size = FileSize();
      if (limit_ == 0) return size > start_ ? size - start_ : 0;
      return std::min(limit_, size);
    }
    case kMemory:
      return data_.size();
    default:
      return 0;
  }
}

bool MessageBody::LastWriteTime(uint64_t* time) const {
  if (kind_ != kExistingFile) return false;
  const platform::FileInfo* info = Info();
  if (!info) return false;
  *time = info->last_write;
  return true;
}

bool MessageBody::Send(Socket& socket, uint64_t* bytes_sent) const {
  *bytes_sent = 0;
  switch (kind_) {
    case kNone:
      return true;
    case kMemory:
      if (data_.empty()) return true;
      if (socket.Send(data_.data(), data_.size()) < 0) return false;
      *bytes_sent = data_.size();
      return true;
    case kExistingFile:
    case kTemporaryFile: {
      if (kept_) {
        const uint64_t length = Size();
        if (start_ + length > kept_->size()) return false;
        if (length > 0 && socket.Send(kept_->data() + start_, static_cast<size_t>(length)) < 0) return false;
        *bytes_sent = length;
        return true;
      }
      // A temporary file is opened for this send alone.
      const bool own = kind_ == kTemporaryFile;
      platform::ScopedFile temporary;
      if (own) temporary.reset(OpenForReading(path_));
      const platform::FileHandle f = own ? temporary.get() : OpenFile();
      if (f == platform::kInvalidFile) return false;
      uint64_t size = 0;
      bool ok = own ? platform::file_size(f, &size) : (size = FileSize(), true);
      uint64_t length = 0;
      if (ok && size > start_) length = size - start_;
      if (limit_ != 0) length = std::min(length, limit_);
      if (ok && length > 0) ok = socket.SendFile(f, start_, length);
      if (ok) *bytes_sent = length;
      return ok;
    }
    case kHandle: {
      if (!handle_) return false;
      std::unique_ptr<char[]> buf(new char[65536]);
      uint64_t total = 0;
      while (limit_ == 0 || total < limit_) {
        size_t want = 65536;
        if (limit_ != 0) want = static_cast<size_t>(std::min<uint64_t>(want, limit_ - total));
        int64_t n = platform::file_read(handle_.get(), buf.get(), want);
        if (n <= 0) break;
        if (socket.Send(buf.get(), static_cast<size_t>(n)) < 0) {
          *bytes_sent = total;
          return false;
        }
        total += static_cast<uint64_t>(n);
      }
      *bytes_sent = total;
      return true;
    }
    case kPipe: {
      // Sent as it comes; a writer that stays silent past the deadline, or
      // a stopping engine, ends the body with what came, and the
      // connection then closes.
      uint64_t total = 0;
      std::unique_ptr<char[]> buf(new char[65536]);
      for (;;) {
        const int64_t n = ReadPipe(buf.get(), 65536);
        if (n <= 0) break;
        if (socket.Send(buf.get(), static_cast<size_t>(n)) < 0) {
          *bytes_sent = total;
          return false;
        }
        total += static_cast<uint64_t>(n);
      }
      *bytes_sent = total;
      return true;
    }
  }
  return false;
}

bool MessageBody::Append(const void* data, size_t length) {
  if (kind_ != kTemporaryFile) return false;
  if (!writer_) {
    writer_.reset(platform::file_open(path_, platform::kGenericWrite, platform::kShareRead,
                                      platform::kOpenExisting, 0));
    if (!writer_) return false;
    platform::file_seek_end(writer_.get());
  }
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    int64_t n = platform::file_write(writer_.get(), p, length);
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void MessageBody::EndAppend() { writer_.reset(); }

}  // namespace brisvane
