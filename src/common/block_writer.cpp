// The block writer: blocks of text for places of the file, written by a
// thread of their own with one pwrite per place.
#include "common/block_writer.h"

#include <unistd.h>

#include <algorithm>

namespace {

constexpr size_t kBlock = size_t{512} << 10;

bool write_segment(std::FILE* file, const char* data, const BlockSegment& segment) {
  const char* bytes = data + segment.begin;
  size_t left = segment.length;
  int64_t at = segment.offset;
  while (left > 0) {
    const ssize_t wrote = pwrite(fileno(file), bytes, left, static_cast<off_t>(at));
    if (wrote <= 0) return false;
    bytes += wrote;
    left -= static_cast<size_t>(wrote);
    at += wrote;
  }
  return true;
}

// The writing thread: takes the blocks in the order they are handed off.
void write_blocks(std::stop_token stop, BlockWriter& writer) {
  for (int next = 0;; next ^= 1) {
    {
      std::unique_lock lock(writer.mutex);
      if (!writer.changed.wait(lock, stop, [&] { return writer.pending[next]; })) return;
    }
    const Block& block = writer.blocks[next];
    for (const BlockSegment& segment : block.segments) {
      if (writer.ok && !write_segment(writer.file, block.bytes.get(), segment)) writer.ok = false;
    }
    {
      std::lock_guard lock(writer.mutex);
      writer.pending[next] = false;
    }
    writer.changed.notify_all();
  }
}

void close_segment(BlockWriter& writer) {
  if (writer.used == writer.segment_begin) return;
  writer.blocks[writer.filling].segments.push_back(BlockSegment{
      writer.segment_offset, writer.segment_begin, writer.used - writer.segment_begin});
  writer.segment_offset = block_writer_offset(writer);
  writer.segment_begin = writer.used;
}

void wait_until_written(BlockWriter& writer, int block) {
  std::unique_lock lock(writer.mutex);
  writer.changed.wait(lock, [&] { return !writer.pending[block]; });
}

}  // namespace

void start_block_writer(BlockWriter& writer, std::FILE* file) {
  writer.file = file;
  for (Block& block : writer.blocks) {
    block.bytes.reset(new char[kBlock]);
    block.segments.clear();
  }
  writer.filling = 0;
  writer.data = writer.blocks[0].bytes.get();
  writer.capacity = kBlock;
  writer.used = 0;
  writer.segment_offset = 0;
  writer.segment_begin = 0;
  writer.ok = true;
  writer.thread = std::jthread(write_blocks, std::ref(writer));
}

void hand_off_block(BlockWriter& writer) {
  close_segment(writer);
  if (writer.blocks[writer.filling].segments.empty()) return;
  {
    std::lock_guard lock(writer.mutex);
    writer.pending[writer.filling] = true;
  }
  writer.changed.notify_all();
  writer.filling ^= 1;
  wait_until_written(writer, writer.filling);
  Block& block = writer.blocks[writer.filling];
  block.segments.clear();
  writer.data = block.bytes.get();
  writer.used = 0;
  writer.segment_begin = 0;
}

bool finish_block_writer(BlockWriter& writer) {
  hand_off_block(writer);
  wait_until_written(writer, 0);
  wait_until_written(writer, 1);
  writer.thread.request_stop();
  writer.thread.join();
  return writer.ok;
}

void move_to(BlockWriter& writer, int64_t offset) {
  if (block_writer_offset(writer) == offset) return;
  close_segment(writer);
  writer.segment_offset = offset;
}

namespace {

template <int Width>
char* fixed_width_run(char* out, std::span<const int32_t> values) {
  for (const int32_t value : values)
    out = fixed_width_text<Width>(out, static_cast<uint32_t>(value));
  return out;
}

// `values` of one width, 1 to 10 digits.
char* same_width_text(char* out, std::span<const int32_t> values, int width) {
  switch (width) {
    case 1:
      return fixed_width_run<1>(out, values);
    case 2:
      return fixed_width_run<2>(out, values);
    case 3:
      return fixed_width_run<3>(out, values);
    case 4:
      return fixed_width_run<4>(out, values);
    case 5:
      return fixed_width_run<5>(out, values);
    case 6:
      return fixed_width_run<6>(out, values);
    case 7:
      return fixed_width_run<7>(out, values);
    case 8:
      return fixed_width_run<8>(out, values);
    case 9:
      return fixed_width_run<9>(out, values);
    default:
      return fixed_width_run<10>(out, values);
  }
}

}  // namespace

void put_ints(BlockWriter& writer, std::span<const int32_t> values) {
  // A batch of numbers per check for room.
  constexpr size_t kBatch = 1024;
  while (!values.empty()) {
    const size_t count = std::min(values.size(), kBatch);
    char* out = reserve_text(writer, count * kIntTextRoom);
    for (const int32_t value : values.first(count)) out = int_text(out, value);
    commit_text(writer, out);
    values = values.subspan(count);
  }
}

void put_ascending_ints(BlockWriter& writer, std::span<const int32_t> values) {
  constexpr size_t kBatch = 1024;
  while (!values.empty()) {
    auto batch = values.first(std::min(values.size(), kBatch));
    values = values.subspan(batch.size());
    char* out = reserve_text(writer, batch.size() * kIntTextRoom);
    while (!batch.empty()) {
      const int width = decimal_width(batch.front());
      int64_t limit = 10;
      for (int w = 1; w < width; ++w) limit *= 10;
      const size_t run =
          static_cast<size_t>(std::lower_bound(batch.begin(), batch.end(), limit) - batch.begin());
      out = same_width_text(out, batch.first(run), width);
      batch = batch.subspan(run);
    }
    commit_text(writer, out);
  }
}

void put_real(BlockWriter& writer, double value) {
  char* out = reserve_text(writer, 32);
  char* end = std::to_chars(out, out + 31, value, std::chars_format::general, 6).ptr;
  *end = ' ';
  commit_text(writer, end + 1);
}

void put_text(BlockWriter& writer, std::string_view text) {
  while (!text.empty()) {
    const size_t room = std::min(text.size(), writer.capacity);
    char* out = reserve_text(writer, room);
    std::copy_n(text.data(), room, out);
    commit_text(writer, out + room);
    text.remove_prefix(room);
  }
}

int64_t ascending_text_bytes(std::span<const int32_t> values) {
  // Every value takes one digit and a blank, and one more digit for each
  // power of ten it reaches: counted by one search per power.
  int64_t bytes = 2 * static_cast<int64_t>(values.size());
  for (int64_t power = 10; power <= INT32_MAX; power *= 10) {
    const auto first = std::lower_bound(values.begin(), values.end(), power);
    if (first == values.end()) break;
    bytes += values.end() - first;
  }
  return bytes;
}
