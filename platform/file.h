// Files with the Windows meaning of access, share and creation modes on
// every backend. A file opened for writing that does not share writing
// makes a second writer fail with kSharingViolation, another process
// included (an advisory lock on POSIX). Failures set last_error().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"

namespace platform {

using FileHandle = uintptr_t;
inline constexpr FileHandle kInvalidFile = ~static_cast<FileHandle>(0);

// Access (the Windows values).
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
// Share modes.
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;
// Creation dispositions.
inline constexpr uint32_t kCreateNew = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kTruncateExisting = 5;
// Flags.
inline constexpr uint32_t kFlagDeleteOnClose = 0x04000000u;
inline constexpr uint32_t kFlagSequentialScan = 0x08000000u;

// Attributes.
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrHidden = 0x2;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Opening a directory for reading succeeds (it counts as present), as
// with backup semantics on Windows; reading from it fails.
FileHandle file_open(const std::string& path, uint32_t access, uint32_t share,
                     uint32_t disposition, uint32_t flags);
bool file_close(FileHandle f);
// Bytes read (0 at the end) or -1.
int64_t file_read(FileHandle f, void* buf, size_t len);
int64_t file_write(FileHandle f, const void* data, size_t len);
bool file_seek(FileHandle f, uint64_t offset);
bool file_seek_end(FileHandle f);
bool file_size(FileHandle f, uint64_t* size);
// Last-write time as 100-ns units since 1601 (UTC).
bool file_last_write_time(FileHandle f, uint64_t* time);
bool file_flush(FileHandle f);

struct FileInfo {
  uint64_t size = 0;
  uint64_t last_write = 0;  // 100-ns units since 1601
  uint32_t attributes = 0;  // kAttrDirectory, kAttrReadOnly
};
// Size, last-write time and attributes of an open file in one call.
bool file_info(FileHandle f, FileInfo* info);
// What tells one version of a file from another: writing, replacing or
// deleting a file changes it (volume and index where the system has them,
// size, last-write and change or creation time, attributes). The identity
// of an open file and of its path agree while nothing touches the file.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;
  uint64_t last_write = 0;
  uint64_t change = 0;
  uint32_t attributes = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool file_identity(FileHandle f, FileIdentity* id);
// Without opening the file; false (last_error set) when it is not there.
bool path_identity(const std::string& path, FileIdentity* id);
// True when the file was last written or changed at least `ms` ago. File
// times are coarse (a clock tick; two seconds on some file systems), so
// only then is a later change sure to give the file another identity.
bool identity_settled(const FileIdentity& id, uint32_t ms);

// Reads at `offset`; the file position afterwards is unspecified.
int64_t file_read_at(FileHandle f, uint64_t offset, void* buf, size_t len);

// Whether two paths are the same by their text, compared as the file
// system compares names: on Windows without regard to the case of ASCII
// letters, on POSIX (case-sensitive names) exactly.
bool same_path_text(const std::string& a, const std::string& b);

// Attributes of a path, or kInvalidAttributes (with last_error set).
uint32_t file_attributes(const std::string& path);
bool file_copy(const std::string& from, const std::string& to, bool fail_if_exists);
bool file_delete(const std::string& path);

struct DirEntry {
  std::string name;
  uint32_t attributes = 0;  // kAttrDirectory, kAttrHidden (dot files on POSIX)
  uint64_t size = 0;
  uint64_t last_write = 0;  // 100-ns units since 1601
};
// Every entry of a directory except "." and "..", in the system's order.
bool list_directory(const std::string& path, std::vector<DirEntry>* entries);

// The system's directory for temporary files, with a trailing separator.
bool temp_directory(std::string* dir);
// Creates a new empty file with a unique name "<prefix>XXXX.TMP" in `dir`
// and returns its path: three characters of the prefix, then four hex
// digits on Windows, six random characters on POSIX. Only the creating
// user may read or write it (mode 0600 on POSIX), unless `private_file` is
// false: it then gets the access of any new file in `dir` (0666 less the
// umask on POSIX), as a file that is to become a document must.
bool temp_file_name(const std::string& dir, const std::string& prefix, std::string* path,
                    bool private_file = true);

// Creates a new file in `dir` that no other program can open by name and
// that the system removes when its last handle closes, however the
// process ends: a file without a name on Linux (O_TMPFILE), a name removed
// right after creation elsewhere on POSIX, a "<prefix>XXXX.TMP" file
// opened delete-on-close on Windows. Open for reading and writing, private
// to the creating user; kInvalidFile with last_error() on failure.
FileHandle temp_file_unnamed(const std::string& dir, const std::string& prefix);

// Moves the file `from` over `to` in one step: `to` is the old file or the
// new one, never a mix or nothing, also after a crash (rename on POSIX,
// MoveFileEx replacing on Windows). Both must be on one volume. A
// read-only `to` is refused with kAccessDenied on every backend, as is a
// directory.
bool file_replace(const std::string& from, const std::string& to);

// A second handle on the same open file, sharing its position; the file
// lives until both are closed.
FileHandle file_duplicate(FileHandle f);

}  // namespace platform
