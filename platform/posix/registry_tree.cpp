#include "platform/posix/registry_tree.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace platform::posix {
namespace {

constexpr uint32_t kSz = 1;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string upper(std::string s) {
  for (char& c : s) c = fold(c);
  return s;
}

// Case-insensitive order of names, the order in which subkeys enumerate.
bool name_less(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(fold(a[i]));
    unsigned char y = static_cast<unsigned char>(fold(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

}  // namespace

const char* const kRootNames[5] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                   "HKEY_CURRENT_CONFIG"};

bool names_equal(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

std::vector<std::string> split_key_path(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

void add_roots(RegKey* top) {
  for (const char* r : kRootNames) top->add_subkey(r);
}

RegKey* RegKey::find_subkey(const std::string& n) const {
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), n,
                             [](const std::unique_ptr<RegKey>& k, const std::string& v) {
                               return name_less(k->name, v);
                             });
  if (it != subkeys.end() && names_equal((*it)->name, n)) return it->get();
  return nullptr;
}

RegKey* RegKey::add_subkey(const std::string& n) {
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), n,
                             [](const std::unique_ptr<RegKey>& k, const std::string& v) {
                               return name_less(k->name, v);
                             });
  if (it != subkeys.end() && names_equal((*it)->name, n)) return it->get();
  auto key = std::make_unique<RegKey>();
  key->name = n;
  return subkeys.insert(it, std::move(key))->get();
}

bool RegKey::remove_subkey(const std::string& n) {
  for (auto it = subkeys.begin(); it != subkeys.end(); ++it) {
    if (names_equal((*it)->name, n)) {
      subkeys.erase(it);
      return true;
    }
  }
  return false;
}

RegValue* RegKey::find_value(const std::string& n) {
  for (auto& v : values)
    if (names_equal(v.name, n)) return &v;
  return nullptr;
}

void RegKey::set_value(const std::string& n, uint32_t type, std::string data) {
  if (RegValue* v = find_value(n)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  values.push_back(RegValue{n, type, std::move(data)});
}

bool RegKey::remove_value(const std::string& n) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (names_equal(it->name, n)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

void RegKey::clear() {
  subkeys.clear();
  values.clear();
}

void RegKey::assign_contents(const RegKey& other) {
  values = other.values;
  subkeys.clear();
  for (const auto& sub : other.subkeys) {
    auto copy = std::make_unique<RegKey>();
    copy->name = sub->name;
    copy->assign_contents(*sub);
    subkeys.push_back(std::move(copy));
  }
}

// ---- reading ----------------------------------------------------------

namespace {

// UTF-16LE files (what regedit writes on Windows) are narrowed to 8 bits;
// characters above 255 become '?'.
std::string to_narrow(const std::string& text) {
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    std::string out;
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
      unsigned v = static_cast<unsigned char>(text[i]) |
                   (static_cast<unsigned>(static_cast<unsigned char>(text[i + 1])) << 8);
      out.push_back(v < 256 ? static_cast<char>(v) : '?');
    }
    return out;
  }
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);
  return text;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "00,1f, 2a" -> bytes; false on anything else.
bool parse_hex_bytes(const std::string& s, std::string* out) {
  out->clear();
  size_t i = 0;
  while (true) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i == s.size()) return out->empty();  // only "hex:" with no bytes
    int hi = hex_digit(s[i]);
    int lo = i + 1 < s.size() ? hex_digit(s[i + 1]) : -1;
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

// Reads a quoted text starting at s[i] == '"'; on success `i` is past the
// closing quote.
bool parse_quoted(const std::string& s, size_t* i, std::string* out) {
  out->clear();
  size_t p = *i + 1;
  while (p < s.size()) {
    char c = s[p];
    if (c == '\\' && p + 1 < s.size()) {
      out->push_back(s[p + 1]);
      p += 2;
      continue;
    }
    if (c == '"') {
      *i = p + 1;
      return true;
    }
    out->push_back(c);
    ++p;
  }
  return false;
}

// Parses the text after "=": false when it is not a value we can read.
// `remove` is set for "-" (a deletion).
bool parse_data(const std::string& raw, uint32_t* type, std::string* data, bool* remove) {
  std::string s = trim(raw);
  *remove = false;
  if (s == "-") {
    *remove = true;
    return true;
  }
  if (!s.empty() && s[0] == '"') {
    size_t i = 0;
    if (!parse_quoted(s, &i, data)) return false;
    if (!trim(s.substr(i)).empty()) return false;
    data->push_back('\0');
    *type = kSz;
    return true;
  }
  auto starts = [&](const char* p) {
    size_t n = std::char_traits<char>::length(p);
    return s.size() >= n && names_equal(s.substr(0, n), p);
  };
  if (starts("dword:")) {
    std::string digits = trim(s.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
      int d = hex_digit(c);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    data->assign(4, '\0');
    for (int b = 0; b < 4; ++b) (*data)[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    *type = kDword;
    return true;
  }
  if (starts("hex:")) {
    *type = kBinary;
    return parse_hex_bytes(s.substr(4), data);
  }
  if (starts("hex(")) {
    size_t close = s.find("):");
    if (close == std::string::npos || close == 4) return false;
    uint32_t t = 0;
    for (size_t i = 4; i < close; ++i) {
      int d = hex_digit(s[i]);
      if (d < 0 || i - 4 >= 8) return false;
      t = t * 16 + static_cast<uint32_t>(d);
    }
    *type = t;
    return parse_hex_bytes(s.substr(close + 2), data);
  }
  return false;
}

// True for a value line whose data is written in hex ("name"=hex...).
bool is_hex_value_line(const std::string& t) {
  size_t i = 0;
  std::string name;
  if (t.empty()) return false;
  if (t[0] == '@') {
    i = 1;
  } else if (t[0] != '"' || !parse_quoted(t, &i, &name)) {
    return false;
  }
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  if (i >= t.size() || t[i] != '=') return false;
  ++i;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  return t.size() - i >= 3 && names_equal(t.substr(i, 3), "hex");
}

// Joins continuation lines (a line ending in a backslash continues a value
// written in hex) and drops line ends.
std::vector<std::pair<int, std::string>> logical_lines(const std::string& text) {
  std::vector<std::pair<int, std::string>> lines;
  int number = 0;
  size_t pos = 0;
  std::string pending;
  int pending_line = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (pending.empty()) {
      pending_line = number;
      pending = line;
    } else {
      pending += trim(line);
    }
    // Only hex data continues; a quoted text ending in a backslash has it
    // escaped.
    std::string t = trim(pending);
    if (is_hex_value_line(t) && t.back() == '\\') {
      pending = t.substr(0, t.size() - 1);
      continue;
    }
    lines.emplace_back(pending_line, pending);
    pending.clear();
  }
  if (!pending.empty()) lines.emplace_back(pending_line, pending);
  return lines;
}

RegKey* resolve_section(RegKey* top, const std::vector<std::string>& parts, bool create) {
  if (parts.empty()) return nullptr;
  RegKey* root = top->find_subkey(parts[0]);
  if (!root) return nullptr;
  RegKey* k = root;
  for (size_t i = 1; i < parts.size() && k; ++i)
    k = create ? k->add_subkey(parts[i]) : k->find_subkey(parts[i]);
  return k;
}

}  // namespace

ParseResult parse_reg_text(const std::string& raw, RegKey* top) {
  ParseResult result;
  std::string text = to_narrow(raw);
  RegKey* current = nullptr;
  std::vector<std::string> current_parts;
  bool seen_header = false;
  bool skipping = false;  // inside a section we could not place
  auto problem = [&](int line, const std::string& what) {
    result.problems.push_back("line " + std::to_string(line) + ": " + what);
  };
  // First lines of the sections and values seen, by folded path: a second
  // one is legal in the format but hides the first, which a person editing
  // the file by hand rarely means.
  std::map<std::string, int> section_lines;
  std::map<std::string, int> value_lines;
  std::string section_id;
  std::string section_path;
  auto repeat = [&](int line, int first, const std::string& what, const char* effect) {
    result.repeats.push_back("line " + std::to_string(line) + ": " + what + " again (before at line " +
                             std::to_string(first) + "); " + effect);
  };
  for (const auto& [number, line_raw] : logical_lines(text)) {
    std::string line = trim(line_raw);
    if (line.empty() || line[0] == ';') continue;
    if (!seen_header) {
      seen_header = true;
      if (line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4") continue;
      problem(number, "missing header \"Windows Registry Editor Version 5.00\"");
    }
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos) {
        problem(number, "section without closing bracket");
        current = nullptr;
        skipping = true;
        continue;
      }
      std::string path = line.substr(1, close - 1);
      bool remove = !path.empty() && path[0] == '-';
      if (remove) path.erase(0, 1);
      std::vector<std::string> parts = split_key_path(path);
      if (parts.empty() || !top->find_subkey(parts[0])) {
        problem(number, "unknown root key in [" + path + "]");
        current = nullptr;
        skipping = true;
        continue;
      }
      std::string id;
      for (const auto& p : parts) id += upper(p) + "\\";
      if (remove) {
        // What is deleted cannot be repeated by what comes after it.
        for (auto* lines : {&section_lines, &value_lines}) {
          for (auto it = lines->lower_bound(id); it != lines->end() && it->first.rfind(id, 0) == 0;)
            it = lines->erase(it);
        }
        if (parts.size() > 1) {
          std::vector<std::string> parent(parts.begin(), parts.end() - 1);
          if (RegKey* p = resolve_section(top, parent, false)) p->remove_subkey(parts.back());
        }
        current = nullptr;
        skipping = true;
        continue;
      }
      if (result.first_section.empty()) result.first_section = parts;
      current = resolve_section(top, parts, true);
      skipping = false;
      auto [at, fresh] = section_lines.emplace(id, number);
      if (!fresh) {
        repeat(number, at->second, "section [" + path + "]",
               "its values join the earlier ones, and a value given in both takes the later data");
      }
      section_id = id;
      section_path = path;
      current_parts = parts;
      continue;
    }
    if (line[0] == '"' || line[0] == '@') {
      if (skipping) continue;
      if (!current) {
        problem(number, "value outside a section");
        continue;
      }
      std::string name;
      size_t i = 0;
      if (line[0] == '@') {
        i = 1;
      } else if (!parse_quoted(line, &i, &name)) {
        problem(number, "unterminated value name");
        continue;
      }
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i >= line.size() || line[i] != '=') {
        problem(number, "value without \"=\"");
        continue;
      }
      uint32_t type = 0;
      std::string data;
      bool remove = false;
      if (!parse_data(line.substr(i + 1), &type, &data, &remove)) {
        problem(number, "unreadable data for value \"" + name + "\"");
        continue;
      }
      const std::string value_id = section_id + "\n" + upper(name);
      if (remove) {
        current->remove_value(name);
        value_lines.erase(value_id);
        continue;
      }
      current->set_value(name, type, std::move(data));
      result.values.push_back({current_parts, name, type, number});
      auto [at, fresh] = value_lines.emplace(value_id, number);
      if (!fresh) {
        repeat(number, at->second,
               (name.empty() ? std::string("default value @") : "value \"" + name + "\"") +
                   " in [" + section_path + "]",
               "the earlier data is lost");
        at->second = number;
      }
      continue;
    }
    problem(number, "unrecognised line");
  }
  return result;
}

// ---- writing ----------------------------------------------------------

namespace {

std::string quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// A text shows as "..." only when reading it back gives the same bytes.
bool plain_text(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    char c = data[i];
    if (c == '\0' || c == '\r' || c == '\n') return false;
  }
  return true;
}

void append_hex(std::string* out, size_t prefix_len, const std::string& data) {
  static const char kDigits[] = "0123456789abcdef";
  size_t col = prefix_len;
  for (size_t i = 0; i < data.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(data[i]);
    if (i > 0) {
      out->push_back(',');
      ++col;
      if (col >= 76) {
        out->append("\\\r\n  ");
        col = 2;
      }
    }
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 15]);
    col += 2;
  }
}

void append_value(std::string* out, const RegValue& v) {
  std::string line = v.name.empty() ? "@" : quote(v.name);
  line.push_back('=');
  if (v.type == kSz && plain_text(v.data)) {
    line += quote(v.data.substr(0, v.data.size() - 1));
  } else if (v.type == kDword && v.data.size() == 4) {
    uint32_t x = 0;
    for (int b = 3; b >= 0; --b) x = (x << 8) | static_cast<unsigned char>(v.data[b]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", x);
    line += buf;
  } else {
    char buf[24];
    if (v.type == kBinary)
      std::snprintf(buf, sizeof buf, "hex:");
    else
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    line += buf;
    append_hex(&line, line.size(), v.data);
  }
  out->append(line);
  out->append("\r\n");
}

void append_key(std::string* out, const RegKey& key, const std::string& path, bool always) {
  if (always || !key.values.empty()) {
    out->append("[" + path + "]\r\n");
    for (const auto& v : key.values) append_value(out, v);
    out->append("\r\n");
  }
  for (const auto& sub : key.subkeys) append_key(out, *sub, path + "\\" + sub->name, true);
}

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

}  // namespace

std::string format_reg_text(const RegKey& top) {
  std::string out = kHeader;
  for (const auto& root : top.subkeys) append_key(&out, *root, root->name, false);
  return out;
}

std::string format_reg_subtree(const RegKey& key, const std::string& path) {
  std::string out = kHeader;
  append_key(&out, key, path, true);
  return out;
}

}  // namespace platform::posix
