#include "engine/dynamic/child_input.h"

namespace brisvane {

bool ChildInput::Open(const MessageBody& body) {
  body_ = body.Share();
  uint64_t offset = 0;
  // A body file that could not be shared must not turn into no body.
  if (body.file(&offset) != platform::kInvalidFile && body_.empty()) return false;
  const platform::FileHandle file = body_.file(&offset);
  // The child reads from where the handle stands.
  if (file != platform::kInvalidFile) return platform::file_seek(file, offset);
  platform::PipeHandle read_end = platform::kInvalidPipe, write_end = platform::kInvalidPipe;
  if (!platform::pipe_create(&read_end, &write_end, true, false)) return false;
  empty_.reset(read_end);
  platform::pipe_close(write_end);
  return true;
}

platform::ChildStdio ChildInput::stdio() const {
  uint64_t offset = 0;
  const platform::FileHandle file = body_.file(&offset);
  return file != platform::kInvalidFile ? platform::ChildStdio::file(file) : platform::ChildStdio::pipe(empty_.get());
}

}  // namespace brisvane
