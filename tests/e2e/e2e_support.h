// Helpers shared by the end-to-end tests: splitting console output and
// files into lines, and a varnel that runs a scripted miner.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

// This build's varnel placed in the working directory, so that a scripted
// "Brimel" there is the miner it runs (the miner beside varnel comes first);
// a hard link where the file system allows one, else a copy. Returns its path.
inline std::string varnel_beside_scripted_miner() {
  namespace fs = std::filesystem;
  const fs::path here = fs::current_path() / "varnel";
  const fs::path built = fs::path(VARNEL_BIN_DIR) / "varnel";
  if (fs::exists(here)) return here.string();
  std::error_code error;
  fs::create_hard_link(built, here, error);
  if (error) fs::copy_file(built, here, fs::copy_options::overwrite_existing);
  return here.string();
}

// The path of the scripted miner beside that varnel, as varnel names it.
inline std::string scripted_miner() {
  return (std::filesystem::current_path() / "Brimel").string();
}

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
