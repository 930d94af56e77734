// In-memory form of the POSIX registry store and its text file format
// (the registry export format, "Windows Registry Editor Version 5.00").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::posix {

struct RegValue {
  std::string name;  // empty for the default value ("@")
  uint32_t type = 0;
  std::string data;  // raw bytes; REG_SZ data includes its terminating zero
};

// A key keeps its spelling but compares without regard to case. Subkeys
// stay sorted by their case-folded names; values stay in creation order.
struct RegKey {
  std::string name;
  std::vector<std::unique_ptr<RegKey>> subkeys;
  std::vector<RegValue> values;

  RegKey* find_subkey(const std::string& n) const;
  RegKey* add_subkey(const std::string& n);  // returns the existing one if any
  bool remove_subkey(const std::string& n);
  RegValue* find_value(const std::string& n);
  void set_value(const std::string& n, uint32_t type, std::string data);
  bool remove_value(const std::string& n);
  void clear();
  // Deep copy of the subkeys and values of `other` into this key.
  void assign_contents(const RegKey& other);
};

bool names_equal(const std::string& a, const std::string& b);

// Splits "A\\B\\C" into its parts; empty parts are dropped.
std::vector<std::string> split_key_path(const std::string& path);

// The five root keys, by their full names. `top` holds them as subkeys.
extern const char* const kRootNames[5];
void add_roots(RegKey* top);

struct ParseResult {
  // The first section's path (used to place a saved tree on restore).
  std::vector<std::string> first_section;
  // One entry "line N: what" for every line that could not be read.
  std::vector<std::string> problems;
  // One entry "line N: what" for every readable line whose effect is
  // hidden by a later one: a section or value given twice.
  std::vector<std::string> repeats;
  // Every value line that was read: its key, name, type and line.
  struct ValueLine {
    std::vector<std::string> key;
    std::string name;
    uint32_t type = 0;
    int line = 0;
  };
  std::vector<ValueLine> values;
};

// Reads a registry export file into `top` (whose subkeys are the roots).
// Accepts LF or CRLF, blank lines, comments, sections in any order,
// continuation lines, deletions ("[-key]", "name"=-), REGEDIT4 and a
// UTF-8 or UTF-16LE byte-order mark.
ParseResult parse_reg_text(const std::string& text, RegKey* top);

// Writes every key below `top` (roots only when they hold values).
std::string format_reg_text(const RegKey& top);

// Writes `key` and its tree, with section names starting at `path`.
std::string format_reg_subtree(const RegKey& key, const std::string& path);

}  // namespace platform::posix
