// The most recent log lines, shared between the engine threads that append
// them (through the log hook) and the window that shows them. Every read
// hands out a copy made under the lock, so an append that wraps the ring
// and replaces a slot never frees text a reader still holds.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace brisvane {

class LogRing {
 public:
  static constexpr int kSlots = 256;

  // Stores a copy of `line` in the next slot; after slot 255 the ring has
  // wrapped and the next line replaces slot 0. A null line is ignored.
  void Append(const char* line);

  // The line at `index`: with `newest_first`, index 0 is the most recent
  // line; otherwise index 0 is the oldest one still held. Indexes outside
  // 0..255, or beyond the stored lines of a ring that has not wrapped, give
  // none.
  std::optional<std::string> Read(int index, bool newest_first) const;

  // Whether a line arrived since the last call; clears the flag.
  bool TakeChanged();

  // Forgets every line.
  void Clear();

  // The stored lines, newest first, each followed by "\r\n", all read
  // under one lock.
  std::string NewestFirstText() const;

  // The log hook given to the engine: `user` is the ring's address. A null
  // line or ring is ignored.
  static void Hook(const char* line, uintptr_t user);

 private:
  // The slot holding `index`, or -1; the caller holds the lock.
  int SlotOf(int index, bool newest_first) const;

  mutable std::mutex mutex_;
  std::array<std::string, kSlots> slots_;
  int next_ = 0;
  bool wrapped_ = false;
  bool changed_ = false;
};

}  // namespace brisvane
