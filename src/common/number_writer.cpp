// The buffered number writer.
#include "common/number_writer.h"

#include <charconv>

namespace {

constexpr size_t kBlock = 1 << 20;

void flush_if_full(NumberWriter& writer) {
  if (writer.buffer.size() >= kBlock) flush_numbers(writer);
}

}  // namespace

void put_int(NumberWriter& writer, int64_t value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  writer.buffer.append(text, result.ptr);
  flush_if_full(writer);
}

void put_real(NumberWriter& writer, double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  writer.buffer.append(text, result.ptr);
  flush_if_full(writer);
}

void put_text(NumberWriter& writer, std::string_view text) {
  writer.buffer.append(text);
  flush_if_full(writer);
}

bool flush_numbers(NumberWriter& writer) {
  if (!writer.buffer.empty() && std::fwrite(writer.buffer.data(), 1, writer.buffer.size(),
                                            writer.file) != writer.buffer.size())
    writer.ok = false;
  writer.buffer.clear();
  return writer.ok;
}
