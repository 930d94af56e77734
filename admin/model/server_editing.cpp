#include "admin/model/server_editing.h"

#include <limits>
#include <utility>
#include <variant>

#include "admin/model/messages.h"
#include "base/text.h"

namespace brisvane::admin {
namespace {

void Refuse(Why why, const std::string& text) {
  if (why) *why = text;
}

std::optional<uint32_t> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(v);
}

constexpr const char* kPriorityNames[] = {"low", "medium", "high", "critical"};

// The stored number for an entry in `unit`, or nullopt with the reason.
std::optional<uint32_t> ParseInUnit(FieldUnit unit, std::string_view text, Why why) {
  if (unit == FieldUnit::kFlag) {
    for (const char* on : {"1", "yes", "on", "true"})
      if (EqualsIgnoreCase(text, on)) return 1u;
    for (const char* off : {"0", "no", "off", "false"})
      if (EqualsIgnoreCase(text, off)) return 0u;
    Refuse(why, "must be 0 or 1");
    return std::nullopt;
  }
  if (unit == FieldUnit::kPriority) {
    for (uint32_t i = 0; i < 4; ++i)
      if (EqualsIgnoreCase(text, kPriorityNames[i])) return i;
  }
  std::optional<uint32_t> n = ParseNumber(text);
  if (!n) {
    Refuse(why, unit == FieldUnit::kPriority ? "must be low, medium, high, critical or 0-3"
                                             : "must be a number");
    return std::nullopt;
  }
  switch (unit) {
    case FieldUnit::kSeconds:
      if (auto ms = StoredFromSeconds(*n)) return ms;
      Refuse(why, "too many seconds");
      return std::nullopt;
    case FieldUnit::kMinutes:
      if (auto ms = StoredFromMinutes(*n)) return ms;
      Refuse(why, "too many minutes");
      return std::nullopt;
    case FieldUnit::kPriority:
      if (*n <= 3) return n;
      Refuse(why, "must be low, medium, high, critical or 0-3");
      return std::nullopt;
    case FieldUnit::kChoice3:
      if (*n <= 2) return n;
      Refuse(why, "must be 0, 1 or 2");
      return std::nullopt;
    default:
      return n;
  }
}

std::string ShowNumber(FieldUnit unit, uint32_t v) {
  switch (unit) {
    case FieldUnit::kSeconds: return std::to_string(ShownSeconds(v));
    case FieldUnit::kMinutes: return std::to_string(ShownMinutes(v));
    case FieldUnit::kPriority: return v <= 3 ? kPriorityNames[v] : std::to_string(v);
    default: return std::to_string(v);
  }
}

template <class Record>
std::string ShowAny(const Record& r, const SettingField<Record>& f) {
  FieldUnit unit = UnitOf(f.name);
  return std::visit(
      [&](auto member) -> std::string {
        const auto& v = r.*member;
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          if (unit == FieldUnit::kSecret) return v.empty() ? "(empty)" : "(set)";
          return v;
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "1" : "0";
        } else {
          return ShowNumber(unit, v);
        }
      },
      f.member);
}

template <class Record>
bool SetAny(Record* r, const SettingField<Record>& f, std::string_view text, Why why) {
  FieldUnit unit = UnitOf(f.name);
  return std::visit(
      [&](auto member) -> bool {
        auto& v = r->*member;
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          v = std::string(text);
          return true;
        } else if constexpr (std::is_same_v<T, bool>) {
          auto n = ParseInUnit(FieldUnit::kFlag, text, why);
          if (!n) return false;
          v = *n != 0;
          return true;
        } else {
          auto n = ParseInUnit(unit, text, why);
          if (!n) return false;
          v = *n;
          return true;
        }
      },
      f.member);
}

template <class Record>
const SettingField<Record>* FindField(std::span<const SettingField<Record>> rows,
                                      std::string_view name) {
  for (const auto& f : rows)
    if (IsEditable(f) && EqualsIgnoreCase(f.name, name)) return &f;
  return nullptr;
}

}  // namespace

std::string ServerLabel(const ServerSettings& s, size_t pos) {
  if (pos >= s.virtual_servers.size()) return {};
  std::string label = s.virtual_servers[pos].site_address;
  if (pos == 0) label += " [default]";
  return label;
}

std::optional<size_t> FindServer(const ServerSettings& s, std::string_view name) {
  for (size_t i = 0; i < s.virtual_servers.size(); ++i)
    if (s.virtual_servers[i].site_address == name) return i;
  return std::nullopt;
}

bool CopyServer(ServerSettings* s, size_t from, const std::string& name) {
  if (name.empty() || from >= s->virtual_servers.size()) return false;
  VirtualServerConfig copy = s->virtual_servers[from];
  copy.site_address = name;
  s->virtual_servers.push_back(std::move(copy));
  return true;
}

bool DeleteServer(ServerSettings* s, size_t pos, Why why) {
  if (pos == 0) {
    Refuse(why, kLastVirtualServer);
    return false;
  }
  if (pos >= s->virtual_servers.size()) return false;
  s->virtual_servers.erase(s->virtual_servers.begin() + static_cast<std::ptrdiff_t>(pos));
  return true;
}

bool MakeDefaultServer(ServerSettings* s, size_t pos) {
  auto& list = s->virtual_servers;
  if (pos >= list.size()) return false;
  VirtualServerConfig moved = std::move(list[pos]);
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(pos));
  list.insert(list.begin(), std::move(moved));
  return true;
}

bool AddPair(NamePairList* list, const std::string& first, const std::string& second, Why why) {
  if (first.empty() || second.empty()) {
    Refuse(why, kBlankFields);
    return false;
  }
  list->push_back({first, second});
  return true;
}

bool ReplacePair(NamePairList* list, size_t pos, const std::string& first,
                 const std::string& second) {
  if (pos >= list->size()) return false;
  (*list)[pos] = {first, second};
  return true;
}

bool DeletePair(NamePairList* list, size_t pos) {
  if (pos >= list->size()) return false;
  list->erase(list->begin() + static_cast<std::ptrdiff_t>(pos));
  return true;
}

FieldUnit UnitOf(std::string_view name) {
  struct Row {
    const char* name;
    FieldUnit unit;
  };
  static constexpr Row kUnits[] = {
      {"Port", FieldUnit::kNumber},           {"SendTimeOut", FieldUnit::kSeconds},
      {"RecvTimeOut", FieldUnit::kSeconds},   {"KeepAlive", FieldUnit::kSeconds},
      {"CGITimeOut", FieldUnit::kSeconds},    {"PriorityLevel", FieldUnit::kPriority},
      {"NumThreads", FieldUnit::kNumber},     {"BouncePort", FieldUnit::kNumber},
      {"DynamicRefresh", FieldUnit::kMinutes}, {"DynamicPassword", FieldUnit::kSecret},
      {"MasterPassword", FieldUnit::kSecret}, {"SecurityType", FieldUnit::kChoice3},
  };
  for (const Row& r : kUnits)
    if (EqualsIgnoreCase(r.name, name)) return r.unit;
  return FieldUnit::kText;  // numbers and flags without a row take their member's type
}

uint32_t ShownSeconds(uint32_t ms) { return ms / 1000; }
uint32_t ShownMinutes(uint32_t ms) { return ms / 60000; }

std::optional<uint32_t> StoredFromSeconds(uint32_t seconds) {
  if (seconds > std::numeric_limits<uint32_t>::max() / 1000) return std::nullopt;
  return seconds * 1000;
}

std::optional<uint32_t> StoredFromMinutes(uint32_t minutes) {
  if (minutes > std::numeric_limits<uint32_t>::max() / 60000) return std::nullopt;
  return minutes * 60000;
}

const SettingField<ServerSettings>* FindGlobalField(std::string_view name) {
  return FindField(GlobalSettingFields(), name);
}

const SettingField<VirtualServerConfig>* FindServerField(std::string_view name) {
  return FindField(VirtualServerFields(), name);
}

std::string ShowField(const ServerSettings& s, const SettingField<ServerSettings>& f) {
  return ShowAny(s, f);
}
std::string ShowField(const VirtualServerConfig& vs, const SettingField<VirtualServerConfig>& f) {
  return ShowAny(vs, f);
}

bool SetField(ServerSettings* s, const SettingField<ServerSettings>& f, std::string_view text,
              Why why) {
  return SetAny(s, f, text, why);
}
bool SetField(VirtualServerConfig* vs, const SettingField<VirtualServerConfig>& f,
              std::string_view text, Why why) {
  return SetAny(vs, f, text, why);
}

bool OpenToEveryone(const VirtualServerConfig& vs) {
  return vs.security_type == 1 && vs.master_user.empty();
}

}  // namespace brisvane::admin
