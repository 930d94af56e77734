#include "host/log_ring.h"

namespace brisvane {

void LogRing::Append(const char* line) {
  if (!line) return;
  std::string copy(line);  // made before the lock: appends hold it briefly
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[next_].swap(copy);
  if (next_ == kSlots - 1) {
    wrapped_ = true;
    next_ = 0;
  } else {
    ++next_;
  }
  changed_ = true;
}

std::optional<std::string> LogRing::Read(int index, bool newest_first) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int slot = SlotOf(index, newest_first);
  if (slot < 0) return std::nullopt;
  return slots_[slot];
}

int LogRing::SlotOf(int index, bool newest_first) const {
  if (index < 0 || index >= kSlots) return -1;
  if (!wrapped_ && index >= next_) return -1;
  int slot;
  if (newest_first) {
    slot = next_ - index - 1;
    if (slot < 0) slot += kSlots;  // slot 255 precedes slot 0
  } else {
    slot = wrapped_ ? index + next_ : index;
    if (slot >= kSlots) slot -= kSlots;
  }
  return slot;
}

bool LogRing::TakeChanged() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool was = changed_;
  changed_ = false;
  return was;
}

void LogRing::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  int used = wrapped_ ? kSlots : next_;
  for (int i = 0; i < used; ++i) std::string().swap(slots_[i]);
  next_ = 0;
  wrapped_ = false;
}

std::string LogRing::NewestFirstText() const {
  // One lock for the whole text, so that it is one moment's picture.
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (int i = 0, slot; (slot = SlotOf(i, true)) >= 0; ++i) {
    text += slots_[slot];
    text += "\r\n";
  }
  return text;
}

void LogRing::Hook(const char* line, uintptr_t user) {
  if (!user) return;
  reinterpret_cast<LogRing*>(user)->Append(line);
}

}  // namespace brisvane
