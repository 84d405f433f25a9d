// Reading and writing the miner's raw files: signed 32-bit little-endian
// integers only, whatever the byte order of the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Reads up to `count` integers in one block into `values` and returns how
// many were read completely; a file that ends early leaves the rest as it was.
size_t read_int32_le(std::FILE* file, int32_t* values, size_t count);

// Decodes `count` integers from the little-endian bytes at `bytes`.
void int32_from_le(const char* bytes, int32_t* values, size_t count);

// Writes `count` integers; returns false when the file did not take them all.
bool write_int32_le(std::FILE* file, const int32_t* values, size_t count);

// Writes `count` integers at byte `offset` of the file open as `descriptor`;
// returns false when it did not take them all. Threads may write apart
// places of one file at once.
bool write_int32_le_at(int descriptor, const int32_t* values, size_t count, int64_t offset);

// The size of an open file in bytes, with the file positioned at its start
// again; -1 when it cannot be found.
int64_t raw_file_size(std::FILE* file);
