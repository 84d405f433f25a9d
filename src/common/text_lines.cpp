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
  size_t length = static_cast<size_t>(read);
  if (buffer.data[length - 1] == '\n') --length;
  if (length > 0 && buffer.data[length - 1] == '\r') --length;
  line.assign(buffer.data, length);
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
