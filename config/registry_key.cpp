#include "config/registry_key.h"

#include <cstdio>
#include <cstring>

#include "platform/message_box.h"

namespace brisvane {

using platform::os_error;

RegistryKey::RegistryKey(platform::RegHandle parent, const std::string& subkey, bool create) {
  Open(parent, subkey, create);
}

RegistryKey::RegistryKey(const RegistryKey& parent, const std::string& subkey, bool create) {
  // A child of a key that failed to open fails to open in turn.
  if (parent.IsOpen()) {
    Open(parent.handle_, subkey, create);
  } else {
    name_ = subkey;
  }
}

RegistryKey::~RegistryKey() { Close(); }

void RegistryKey::Close() {
  if (open_) platform::reg_close_key(handle_);
  open_ = 0;
  handle_ = 0;
}

void RegistryKey::Open(platform::RegHandle parent, const std::string& subkey, bool create) {
  Close();
  name_ = subkey;
  bool made = false;
  os_error rc = platform::reg_open_key(parent, subkey, create, &handle_, &made);
  open_ = rc == platform::err::kSuccess;
  created_ = open_ && create && made;
  if (!open_) handle_ = 0;
}

bool RegistryKey::QueryDword(const char* value, uint32_t* out) const {
  if (!open_ || !out) return false;
  unsigned char buf[4];
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  if (platform::reg_query_value(handle_, value, &type, buf, &size) != platform::err::kSuccess)
    return false;
  std::memcpy(out, buf, size);
  return true;
}

bool RegistryKey::QueryString(const char* value, std::string* out) const {
  if (!open_ || !out) return false;
  char buf[kBufferSize];
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  if (platform::reg_query_value(handle_, value, &type, buf, &size) != platform::err::kSuccess)
    return false;
  out->assign(buf, strnlen(buf, size));
  return true;
}

uint32_t RegistryKey::GetDword(const char* value, uint32_t def) const {
  if (!open_) return def;
  uint32_t data = 0;
  uint32_t size = sizeof data;
  uint32_t type = 0;
  if (platform::reg_query_value(handle_, value, &type, &data, &size) != platform::err::kSuccess ||
      type != platform::kRegDword || size != sizeof data)
    return def;
  return data;
}

std::string RegistryKey::GetString(const char* value, const std::string& def) const {
  if (!open_) return def;
  char buf[kBufferSize];
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  if (platform::reg_query_value(handle_, value, &type, buf, &size) != platform::err::kSuccess)
    return def;
  if (type == platform::kRegSz) return std::string(buf, strnlen(buf, size));
  if (type == platform::kRegDword && size == 4) {
    int32_t v;
    std::memcpy(&v, buf, 4);
    return std::to_string(v);
  }
  return def;
}

bool RegistryKey::SetDword(const char* value, uint32_t data) {
  if (!open_) return false;
  return platform::reg_set_value(handle_, value, platform::kRegDword, &data, sizeof data) ==
         platform::err::kSuccess;
}

bool RegistryKey::SetBinary(const char* value, const void* four_bytes) {
  if (!open_ || !four_bytes) return false;
  return platform::reg_set_value(handle_, value, platform::kRegBinary, four_bytes, 4) ==
         platform::err::kSuccess;
}

bool RegistryKey::SetString(const char* value, const std::string& data) {
  if (!open_) return false;
  return platform::reg_set_value(handle_, value, platform::kRegSz, data.c_str(),
                                 static_cast<uint32_t>(data.size() + 1)) == platform::err::kSuccess;
}

uint32_t RegistryKey::SubKeyCount() const {
  uint32_t n = 0;
  if (!open_ || platform::reg_query_info(handle_, &n, nullptr) != platform::err::kSuccess) return 0;
  return n;
}

uint32_t RegistryKey::ValueCount() const {
  uint32_t n = 0;
  if (!open_ || platform::reg_query_info(handle_, nullptr, &n) != platform::err::kSuccess) return 0;
  return n;
}

bool RegistryKey::EnumSubKey(uint32_t index, std::string* name) const {
  if (!open_ || !name) return false;
  return platform::reg_enum_key(handle_, index, kBufferSize, name) == platform::err::kSuccess;
}

bool RegistryKey::EnumValue(uint32_t index, std::string* name, std::string* data) const {
  if (!open_ || !name || !data) return false;
  char buf[kBufferSize];
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  std::string n;
  if (platform::reg_enum_value(handle_, index, kBufferSize, &n, &type, buf, &size) !=
      platform::err::kSuccess)
    return false;
  *name = std::move(n);
  data->assign(buf, strnlen(buf, size));
  return true;
}

bool RegistryKey::EnumDwordValue(uint32_t index, std::string* name, uint32_t* data) const {
  if (!open_ || !name || !data) return false;
  unsigned char buf[4];
  uint32_t size = sizeof buf;
  uint32_t type = 0;
  std::string n;
  if (platform::reg_enum_value(handle_, index, kBufferSize, &n, &type, buf, &size) !=
      platform::err::kSuccess)
    return false;
  *name = std::move(n);
  std::memcpy(data, buf, size);
  return true;
}

bool RegistryKey::DeleteTree() {
  if (!open_) return false;
  uint32_t n = SubKeyCount();
  if (n == 0) return false;
  bool last_ok = false;
  for (uint32_t i = 0; i < n; ++i) {
    // Each pass deletes the first subkey, so the next one moves to index 0.
    std::string sub;
    os_error rc = platform::reg_enum_key(handle_, 0, kBufferSize, &sub);
    if (rc != platform::err::kSuccess) {
      char text[64];
      std::snprintf(text, sizeof text, "Error with key #%d; code %d", static_cast<int>(i),
                    static_cast<int>(rc));
      platform::notify_failure(text, "RegistryKey::DeleteTree()", platform::kMbOk);
      last_ok = false;
      continue;
    }
    last_ok = true;
    {
      RegistryKey child(*this, sub, true);
      child.DeleteTree();
    }
    if (platform::reg_delete_key(handle_, sub) != platform::err::kSuccess) return false;
  }
  return last_ok;
}

bool RegistryKey::DeleteSubKey(const char* subkey) {
  if (!open_) return false;
  return platform::reg_delete_key(handle_, subkey) == platform::err::kSuccess;
}

bool RegistryKey::DeleteValue(const char* value) {
  if (!open_) return false;
  return platform::reg_delete_value(handle_, value) == platform::err::kSuccess;
}

bool RegistryKey::HasValue(const char* value) const {
  if (!open_) return false;
  return platform::reg_query_value(handle_, value, nullptr, nullptr, nullptr) ==
         platform::err::kSuccess;
}

}  // namespace brisvane
