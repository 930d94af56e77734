// Editing rules for the server list, the pair lists and the settings with
// their displayed units. No user interface: the dialogs and the command
// line both act through these functions, which report a refusal with the
// exact text the user is shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/server_settings.h"
#include "config/settings_table.h"

namespace brisvane::admin {

// Where a refusal's text goes; may be null.
using Why = std::string*;

// ---- Virtual servers. Position 0 is the default server. ----

// The list row of the server at `pos`: its name, " [default]" after the
// first one.
std::string ServerLabel(const ServerSettings& s, size_t pos);

// Position of the first server named `name` (exact), if any.
std::optional<size_t> FindServer(const ServerSettings& s, std::string_view name);

// Appends a copy of the server at `from` named `name`. Nothing happens,
// and false is returned, when the name is empty or `from` is out of range.
bool CopyServer(ServerSettings* s, size_t from, const std::string& name);
// A new server is a copy of the default one.
inline bool AddServer(ServerSettings* s, const std::string& name) { return CopyServer(s, 0, name); }

// Removes the server at `pos`; the default server cannot go.
bool DeleteServer(ServerSettings* s, size_t pos, Why why);

// Moves the server at `pos` to the front; the others keep their order.
bool MakeDefaultServer(ServerSettings* s, size_t pos);

// ---- Pair lists. ----

// Appends a row; both fields must be non-empty.
bool AddPair(NamePairList* list, const std::string& first, const std::string& second, Why why);
// Replaces the row at `pos` as it is given (the dialogs do not check it).
bool ReplacePair(NamePairList* list, size_t pos, const std::string& first,
                 const std::string& second);
// Removes the row at `pos`; later rows move up.
bool DeletePair(NamePairList* list, size_t pos);

// ---- Settings in the units they are edited in. ----

// How a stored value is shown and entered.
enum class FieldUnit {
  kText,
  kSecret,    // a password: entered, never shown
  kNumber,    // digits only
  kSeconds,   // stored in milliseconds
  kMinutes,   // stored in milliseconds
  kFlag,      // 0 or 1
  kPriority,  // low, medium, high, critical or 0-3
  kChoice3,   // 0, 1 or 2 (the security type)
};

FieldUnit UnitOf(std::string_view value_name);

// Stored milliseconds as shown, and an entry as stored. The entries are
// refused (nullopt) when the stored value would not fit 32 bits.
uint32_t ShownSeconds(uint32_t ms);
uint32_t ShownMinutes(uint32_t ms);
std::optional<uint32_t> StoredFromSeconds(uint32_t seconds);
std::optional<uint32_t> StoredFromMinutes(uint32_t minutes);

// The values a front end edits: every value the configuration module
// loads and saves. Read-only and engine-only values are left out.
template <class Record>
bool IsEditable(const SettingField<Record>& f) {
  return f.use == SettingUse::kBoth || f.use == SettingUse::kConfigModuleOnly;
}

// The row of an editable global or virtual-server value named `name`
// (ignoring case), or null.
const SettingField<ServerSettings>* FindGlobalField(std::string_view name);
const SettingField<VirtualServerConfig>* FindServerField(std::string_view name);

// A value as shown in its unit; a secret shows as "(set)" or "(empty)".
std::string ShowField(const ServerSettings& s, const SettingField<ServerSettings>& f);
std::string ShowField(const VirtualServerConfig& vs, const SettingField<VirtualServerConfig>& f);

// Stores an entry given in the value's unit, with the field's checks; on a
// refusal the record is unchanged.
bool SetField(ServerSettings* s, const SettingField<ServerSettings>& f, std::string_view text,
              Why why);
bool SetField(VirtualServerConfig* vs, const SettingField<VirtualServerConfig>& f,
              std::string_view text, Why why);

// True when the server lets anyone write: the master-key mode with no
// master user admits PUT and DELETE from every client.
bool OpenToEveryone(const VirtualServerConfig& vs);

}  // namespace brisvane::admin
