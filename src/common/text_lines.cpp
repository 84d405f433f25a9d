// Line reading for every text reader of the system, and line writing.
#include "common/text_lines.h"

#include <sys/types.h>

#include <cstdlib>

#include "common/file_open.h"

namespace {

// The buffer getline reads into, one per thread, kept between calls.
struct LineBuffer {
  char* data = nullptr;
  size_t size = 0;
  ~LineBuffer() { std::free(data); }
};

}  // namespace

bool read_text_line(std::FILE* file, std::string& line) {
  line.clear();
  if (file == nullptr) return false;
  thread_local LineBuffer buffer;
  const ssize_t read = getline(&buffer.data, &buffer.size, file);
  if (read <= 0) return false;
  line.assign(without_line_end(std::string_view(buffer.data, static_cast<size_t>(read))));
  return true;
}

bool for_each_line_block(std::FILE* file, size_t block_bytes,
                         const std::function<bool(std::string_view)>& on_block) {
  // A block ends with its last whole line; the rest starts the next.
  std::string block;
  for (bool more = true; more;) {
    const size_t kept = block.size();
    block.resize(kept + block_bytes);
    block.resize(kept + std::fread(block.data() + kept, 1, block_bytes, file));
    more = block.size() > kept;
    // The rest kept holds no line feed: only the bytes just read are looked at.
    const size_t last_line_end = std::string_view(block).substr(kept).rfind('\n');
    if (more && last_line_end == std::string_view::npos) continue;
    const size_t end = more ? kept + last_line_end + 1 : block.size();
    if (!on_block(std::string_view(block).substr(0, end))) return false;
    block.erase(0, end);
  }
  return true;
}

bool write_text_lines(const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* file = open_for_write(path, "w");
  if (file == nullptr) return false;
  for (const std::string& line : lines) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
  }
  return close_written(file, path, true);
}
