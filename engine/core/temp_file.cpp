#include "engine/core/temp_file.h"

#include <utility>

#include "platform/file.h"
#include "platform/system.h"

namespace brisvane {
namespace {

constexpr char kPrefix[] = "BSV";
// Longest temporary directory the system's file names leave room for.
constexpr size_t kMaxTempDirectory = 260;

std::string DirectoryOf(const std::string& path) {
  const size_t sep = path.rfind(platform::kPathSeparator);
  if (sep == std::string::npos) return ".";
  return path.substr(0, sep + 1);
}

// Where the engine's temporary files go: the system's directory when its
// name fits the system limit, else the program's own.
std::string TempDirectory() {
  std::string dir;
  if (!platform::temp_directory(&dir) || dir.size() >= kMaxTempDirectory)
    dir = platform::executable_directory() + platform::kPathSeparator;
  return dir;
}

}  // namespace

TempFile::~TempFile() { Remove(); }

TempFile::TempFile(TempFile&& other) noexcept
    : file_(std::move(other.file_)),
      path_(std::exchange(other.path_, {})),
      written_(other.written_),
      error_(other.error_) {}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    Remove();
    file_ = std::move(other.file_);
    path_ = std::exchange(other.path_, {});
    written_ = other.written_;
    error_ = other.error_;
  }
  return *this;
}

void TempFile::Remove() {
  // Closed first: an open handle could hinder the deletion.
  file_.reset();
  if (!path_.empty()) platform::file_delete(path_);
  path_.clear();
  written_ = 0;
}

bool TempFile::Fail(platform::os_error e) {
  error_ = e;
  return false;
}

bool TempFile::CreateUnnamed() {
  Remove();
  file_.reset(platform::temp_file_unnamed(TempDirectory(), kPrefix));
  return file_ ? true : Fail(platform::last_error());
}

bool TempFile::CreateNamed() {
  Remove();
  std::string path;
  if (!platform::temp_file_name(TempDirectory(), kPrefix, &path)) return Fail(platform::last_error());
  path_ = std::move(path);
  return true;
}

bool TempFile::CreateBeside(const std::string& target) {
  Remove();
  std::string path;
  if (!platform::temp_file_name(DirectoryOf(target), kPrefix, &path, false)) return Fail(platform::last_error());
  path_ = std::move(path);
  return OpenForWriting();
}

bool TempFile::OpenForWriting() {
  if (path_.empty()) return Fail(platform::err::kInvalidHandle);
  file_.reset(platform::file_open(path_, platform::kGenericWrite, platform::kShareRead, platform::kTruncateExisting,
                                  platform::kFlagSequentialScan));
  written_ = 0;
  return file_ ? true : Fail(platform::last_error());
}

bool TempFile::Write(const void* data, size_t length) {
  if (!file_) return Fail(platform::err::kInvalidHandle);
  if (length > 0 && platform::file_write(file_.get(), data, length) < 0) return Fail(platform::last_error());
  written_ += length;
  return true;
}

platform::ScopedFile TempFile::TakeForReading() {
  if (path_.empty()) {
    if (file_ && !platform::file_seek(file_.get(), 0)) {
      Fail(platform::last_error());
      file_.reset();
    }
    return std::move(file_);
  }
  file_.reset();
  // Shared for deletion, so that the name can go while the handle stays:
  // at once on POSIX, with the handle on Windows.
  platform::ScopedFile reader(platform::file_open(path_, platform::kGenericRead,
                                                  platform::kShareRead | platform::kShareDelete,
                                                  platform::kOpenExisting, platform::kFlagSequentialScan));
  if (!reader || !platform::file_delete(path_)) {
    Fail(platform::last_error());
    return {};
  }
  path_.clear();
  return reader;
}

bool TempFile::ReplaceTarget(const std::string& target) {
  if (!file_ || path_.empty()) return Fail(platform::err::kInvalidHandle);
  // Flushed before the rename, or a crash could leave the new name on
  // data that never reached the disk.
  if (!platform::file_flush(file_.get())) return Fail(platform::last_error());
  file_.reset();
  if (!platform::file_replace(path_, target)) return Fail(platform::last_error());
  path_.clear();
  return true;
}

}  // namespace brisvane
