#include <windows.h>

#include <vector>

#include "platform/registry.h"

namespace platform {

// HKEY_* are casts and not constant expressions; the predefined values in
// registry.h are the same sign-extended numbers (checked by the tests).
static_assert(sizeof(HKEY) == sizeof(RegHandle));
static_assert(kRegSz == REG_SZ && kRegBinary == REG_BINARY && kRegDword == REG_DWORD &&
              kRegExpandSz == REG_EXPAND_SZ && kRegMultiSz == REG_MULTI_SZ);
static_assert(kKeyAccess == (KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY));

namespace {
HKEY hkey(RegHandle h) { return reinterpret_cast<HKEY>(h); }
}  // namespace

os_error reg_open_key(RegHandle parent, const std::string& subkey, bool create, RegHandle* out,
                      bool* created) {
  if (!out) return ERROR_INVALID_PARAMETER;
  HKEY result = nullptr;
  LONG rc;
  DWORD disposition = 0;
  if (create) {
    rc = RegCreateKeyExA(hkey(parent), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         kKeyAccess, nullptr, &result, &disposition);
  } else {
    rc = RegOpenKeyExA(hkey(parent), subkey.c_str(), 0, kKeyAccess, &result);
  }
  if (rc != ERROR_SUCCESS) return static_cast<os_error>(rc);
  *out = reinterpret_cast<RegHandle>(result);
  if (created) *created = create && disposition == REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

os_error reg_close_key(RegHandle key) { return static_cast<os_error>(RegCloseKey(hkey(key))); }

os_error reg_query_value(RegHandle key, const std::string& name, uint32_t* type, void* data,
                         uint32_t* size) {
  DWORD t = 0;
  DWORD n = size ? *size : 0;
  LONG rc = RegQueryValueExA(hkey(key), name.c_str(), nullptr, &t, static_cast<BYTE*>(data),
                             size ? &n : nullptr);
  if (type) *type = t;
  if (size) *size = n;
  return static_cast<os_error>(rc);
}

os_error reg_set_value(RegHandle key, const std::string& name, uint32_t type, const void* data,
                       uint32_t size) {
  return static_cast<os_error>(
      RegSetValueExA(hkey(key), name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
}

os_error reg_delete_value(RegHandle key, const std::string& name) {
  return static_cast<os_error>(RegDeleteValueA(hkey(key), name.c_str()));
}

os_error reg_query_info(RegHandle key, uint32_t* subkeys, uint32_t* values) {
  DWORD k = 0, v = 0;
  LONG rc = RegQueryInfoKeyA(hkey(key), nullptr, nullptr, nullptr, &k, nullptr, nullptr, &v,
                             nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) {
    if (subkeys) *subkeys = k;
    if (values) *values = v;
  }
  return static_cast<os_error>(rc);
}

os_error reg_enum_key(RegHandle key, uint32_t index, uint32_t max_name, std::string* name) {
  std::vector<char> buf(max_name + 1);
  DWORD n = max_name;
  LONG rc = RegEnumKeyExA(hkey(key), index, buf.data(), &n, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS && name) name->assign(buf.data(), n);
  return static_cast<os_error>(rc);
}

os_error reg_enum_value(RegHandle key, uint32_t index, uint32_t max_name, std::string* name,
                        uint32_t* type, void* data, uint32_t* size) {
  std::vector<char> buf(max_name + 1);
  DWORD n = max_name;
  DWORD t = 0;
  DWORD sz = size ? *size : 0;
  LONG rc = RegEnumValueA(hkey(key), index, buf.data(), &n, nullptr, &t, static_cast<BYTE*>(data),
                          size ? &sz : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (type) *type = t;
    if (size) *size = sz;
  }
  if (rc == ERROR_SUCCESS && name) name->assign(buf.data(), n);
  return static_cast<os_error>(rc);
}

os_error reg_delete_key(RegHandle key, const std::string& subkey) {
  return static_cast<os_error>(RegDeleteKeyA(hkey(key), subkey.c_str()));
}

os_error reg_save_key(RegHandle key, const std::string& file) {
  return static_cast<os_error>(RegSaveKeyA(hkey(key), file.c_str(), nullptr));
}

os_error reg_restore_key(RegHandle key, const std::string& file) {
  return static_cast<os_error>(RegRestoreKeyA(hkey(key), file.c_str(), REG_FORCE_RESTORE));
}

// The system registry serialises every call itself.
os_error reg_hold_store(RegHoldMode, uint32_t, RegStoreHold* hold) {
  if (!hold || hold->held_) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

RegStoreHold::~RegStoreHold() = default;

os_error reg_check_store(const std::vector<RegTypeRule>&, std::string* where,
                         std::vector<std::string>* problems) {
  if (where) *where = "the system registry";
  if (problems) problems->clear();
  return ERROR_SUCCESS;
}

}  // namespace platform
