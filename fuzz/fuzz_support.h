// Fuzz support: every target runs in its own scratch directory with the
// readers' console lines silenced, and splits one input into several files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Moves into a fresh temporary directory and sends standard output to
// /dev/null, once per process.
inline void enter_fuzz_directory() {
  static const bool done = [] {
    char pattern[] = "/tmp/varnel-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::abort();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return true;
  }();
  (void)done;
}

// The pieces of `data` between separator lines "@@@\n"; always `count`
// pieces, the missing ones empty.
inline std::vector<std::string> split_fuzz_input(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> pieces;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view separator = "@@@\n";
  while (pieces.size() + 1 < count) {
    const size_t at = rest.find(separator);
    if (at == std::string_view::npos) break;
    pieces.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + separator.size());
  }
  pieces.emplace_back(rest);
  pieces.resize(count);
  return pieces;
}

inline void write_fuzz_file(const std::string& path, std::string_view content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}
