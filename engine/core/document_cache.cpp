#include "engine/core/document_cache.h"

namespace brisvane {
namespace {

bool ReadAll(platform::FileHandle file, std::string* out) {
  size_t got = 0;
  while (got < out->size()) {
    int64_t n = platform::file_read_at(file, got, out->data() + got, out->size() - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::shared_ptr<const CachedDocument> DocumentCache::Find(const std::string& path) {
  std::shared_ptr<const CachedDocument> doc;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = documents_.find(path);
    if (it == documents_.end()) return nullptr;
    doc = it->second;
  }
  platform::FileIdentity now;
  if (platform::path_identity(path, &now) && now == doc->identity) return doc;
  Forget(path);
  return nullptr;
}

std::shared_ptr<const CachedDocument> DocumentCache::Keep(const std::string& path,
                                                          platform::FileHandle file) {
  auto doc = std::make_shared<CachedDocument>();
  if (!platform::file_identity(file, &doc->identity)) return nullptr;
  if (doc->identity.size > kMaxDocument || (doc->identity.attributes & platform::kAttrDirectory))
    return nullptr;
  // A file touched a moment ago could change again within the same time
  // stamp and keep its identity: it is read anew until it has settled.
  if (!platform::identity_settled(doc->identity, kSettleMs)) return nullptr;
  if (!platform::file_info(file, &doc->info)) return nullptr;
  auto content = std::make_shared<std::string>(static_cast<size_t>(doc->identity.size), '\0');
  if (!ReadAll(file, content.get())) return nullptr;
  // A file written while it was read is not kept: its bytes may belong to
  // neither version.
  platform::FileIdentity after;
  if (!platform::file_identity(file, &after) || !(after == doc->identity)) return nullptr;
  doc->content = std::move(content);
  std::lock_guard<std::mutex> lock(mu_);
  if (total_ + doc->identity.size > kMaxTotal) {
    documents_.clear();
    total_ = 0;
  }
  auto it = documents_.find(path);
  if (it != documents_.end()) {
    total_ -= it->second->identity.size;
    it->second = doc;
  } else {
    documents_.emplace(path, doc);
  }
  total_ += doc->identity.size;
  return doc;
}

void DocumentCache::Forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = documents_.find(path);
  if (it == documents_.end()) return;
  total_ -= it->second->identity.size;
  documents_.erase(it);
}

void DocumentCache::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  documents_.clear();
  total_ = 0;
}

}  // namespace brisvane
