// Every registry value of a profile as one row: where it lives, what it is
// called, which member holds it and who reads and writes it. Load and save
// walk these rows, so a value name is spelt once; the configuration
// module's fields use the same rows. Defaults are the members' own
// initial values (see ServerSettings and ApplyVirtualServerDefaults).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "config/server_settings.h"
#include "platform/registry.h"

namespace brisvane {

// Who reads and writes a value.
enum class SettingUse : uint8_t {
  kBoth,              // loaded and saved by every program
  kConfigModuleOnly,  // the configuration module's own value
  kReadOnly,          // read by both, never written
};

// How a number or flag is read: only a REG_DWORD value, or any value's
// first four raw bytes.
enum class SettingRead : uint8_t { kDword, kRawBytes, kTextKeptWhenMissing };

template <class Record>
struct SettingField {
  const char* section;  // subkey of the record's key; nullptr: that key itself
  const char* name;
  std::variant<uint32_t Record::*, bool Record::*, std::string Record::*> member;
  SettingUse use = SettingUse::kBoth;
  SettingRead read = SettingRead::kDword;
};

// A list kept as the values of one subkey.
template <class Record>
struct SettingList {
  const char* subkey;
  NamePairList Record::*member;
  bool data_first;  // value data is the row's first field (the type map)
  bool trim;        // trailing "/" off names, trailing separators off paths
};

std::span<const SettingField<ServerSettings>> GlobalSettingFields();
std::span<const SettingList<ServerSettings>> GlobalSettingLists();
std::span<const SettingField<VirtualServerConfig>> VirtualServerFields();
std::span<const SettingList<VirtualServerConfig>> VirtualServerLists();

// The type each value of the table and each list entry must have, in every
// profile and virtual server: for checking a registry written by hand.
std::vector<platform::RegTypeRule> SettingTypeRules();

// True when `use` lets the program of `flavor` load or save the value.
bool LoadsSetting(SettingUse use, SettingsFlavor flavor);
bool SavesSetting(SettingUse use, SettingsFlavor flavor);

}  // namespace brisvane
