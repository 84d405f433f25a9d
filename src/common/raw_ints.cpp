// Raw little-endian integer blocks: on the usual little-endian machine a
// block is read and written as it stands; elsewhere the bytes are swapped.
#include "common/raw_ints.h"

#include <bit>
#include <cstring>
#include <vector>

#include "common/file_open.h"

namespace {

void swap_if_big_endian(int32_t* values, size_t count) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t i = 0; i < count; ++i) {
      const auto v = static_cast<uint32_t>(values[i]);
      values[i] = static_cast<int32_t>((v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) |
                                       (v << 24));
    }
  }
}

}  // namespace

size_t read_int32_le(std::FILE* file, int32_t* values, size_t count) {
  if (count == 0) return 0;
  const size_t got = std::fread(values, sizeof(int32_t), count, file);
  swap_if_big_endian(values, got);
  return got;
}

void int32_from_le(const char* bytes, int32_t* values, size_t count) {
  if (count == 0) return;  // an empty list may have no storage at all
  std::memcpy(values, bytes, count * sizeof(int32_t));
  swap_if_big_endian(values, count);
}

bool write_int32_le(std::FILE* file, const int32_t* values, size_t count) {
  if (count == 0) return true;
  if constexpr (std::endian::native == std::endian::big) {
    std::vector<int32_t> swapped(values, values + count);
    swap_if_big_endian(swapped.data(), count);
    return std::fwrite(swapped.data(), sizeof(int32_t), count, file) == count;
  } else {
    return std::fwrite(values, sizeof(int32_t), count, file) == count;
  }
}

bool write_int32_le_at(int descriptor, const int32_t* values, size_t count, int64_t offset) {
  std::vector<int32_t> swapped;
  if constexpr (std::endian::native == std::endian::big) {
    swapped.assign(values, values + count);
    swap_if_big_endian(swapped.data(), count);
    values = swapped.data();
  }
  return write_at(descriptor, reinterpret_cast<const char*>(values), count * sizeof(int32_t),
                  offset);
}

int64_t raw_file_size(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file);
  std::rewind(file);
  return size;
}
