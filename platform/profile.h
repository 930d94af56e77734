// Private profile (INI) files in the Windows format: "[Section]" lines,
// each followed by its "Key=value" lines, sections and keys in the order
// they were first written. Section and key names compare without regard
// to ASCII case; writing a key that is there replaces its value in place.
//
// On Windows every call goes to the system's profile functions, which
// rewrite the file per key. On POSIX the profile is kept in memory from
// the first write and the file is written whole by Flush; Read sees what
// was written before it either way.
//
// A ProfileFile is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

class ProfileFile {
 public:
  // The file need not exist; it is created or replaced by the writes (on
  // POSIX by Flush). An existing file keeps its permissions.
  explicit ProfileFile(std::string path);
  ~ProfileFile();
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  // Sets one key. False with last_error(): kInvalidParameter for an empty
  // section or key, or for a section, key or value holding a line break
  // (it would change the file's structure), or the system's reason.
  bool Write(std::string_view section, std::string_view key, std::string_view value);

  // The key's value, or `fallback` when the section or key is not there.
  // At most `capacity` - 1 bytes are returned, as a buffer of `capacity`
  // bytes would hold them.
  std::string Read(std::string_view section, std::string_view key, std::string_view fallback,
                   size_t capacity) const;

  // Makes everything written so far reach the file (on POSIX: writes the
  // file). False with last_error() when it cannot be written.
  bool Flush();

  const std::string& path() const { return path_; }

 private:
  struct Contents;
  std::string path_;
  std::unique_ptr<Contents> contents_;  // POSIX only; null on Windows
};

}  // namespace platform
