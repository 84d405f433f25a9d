// Buffered writing of large text outputs: integers and reals formatted with
// std::to_chars straight into one large buffer, written in large blocks at a
// file position of the writer's choosing, so lines whose places are known in
// advance can be written in any order. The text is the same as printf's "%d"
// and "%g" would give, at a fraction of the cost. Once a first block is full,
// blocks are written by a thread of their own while the next one is filled:
// on outputs of gigabytes the kernel's copy of the bytes costs about as much
// as making them.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

// A run of a block's bytes, begin .. end, that goes to file offset `at`.
struct BlockSegment {
  int64_t at = 0;
  size_t begin = 0;
  size_t end = 0;
};

// The thread that writes full blocks, and the block it is writing.
struct BlockFlusher;

struct BlockWriter {
  std::FILE* file = nullptr;  // owned by the caller; written through its descriptor only
  // The block, allocated by start_block_writer and left uninitialised, so
  // that a small output touches only the memory it uses.
  std::unique_ptr<char[]> buffer;
  size_t capacity = 0;
  size_t used = 0;  // bytes of the block not written yet
  // A move to another place in the file ends a segment of the block and
  // starts the next; the block is written once it is full.
  std::vector<BlockSegment> segments;  // the ended ones
  size_t segment_begin = 0;
  int64_t position = 0;  // file offset of buffer[0] as the current segment places it
  bool ok = true;        // false once a block could not be written
  // Started with the first full block; its thread ends with the writer.
  std::shared_ptr<BlockFlusher> flusher;
};

// Room for one integer of 64 bits as text, with a blank after it.
constexpr size_t kIntTextRoom = 21;

// Prepares `writer` to write `file` from its start.
void start_block_writer(BlockWriter& writer, std::FILE* file);

// Writes what the block holds and waits for every block handed to the
// writing thread; returns writer.ok. Call it before the file is closed.
bool flush_block(BlockWriter& writer);

// Hands what the block holds to the writing thread and goes on with an empty
// block; a failed write shows in writer.ok at the next hand-over or flush.
void send_block(BlockWriter& writer);

// The file offset the next byte goes to.
inline int64_t block_writer_offset(const BlockWriter& writer) {
  return writer.position + static_cast<int64_t>(writer.used);
}

// Continues writing at byte `offset` of the file.
void move_to(BlockWriter& writer, int64_t offset);

// At least `room` free bytes at the end of the block (room must not exceed
// the block's size); write there and hand the end to commit_text.
inline char* reserve_text(BlockWriter& writer, size_t room) {
  if (writer.capacity - writer.used < room) send_block(writer);
  return writer.buffer.get() + writer.used;
}

inline void commit_text(BlockWriter& writer, const char* end) {
  writer.used = static_cast<size_t>(end - writer.buffer.get());
}

// `value` and a blank, at `out`, which has kIntTextRoom bytes of room.
inline char* int_text(char* out, int64_t value) {
  char* end = std::to_chars(out, out + kIntTextRoom - 1, value).ptr;
  *end = ' ';
  return end + 1;
}

inline void put_int(BlockWriter& writer, int64_t value) {
  commit_text(writer, int_text(reserve_text(writer, kIntTextRoom), value));
}

// Each value of `values` followed by a blank.
void put_ints(BlockWriter& writer, std::span<const int32_t> values);

// The same for values that ascend from 0 or more: each run of values of one
// width is written digit pair by digit pair at that fixed width.
void put_ascending_ints(BlockWriter& writer, std::span<const int32_t> values);

// "00" to "99", two characters each.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The digits of `value` (below 10^Width, and at least 10^(Width-1) when
// Width > 1) and a blank.
template <int Width>
inline char* fixed_width_text(char* out, uint32_t value) {
  char* end = out + Width;
  *end = ' ';
  char* digit = end;
  for (int i = 0; i < Width / 2; ++i) {
    digit -= 2;
    digit[0] = kDigitPairs[2 * (value % 100)];
    digit[1] = kDigitPairs[2 * (value % 100) + 1];
    value /= 100;
  }
  if constexpr (Width % 2 == 1) *--digit = static_cast<char>('0' + value);
  return end + 1;
}

// The number of decimal digits of `value` >= 0.
inline int decimal_width(int64_t value) {
  int width = 1;
  for (; value >= 10; value /= 10) ++width;
  return width;
}

// As "%g" and a blank: six significant digits, the shorter of fixed and scientific.
void put_real(BlockWriter& writer, double value);

void put_text(BlockWriter& writer, std::string_view text);

// The bytes of `value` as text with its blank after it, as int_text writes it.
inline int64_t int_text_bytes(int64_t value) {
  int64_t bytes = value < 0 ? 3 : 2;
  for (uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
       v >= 10; v /= 10)
    ++bytes;
  return bytes;
}

// The bytes of the non-negative ascending `values` as put_ints writes them.
int64_t ascending_text_bytes(std::span<const int32_t> values);

// Exactly `count` numbers, each followed by a blank: the first `count` of the
// non-negative ascending `values`, made up with zeros where it holds fewer.
// A list that should hold `count` values but comes from damaged files keeps
// its line's length so.
void put_ascending_ints_padded(BlockWriter& writer, std::span<const int32_t> values, size_t count);
// The bytes put_ascending_ints_padded writes.
int64_t ascending_padded_text_bytes(std::span<const int32_t> values, size_t count);
