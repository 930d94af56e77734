// The engine's temporary files: "BSV" files in the system's temporary
// directory (or beside a document that is being replaced), private to the
// server's user, and gone on every path. A file nothing opens by name has
// no name at all, so not even a killed server leaves it behind; a named
// one is removed when its owner goes, unless it was moved into place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/scoped_handle.h"

namespace brisvane {

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // An open file without a name, for request bodies and output that no
  // other program opens by name. False with error() when none can be made.
  bool CreateUnnamed();
  // A new empty file with a name, for a program that opens it by name. It
  // is not open here.
  bool CreateNamed();
  // A new empty file in the directory of `target`, with the access a new
  // document there gets, to be moved over `target` by ReplaceTarget.
  bool CreateBeside(const std::string& target);

  // Empty for an unnamed file.
  const std::string& path() const { return path_; }
  // The open handle, or kInvalidFile for a named file not opened yet.
  platform::FileHandle handle() const { return file_.get(); }
  platform::os_error error() const { return error_; }
  uint64_t written() const { return written_; }

  // Opens a named file for writing from its start.
  bool OpenForWriting();
  // Appends all of `data`; false with error() (a full disk: kDiskFull).
  bool Write(const void* data, size_t length);
  // Closes the handle; a named file keeps its name until its owner goes.
  void Close() { file_.reset(); }

  // The file as an open handle for reading, from its start; the caller
  // owns it, and the file goes when that handle closes. A named file gives
  // up its name now. Empty with error() on failure (the file is removed).
  platform::ScopedFile TakeForReading();

  // Writes the data through to the disk and moves the file over `target`
  // in one step. False with error() when anything fails; `target` is then
  // as it was and the file is removed when this owner goes.
  bool ReplaceTarget(const std::string& target);

 private:
  bool Fail(platform::os_error e);
  void Remove();

  platform::ScopedFile file_;
  std::string path_;
  uint64_t written_ = 0;
  platform::os_error error_ = platform::err::kSuccess;
};

}  // namespace brisvane
