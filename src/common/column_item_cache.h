// Item ids of the values last met in each column of a data file, so that
// most fields find their item without building and looking up the key
// "attribute=value": a column holds few distinct values in nearly every data
// set. Each column has a few slots, chosen by a hash of the value; a value
// that meets another in its slot takes the slot over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a slot holds before a value takes it; any other number may be cached.
constexpr int32_t kNoCachedItem = INT32_MIN;

struct ColumnItemCache {
  struct Slot {
    std::string value;
    int32_t item = kNoCachedItem;
  };
  std::vector<Slot> slots;  // kColumnSlots per column
};

constexpr size_t kColumnSlots = 16;

// The slot of `value` in `column`, made room for.
inline ColumnItemCache::Slot& column_slot(ColumnItemCache& cache, size_t column,
                                          std::string_view value) {
  if (cache.slots.size() <= column * kColumnSlots) cache.slots.resize((column + 1) * kColumnSlots);
  // FNV-1a: values are short, and a poor spread only costs a lookup more.
  uint32_t hash = 2166136261u;
  for (const char byte : value) hash = (hash ^ static_cast<unsigned char>(byte)) * 16777619u;
  return cache.slots[column * kColumnSlots + (hash ^ hash >> 16) % kColumnSlots];
}

// The item cached for `value` in `column`, or kNoCachedItem.
inline int32_t cached_item(ColumnItemCache& cache, size_t column, std::string_view value) {
  const ColumnItemCache::Slot& slot = column_slot(cache, column, value);
  return slot.item != kNoCachedItem && slot.value == value ? slot.item : kNoCachedItem;
}

inline void cache_item(ColumnItemCache& cache, size_t column, std::string_view value,
                       int32_t item) {
  ColumnItemCache::Slot& slot = column_slot(cache, column, value);
  slot.value.assign(value);
  slot.item = item;
}
