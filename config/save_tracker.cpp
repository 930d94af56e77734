#include "config/save_tracker.h"

#include <algorithm>

#include "base/text.h"

namespace brisvane {
namespace {

std::string Join(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "\\" + name;
}

// Value key of the set: the folded key path, a separator no name holds,
// and the folded value name.
std::string ValueId(const std::string& key_path, const std::string& name) {
  return ToLower(key_path) + '\n' + ToLower(name);
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::vector<std::string> SubKeyNames(const RegistryKey& key) {
  std::vector<std::string> names;
  uint32_t count = key.SubKeyCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (key.EnumSubKey(i, &name)) names.push_back(std::move(name));
  }
  return names;
}

std::vector<std::string> ValueNames(const RegistryKey& key) {
  std::vector<std::string> names;
  uint32_t count = key.ValueCount();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name, data;
    if (key.EnumValue(i, &name, &data)) names.push_back(std::move(name));
  }
  return names;
}

// The entry of `owned` for the key at `path`, or null.
const OwnedKey* OwnerOf(const std::vector<OwnedKey>& owned, const std::string& path) {
  std::vector<std::string> parts = SplitPath(path);
  for (const OwnedKey& o : owned) {
    std::vector<std::string> pattern = SplitPath(o.path);
    if (pattern.size() != parts.size()) continue;
    bool match = true;
    for (size_t i = 0; i < parts.size() && match; ++i)
      match = pattern[i] == "*" || EqualsIgnoreCase(pattern[i], parts[i]);
    if (match) return &o;
  }
  return nullptr;
}

bool OwnsValue(const OwnedKey* o, const std::string& name) {
  if (!o) return false;
  if (o->all_values) return true;
  for (const std::string& v : o->values)
    if (EqualsIgnoreCase(v, name)) return true;
  return false;
}

bool RemoveBelow(const WriteSet& set, const std::vector<OwnedKey>& owned, RegistryKey& key,
                 const std::string& path) {
  const OwnedKey* here = OwnerOf(owned, path);
  bool ok = true;
  for (const std::string& name : SubKeyNames(key)) {
    const std::string sub = Join(path, name);
    if (set.HasKey(sub)) {
      RegistryKey child(key, name, false);
      ok = RemoveBelow(set, owned, child, sub) && ok;
      continue;
    }
    if (!here || !here->all_subkeys) continue;  // not the save's: left whole
    {
      RegistryKey child(key, name, false);
      child.DeleteTree();
    }
    ok = key.DeleteSubKey(name.c_str()) && ok;
  }
  for (const std::string& name : ValueNames(key)) {
    if (set.HasValue(path, name) || !OwnsValue(here, name)) continue;
    ok = key.DeleteValue(name.c_str()) && ok;
  }
  return ok;
}

}  // namespace

OwnedKey OwnedKey::Values(std::string path, std::vector<std::string> names) {
  OwnedKey key;
  key.path = std::move(path);
  key.values = std::move(names);
  return key;
}

OwnedKey OwnedKey::AllValues(std::string path) {
  OwnedKey key;
  key.path = std::move(path);
  key.all_values = true;
  return key;
}

OwnedKey OwnedKey::AllSubkeys(std::string path) {
  OwnedKey key;
  key.path = std::move(path);
  key.all_subkeys = true;
  return key;
}

void WriteSet::AddKey(const std::string& path) { keys_.insert(ToLower(path)); }

void WriteSet::AddValue(const std::string& key_path, const std::string& name) {
  values_.insert(ValueId(key_path, name));
}

bool WriteSet::HasKey(const std::string& path) const { return keys_.count(ToLower(path)) != 0; }

bool WriteSet::HasValue(const std::string& key_path, const std::string& name) const {
  return values_.count(ValueId(key_path, name)) != 0;
}

SaveKey::SaveKey(WriteSet& set, RegistryKey& root) : set_(set), key_(&root) {
  set_.Note(root.IsOpen());
}

SaveKey::SaveKey(const SaveKey& parent, const std::string& name)
    : set_(parent.set_), path_(Join(parent.path_, name)) {
  own_.emplace(*parent.key_, name, true);
  key_ = &*own_;
  set_.AddKey(path_);
  set_.Note(own_->IsOpen());
}

bool SaveKey::SetDword(const std::string& name, uint32_t data) {
  set_.AddValue(path_, name);
  bool ok = key_->SetDword(name.c_str(), data);
  set_.Note(ok);
  return ok;
}

bool SaveKey::SetString(const std::string& name, const std::string& data) {
  set_.AddValue(path_, name);
  bool ok = key_->SetString(name.c_str(), data);
  set_.Note(ok);
  return ok;
}

void SaveKey::PrepareOrder(const std::vector<std::string>& names) {
  // Names in the order they would enumerate if written in place: kept
  // values first in their present order, then the new ones.
  std::vector<std::string> wanted;
  for (const std::string& name : names) {
    std::string f = ToLower(name);
    if (std::find(wanted.begin(), wanted.end(), f) == wanted.end()) wanted.push_back(f);
  }
  std::vector<std::string> in_place;
  for (const std::string& name : ValueNames(*key_)) {
    std::string f = ToLower(name);
    if (std::find(wanted.begin(), wanted.end(), f) != wanted.end()) in_place.push_back(f);
  }
  for (const std::string& name : wanted) {
    if (std::find(in_place.begin(), in_place.end(), name) == in_place.end()) in_place.push_back(name);
  }
  if (in_place == wanted) return;
  // Only the values that move are at risk here, and only if the write
  // right after their deletion fails.
  for (const std::string& name : names) key_->DeleteValue(name.c_str());
}

bool SaveKey::SetOrderedStrings(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::vector<std::string> names;
  for (const auto& row : rows) names.push_back(row.first);
  PrepareOrder(names);
  bool ok = true;
  for (const auto& row : rows) ok = SetString(row.first, row.second) && ok;
  return ok;
}

bool RemoveUnwritten(const WriteSet& set, const std::vector<OwnedKey>& owned, RegistryKey& root) {
  return RemoveBelow(set, owned, root, std::string());
}

}  // namespace brisvane
