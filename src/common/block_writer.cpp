// The block writer: one buffer of large blocks, each written with one pwrite
// per segment at the position it belongs to, by a second thread while the
// first fills the next block. One block is in flight at a time, so blocks
// reach the file in the order they were filled.
#include "common/block_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/file_open.h"

namespace {

constexpr size_t kBlock = size_t{512} << 10;

bool write_segments(int descriptor, const char* block, const std::vector<BlockSegment>& segments) {
  for (const BlockSegment& segment : segments)
    if (!write_at(descriptor, block + segment.begin, segment.end - segment.begin, segment.at))
      return false;
  return true;
}

}  // namespace

struct BlockFlusher {
  const int descriptor;
  std::unique_ptr<char[]> block;  // the block being written, else free for the next
  std::vector<BlockSegment> segments;
  bool busy = false;  // a block is handed over and not written yet
  bool stop = false;
  bool ok = true;  // false once a block could not be written
  std::mutex mutex;
  std::condition_variable changed;
  std::thread thread;

  BlockFlusher(int file_descriptor, size_t capacity)
      : descriptor(file_descriptor), block(new char[capacity]), thread([this] { run(); }) {}

  ~BlockFlusher() {
    {
      const std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    thread.join();
  }

  void run() {
    std::unique_lock lock(mutex);
    while (true) {
      changed.wait(lock, [this] { return busy || stop; });
      if (!busy) return;
      lock.unlock();
      const bool wrote = write_segments(descriptor, block.get(), segments);
      lock.lock();
      ok = ok && wrote;
      busy = false;
      changed.notify_all();
    }
  }

  // Waits until no block is in flight; the lock is held on return.
  std::unique_lock<std::mutex> wait_idle() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return !busy; });
    return lock;
  }
};

void start_block_writer(BlockWriter& writer, std::FILE* file) {
  writer.flusher.reset();
  writer.file = file;
  writer.buffer.reset(new char[kBlock]);
  writer.capacity = kBlock;
  writer.used = 0;
  writer.segments.clear();
  writer.segment_begin = 0;
  writer.position = 0;
  writer.ok = true;
}

namespace {

void end_segment(BlockWriter& writer) {
  if (writer.used > writer.segment_begin)
    writer.segments.push_back(
        BlockSegment{writer.position + static_cast<int64_t>(writer.segment_begin),
                     writer.segment_begin, writer.used});
  writer.segment_begin = writer.used;
}

// An empty block whose first byte goes where the next byte would have gone.
void empty_block(BlockWriter& writer) {
  writer.segments.clear();
  writer.position += static_cast<int64_t>(writer.used);
  writer.used = 0;
  writer.segment_begin = 0;
}

// Writes the block in this thread.
void write_block_now(BlockWriter& writer) {
  end_segment(writer);
  writer.ok =
      writer.ok && write_segments(fileno(writer.file), writer.buffer.get(), writer.segments);
  empty_block(writer);
}

}  // namespace

void send_block(BlockWriter& writer) {
  end_segment(writer);
  if (writer.segments.empty()) return;
  if (writer.flusher == nullptr) {
    try {
      writer.flusher = std::make_shared<BlockFlusher>(fileno(writer.file), writer.capacity);
    } catch (const std::system_error&) {
      write_block_now(writer);  // no thread to be had
      return;
    }
  }
  BlockFlusher& flusher = *writer.flusher;
  {
    const std::unique_lock lock = flusher.wait_idle();
    writer.ok = writer.ok && flusher.ok;
    if (writer.ok) {
      std::swap(flusher.block, writer.buffer);
      std::swap(flusher.segments, writer.segments);
      flusher.busy = true;
    }
  }
  flusher.changed.notify_all();
  empty_block(writer);
}

bool flush_block(BlockWriter& writer) {
  if (writer.flusher == nullptr) {
    write_block_now(writer);
    return writer.ok;
  }
  send_block(writer);
  const std::unique_lock lock = writer.flusher->wait_idle();
  writer.ok = writer.ok && writer.flusher->ok;
  return writer.ok;
}

void move_to(BlockWriter& writer, int64_t offset) {
  if (block_writer_offset(writer) == offset) return;
  end_segment(writer);
  writer.position = offset - static_cast<int64_t>(writer.used);
}

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

namespace {

template <int Width>
char* fixed_width_run(char* out, std::span<const int32_t> values) {
  if constexpr (Width < 3) {
    for (const int32_t value : values)
      out = fixed_width_text<Width>(out, static_cast<uint32_t>(value));
  } else {
    // Close ascending numbers mostly differ in their last two digits only:
    // the others are copied from the number just written.
    uint32_t hundreds = UINT32_MAX;
    for (const int32_t value : values) {
      const auto v = static_cast<uint32_t>(value);
      if (v / 100 == hundreds) {
        std::memcpy(out, out - (Width + 1), Width - 2);
        std::memcpy(out + Width - 2, kDigitPairs + 2 * (v % 100), 2);
        out[Width] = ' ';
        out += Width + 1;
      } else {
        out = fixed_width_text<Width>(out, v);
        hundreds = v / 100;
      }
    }
  }
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

void put_ascending_ints_padded(BlockWriter& writer, std::span<const int32_t> values, size_t count) {
  const size_t taken = std::min(values.size(), count);
  put_ascending_ints(writer, values.first(taken));
  constexpr std::string_view kZeros = "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ";
  size_t zeros = count - taken;
  for (; zeros > 16; zeros -= 16) put_text(writer, kZeros);
  put_text(writer, kZeros.substr(0, 2 * zeros));
}

int64_t ascending_padded_text_bytes(std::span<const int32_t> values, size_t count) {
  const size_t taken = std::min(values.size(), count);
  return ascending_text_bytes(values.first(taken)) + 2 * static_cast<int64_t>(count - taken);
}
