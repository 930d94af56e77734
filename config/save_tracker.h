// A save that cannot lose what it replaces: every key and value is written
// first, and only when all writes succeeded is whatever the save owns but
// did not write removed. A save that fails part-way leaves the old values
// beside the new ones, never an empty profile.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/registry_key.h"

namespace brisvane {

// Keys (by path below the save's root) and values that one save wrote.
// Registry names compare without regard to case, so paths are kept folded.
class WriteSet {
 public:
  void AddKey(const std::string& path);
  void AddValue(const std::string& key_path, const std::string& name);
  bool HasKey(const std::string& path) const;
  bool HasValue(const std::string& key_path, const std::string& name) const;

  // The first failed write makes the whole save fail.
  void Note(bool write_ok) { ok_ = ok_ && write_ok; }
  bool ok() const { return ok_; }

 private:
  std::set<std::string> keys_;
  std::set<std::string> values_;
  bool ok_ = true;
};

// One key opened (and created) for a save; its writes go into the set.
class SaveKey {
 public:
  // The root of the save: `key` stays owned by the caller.
  SaveKey(WriteSet& set, RegistryKey& root);
  // `name` below `parent`, created when missing.
  SaveKey(const SaveKey& parent, const std::string& name);
  SaveKey(const SaveKey&) = delete;
  SaveKey& operator=(const SaveKey&) = delete;

  bool SetDword(const std::string& name, uint32_t data);
  bool SetFlag(const std::string& name, bool data) { return SetDword(name, data ? 1 : 0); }
  bool SetString(const std::string& name, const std::string& data);

  // Values kept from before stay where they enumerate, so before values
  // named `names` are written in that order, those that would end up out
  // of order are deleted (and then written anew by the caller).
  void PrepareOrder(const std::vector<std::string>& names);
  // Writes `rows` as (name, data) values that enumerate in the given order.
  bool SetOrderedStrings(const std::vector<std::pair<std::string, std::string>>& rows);

  RegistryKey& key() const { return *key_; }
  WriteSet& set() const { return set_; }

 private:
  WriteSet& set_;
  std::string path_;
  std::optional<RegistryKey> own_;
  RegistryKey* key_;
};

// One key a save owns, by its path below the save's root, each part a name
// or "*" for any one name. A save replaces what it owns, so that a deleted
// record or list entry really goes; everything else below the root (values
// and keys of later versions, or put there by hand) stays as it was.
struct OwnedKey {
  // The values named `names` of the key.
  static OwnedKey Values(std::string path, std::vector<std::string> names);
  // Every value of the key: a list.
  static OwnedKey AllValues(std::string path);
  // Every subkey of the key: a list of records.
  static OwnedKey AllSubkeys(std::string path);

  std::string path;
  // The values the save owns: these names, or every value.
  std::vector<std::string> values;
  bool all_values = false;
  // Every subkey, with all below it, is one of the save's records.
  bool all_subkeys = false;
};

// Deletes below `root` every subkey and value that `owned` gives to the
// save and `set` does not hold. False when a deletion failed.
bool RemoveUnwritten(const WriteSet& set, const std::vector<OwnedKey>& owned, RegistryKey& root);

}  // namespace brisvane
