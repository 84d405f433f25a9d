// Line reading for every text reader of the system, and line writing.
#include "common/text_lines.h"

#include "common/file_open.h"

bool read_text_line(std::FILE* file, std::string& line) {
  line.clear();
  if (file == nullptr) return false;
  int byte = getc_unlocked(file);
  if (byte == EOF) return false;
  while (byte != EOF && byte != '\n') {
    line.push_back(static_cast<char>(byte));
    byte = getc_unlocked(file);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
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
