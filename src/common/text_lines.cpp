// Line reading for every text reader of the system.
#include "common/text_lines.h"

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
