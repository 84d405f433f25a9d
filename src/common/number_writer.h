// Buffered writing of the numbers of large text outputs: integers and reals
// formatted with std::to_chars into one buffer, written in large blocks. The
// text is the same as printf's "%d" and "%g" would give, at a fraction of
// the cost.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

struct NumberWriter {
  std::FILE* file = nullptr;  // owned by the caller
  std::string buffer;
  bool ok = true;  // false once a block could not be written
};

void put_int(NumberWriter& writer, int64_t value);
// As "%g": six significant digits, the shorter of fixed and scientific.
void put_real(NumberWriter& writer, double value);
void put_text(NumberWriter& writer, std::string_view text);
// Writes what the buffer holds; returns writer.ok.
bool flush_numbers(NumberWriter& writer);
