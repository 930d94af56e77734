// Profiles kept in memory and written whole by Flush, in the layout the
// Windows profile functions give a file: "[Section]\r\n", then one
// "Key=value\r\n" per key, and an empty line between sections. Names are
// found through hash indexes, so a profile of many keys costs one pass to
// write rather than a rewrite per key.
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/profile.h"
#include "platform/scoped_handle.h"

namespace platform {
namespace {

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Blanks around a name are not part of it, as the Windows reader trims them.
std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

struct ProfileFile::Contents {
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
    std::unordered_map<std::string, size_t> key_index;  // folded name -> position
  };
  std::vector<Section> sections;
  std::unordered_map<std::string, size_t> section_index;

  const Section* find(std::string_view section) const {
    auto it = section_index.find(folded(trimmed(section)));
    return it == section_index.end() ? nullptr : &sections[it->second];
  }
};

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)) {}

ProfileFile::~ProfileFile() = default;

bool ProfileFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  section = trimmed(section);
  key = trimmed(key);
  if (section.empty() || key.empty() || has_line_break(section) || has_line_break(key) ||
      has_line_break(value)) {
    set_last_error(err::kInvalidParameter);
    return false;
  }
  if (!contents_) contents_ = std::make_unique<Contents>();
  auto [sit, new_section] = contents_->section_index.emplace(folded(section), contents_->sections.size());
  if (new_section) contents_->sections.push_back({std::string(section), {}, {}});
  Contents::Section& s = contents_->sections[sit->second];
  auto [kit, new_key] = s.key_index.emplace(folded(key), s.keys.size());
  if (new_key)
    s.keys.emplace_back(std::string(key), std::string(value));
  else
    s.keys[kit->second].second.assign(value);
  return true;
}

std::string ProfileFile::Read(std::string_view section, std::string_view key, std::string_view fallback,
                              size_t capacity) const {
  if (capacity == 0) return {};
  std::string_view found = fallback;
  if (const Contents::Section* s = contents_ ? contents_->find(section) : nullptr) {
    auto it = s->key_index.find(folded(trimmed(key)));
    if (it != s->key_index.end()) found = s->keys[it->second].second;
  }
  return std::string(found.substr(0, capacity - 1));
}

bool ProfileFile::Flush() {
  if (!contents_) return true;
  std::string text;
  for (const Contents::Section& s : contents_->sections) {
    if (!text.empty()) text += "\r\n";
    text += "[" + s.name + "]\r\n";
    for (const auto& [k, v] : s.keys) text += k + "=" + v + "\r\n";
  }
  ScopedFile f(file_open(path_, kGenericWrite, 0, kCreateAlways, 0));
  if (!f) return false;
  // A disk file is written whole or the write fails.
  return file_write(f.get(), text.data(), text.size()) >= 0;
}

}  // namespace platform
