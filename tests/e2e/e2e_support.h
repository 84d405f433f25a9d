// Helpers shared by the end-to-end tests: splitting console output and
// files into lines.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// The lines of `text` without their line feeds; a last line without one
// still counts.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace e2e
