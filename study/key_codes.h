// Codes of text keys, numbered from 0 in the order they are met. The keys
// lie one after another in one block and the table holds their hashes, so a
// lookup touches a slot and the key it may match: the reader looks up
// several keys for each of millions of rows, in tables of some 100,000.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class KeyCodes {
 public:
  KeyCodes();
  // The code of `key`; a new one when it is not there yet, with `added` set.
  int64_t code_of(std::string_view key, bool& added);
  // The code of `key`, or -1.
  int64_t find(std::string_view key) const;
  // Adds `key`, which is not there yet, with `code` (below 2^31; a key is
  // shorter than 4 GiB, as a line of the reader is).
  void add(std::string_view key, int64_t code);
  int64_t size() const { return size_; }
  void clear();

 private:
  struct Slot {
    uint64_t hash;
    uint64_t offset;  // of the key in keys_
    uint32_t length;
    int32_t code;  // -1: empty
  };
  size_t slot_of(std::string_view key, uint64_t hash) const;
  void grow();

  std::vector<Slot> slots_;
  std::string keys_;
  int64_t size_ = 0;
};
