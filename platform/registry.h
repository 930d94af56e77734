// Registry access with the Windows registry's meaning on every backend.
// On Windows these are the Reg* functions; on POSIX a store of our own keeps
// the registry in one text file in the registry export format (see
// posix/registry_store.h). Every call returns a Windows error code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"

namespace platform {

// An open key. Zero is never a valid key.
using RegHandle = uintptr_t;

namespace detail {
// Predefined keys have the sign-extended 32-bit values that Windows uses.
constexpr RegHandle predefined_key(uint32_t v) {
  return static_cast<RegHandle>(static_cast<intptr_t>(static_cast<int32_t>(v)));
}
}  // namespace detail

inline constexpr RegHandle kHkeyClassesRoot = detail::predefined_key(0x80000000u);
inline constexpr RegHandle kHkeyCurrentUser = detail::predefined_key(0x80000001u);
inline constexpr RegHandle kHkeyLocalMachine = detail::predefined_key(0x80000002u);
inline constexpr RegHandle kHkeyUsers = detail::predefined_key(0x80000003u);
inline constexpr RegHandle kHkeyCurrentConfig = detail::predefined_key(0x80000005u);

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// Access mask used for every key this system opens: read, set value and
// create subkey.
inline constexpr uint32_t kKeyAccess = 0x2001F;

// Opens (create == false) or creates-or-opens (create == true) `subkey`
// below `parent`. An empty subkey opens `parent` itself again. `created`
// (optional) tells whether the key did not exist before.
os_error reg_open_key(RegHandle parent, const std::string& subkey, bool create,
                      RegHandle* out, bool* created);
os_error reg_close_key(RegHandle key);

// Reads a value. With `data` null only `type` and `size` are filled in.
// `size` is in/out: the buffer size on entry, the data size on return;
// a buffer that is too small gives kMoreData with the size needed.
os_error reg_query_value(RegHandle key, const std::string& name,
                         uint32_t* type, void* data, uint32_t* size);
os_error reg_set_value(RegHandle key, const std::string& name, uint32_t type,
                       const void* data, uint32_t size);
os_error reg_delete_value(RegHandle key, const std::string& name);

// Number of direct subkeys and of values.
os_error reg_query_info(RegHandle key, uint32_t* subkeys, uint32_t* values);

// Subkey at `index` in the registry's enumeration order. `max_name` is the
// caller's buffer size in bytes (terminating zero included): a longer name
// gives kMoreData. Past the end: kNoMoreItems.
os_error reg_enum_key(RegHandle key, uint32_t index, uint32_t max_name,
                      std::string* name);

// Value at `index` in the registry's enumeration order. Name and data
// limits as for reg_enum_key and reg_query_value; `data` may be null.
os_error reg_enum_value(RegHandle key, uint32_t index, uint32_t max_name,
                        std::string* name, uint32_t* type, void* data,
                        uint32_t* size);

// Deletes a subkey that has no subkeys of its own.
os_error reg_delete_key(RegHandle key, const std::string& subkey);

// Saves the tree below `key` to a new file, and replaces the tree below
// `key` with one saved before. On Windows the caller must hold the backup
// and restore privileges.
os_error reg_save_key(RegHandle key, const std::string& file);
os_error reg_restore_key(RegHandle key, const std::string& file);

// What a hold on the store keeps out: a shared hold keeps out other
// programs' changes, an exclusive one their reads too.
enum class RegHoldMode : uint8_t { kShared, kExclusive };

// A hold on the whole store for one read or read-modify-write, so that two
// programs editing at once cannot lose each other's changes. Taken with
// reg_hold_store and given back when destroyed, on the thread that took
// it. Holds nest: an exclusive hold inside a shared one upgrades it for
// its own duration (not atomically: another writer may come in between).
// Every change outside an exclusive hold takes one for itself. The Windows
// registry keeps its own consistency per call; holds do nothing there.
class RegStoreHold {
 public:
  RegStoreHold() = default;
  ~RegStoreHold();
  RegStoreHold(const RegStoreHold&) = delete;
  RegStoreHold& operator=(const RegStoreHold&) = delete;

  bool held() const { return held_; }

 private:
  friend os_error reg_hold_store(RegHoldMode mode, uint32_t wait_ms, RegStoreHold* hold);
  bool held_ = false;
};

// Takes a hold, waiting up to `wait_ms` for other programs' holds to end;
// kTimeout when they did not. `hold` must not be held already.
os_error reg_hold_store(RegHoldMode mode, uint32_t wait_ms, RegStoreHold* hold);

// A value whose type is known: below `root`, in the keys that `key`
// matches (each part a name or "*" for any one name; case ignored), the
// value `value` (or every value, for "*") must be of `type`.
struct RegTypeRule {
  RegHandle root;
  std::string key;
  std::string value;
  uint32_t type;
};

// Reads the store as a whole and lists, as "line N: what" in line order,
// every line it cannot read, every section and value given a second time
// (the later one counts) and every value of a type that `rules` forbids;
// `where` names the store (the registry file on POSIX). On Windows the
// system keeps the registry, so nothing is ever listed there. An error
// only when the store cannot be read at all; a missing file is an empty
// registry.
os_error reg_check_store(const std::vector<RegTypeRule>& rules, std::string* where,
                         std::vector<std::string>* problems);

}  // namespace platform
