// Small documents kept in memory by physical path, so a busy page costs
// one look at the file instead of opening, reading and closing it. Every
// use checks the file's identity first: a document that was written,
// replaced or deleted since it was kept is never served from here.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/file.h"

namespace brisvane {

struct CachedDocument {
  platform::FileIdentity identity;
  platform::FileInfo info;  // size, last-write time, attributes
  std::shared_ptr<const std::string> content;
};

class DocumentCache {
 public:
  // Documents up to this size are kept; all together up to kMaxTotal.
  static constexpr uint64_t kMaxDocument = 16 * 1024;
  static constexpr uint64_t kMaxTotal = 32 * 1024 * 1024;
  // A file is kept only once it has not been written for this long.
  static constexpr uint32_t kSettleMs = 2000;

  // The document at `path` when it is kept and its file is still the
  // file it was read from; nullptr otherwise (a stale entry is dropped).
  std::shared_ptr<const CachedDocument> Find(const std::string& path);

  // Reads the small regular file open as `file` (for `path`) and keeps it,
  // unless the file changes while it is read. Returns what it kept, or
  // nullptr when the file is too large, not a plain file, or unreadable.
  std::shared_ptr<const CachedDocument> Keep(const std::string& path, platform::FileHandle file);

  void Forget(const std::string& path);
  void Clear();

 private:
  std::mutex mu_;
  std::unordered_map<std::string, std::shared_ptr<const CachedDocument>> documents_;
  uint64_t total_ = 0;
};

}  // namespace brisvane
