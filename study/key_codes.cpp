#include "key_codes.h"

#include <algorithm>
#include <functional>

namespace {
constexpr size_t kFirstSlots = 1024;  // a power of two
}

KeyCodes::KeyCodes() : slots_(kFirstSlots, Slot{0, 0, 0, -1}) {}

size_t KeyCodes::slot_of(std::string_view key, uint64_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.code < 0) return at;
    if (slot.hash == hash && slot.length == key.size() &&
        std::string_view(keys_.data() + slot.offset, slot.length) == key)
      return at;
  }
}

int64_t KeyCodes::find(std::string_view key) const {
  return slots_[slot_of(key, std::hash<std::string_view>{}(key))].code;
}

int64_t KeyCodes::code_of(std::string_view key, bool& added) {
  int64_t code = find(key);
  added = code < 0;
  if (added) add(key, code = size_);
  return code;
}

void KeyCodes::add(std::string_view key, int64_t code) {
  // At most half the slots in use: runs of taken slots stay short.
  if (2 * (size_ + 1) > static_cast<int64_t>(slots_.size())) grow();
  uint64_t hash = std::hash<std::string_view>{}(key);
  slots_[slot_of(key, hash)] =
      Slot{hash, keys_.size(), static_cast<uint32_t>(key.size()), static_cast<int32_t>(code)};
  keys_.append(key);
  ++size_;
}

void KeyCodes::grow() {
  std::vector<Slot> old(2 * slots_.size(), Slot{0, 0, 0, -1});
  old.swap(slots_);
  size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.code < 0) continue;
    size_t at = slot.hash & mask;
    while (slots_[at].code >= 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void KeyCodes::clear() {
  std::fill(slots_.begin(), slots_.end(), Slot{0, 0, 0, -1});
  keys_.clear();
  size_ = 0;
}
