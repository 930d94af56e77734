// One open registry key. Every persistent setting of the system is read and
// written through this class. It never throws: reads fall back to the
// caller's default, everything else reports success as a bool, so loaders
// can substitute built-in defaults for whatever is missing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace brisvane {

class RegistryKey {
 public:
  // Names, value names and text data are read through buffers of this
  // size; longer data reads as missing.
  static constexpr uint32_t kBufferSize = 1024;

  RegistryKey(platform::RegHandle parent, const std::string& subkey, bool create);
  RegistryKey(const RegistryKey& parent, const std::string& subkey, bool create);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens `subkey` below `parent`, closing any key held before. With
  // `create` the key is created when missing, and WasCreated() tells so.
  void Open(platform::RegHandle parent, const std::string& subkey, bool create);

  bool IsOpen() const { return open_ != 0; }
  bool WasCreated() const { return created_ != 0; }
  const std::string& name() const { return name_; }
  platform::RegHandle handle() const { return handle_; }

  // Up to 4 raw bytes, whatever the value's type.
  bool QueryDword(const char* value, uint32_t* out) const;
  // Text up to its terminating zero; `out` is untouched on failure.
  bool QueryString(const char* value, std::string* out) const;
  // A REG_DWORD value, else `def`.
  uint32_t GetDword(const char* value, uint32_t def) const;
  // A REG_SZ value as read, a REG_DWORD as signed decimal text, else `def`.
  std::string GetString(const char* value, const std::string& def) const;

  bool SetDword(const char* value, uint32_t data);
  bool SetBinary(const char* value, const void* four_bytes);
  bool SetString(const char* value, const std::string& data);

  uint32_t SubKeyCount() const;
  uint32_t ValueCount() const;
  bool EnumSubKey(uint32_t index, std::string* name) const;
  // Data as text, whatever the value's type.
  bool EnumValue(uint32_t index, std::string* name, std::string* data) const;
  bool EnumDwordValue(uint32_t index, std::string* name, uint32_t* data) const;

  // Removes every key below this one, depth first; this key and its values
  // stay. False when there was nothing to remove or a deletion failed.
  bool DeleteTree();
  bool DeleteSubKey(const char* subkey);
  bool DeleteValue(const char* value);
  bool HasValue(const char* value) const;

 private:
  void Close();

  uint32_t created_ = 0;
  uint32_t open_ = 0;
  std::string name_;
  platform::RegHandle handle_ = 0;
};

}  // namespace brisvane
