// Reads an input file into lines, refusing files that are not text.
#include "input_text.h"

#include <cstdio>
#include <filesystem>

#include "common/text_lines.h"

bool read_input_lines(const std::string& path, std::vector<std::string>& lines,
                      std::string& error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    error = "cannot read " + path + ": it is a directory";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open file " + path + " for read";
    return false;
  }
  std::string line;
  bool ok = true;
  while (read_text_line(file, line)) {
    if (line.find('\0') != std::string::npos) {
      error = path + " line " + std::to_string(lines.size() + 1) +
              ": a zero byte; this is not a text file";
      ok = false;
      break;
    }
    lines.push_back(std::move(line));
  }
  if (ok && std::ferror(file)) {
    error = "cannot read file " + path;
    ok = false;
  }
  std::fclose(file);
  return ok;
}
