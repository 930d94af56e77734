// Profiles through the system's private-profile functions. Each write
// rewrites the file (the system caches on some releases); Flush asks the
// system to write out what it holds.
#include <windows.h>

#include <vector>

#include "platform/profile.h"

namespace platform {
namespace {

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

struct ProfileFile::Contents {};

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;

bool ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || key.empty() || has_line_break(section) || has_line_break(key) ||
      has_line_break(value)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::string s(section), k(key), v(value);
  return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), path_.c_str()) != 0;
}

std::string ProfileFile::Read(std::string_view section, std::string_view key, std::string_view fallback,
                              size_t capacity) const {
  if (capacity == 0) return {};
  const std::string s(section), k(key), f(fallback);
  std::vector<char> buf(capacity);
  const DWORD n = GetPrivateProfileStringA(s.c_str(), k.c_str(), f.c_str(), buf.data(),
                                           static_cast<DWORD>(capacity), path_.c_str());
  return std::string(buf.data(), n);
}

bool ProfileFile::Flush() {
  // The system answers FALSE to a flush whatever came of it.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path_.c_str());
  return true;
}

}  // namespace platform
